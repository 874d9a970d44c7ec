// veltrane-demo: the library end to end in one command. See DemoUsage() or
// --help for what it does; scripts/demo.sh builds and runs it.
#include <cstdio>
#include <string>

#include "demo_options.h"
#include "demo_runner.h"
#include "progress.h"

int main(int argc, char** argv) {
  vdemo::DemoOptions opts;
  std::string err;
  if (!vdemo::ParseDemoOptions(argc, argv, &opts, &err)) {
    std::fprintf(stderr, "veltrane-demo: %s (see --help)\n", err.c_str());
    return 2;
  }
  if (opts.help) {
    std::fputs(vdemo::DemoUsage().c_str(), stdout);
    return 0;
  }
  vdemo::Progress progress(stdout, vdemo::Progress::StdoutIsTerminal(), opts.quiet);
  vdemo::DemoRunner runner(opts, &progress);
  return runner.Run();
}
