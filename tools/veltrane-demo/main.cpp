// veltrane-demo: the library end to end in one command. See --help for what
// it does; scripts/demo.sh builds and runs it.
#include <cstdio>
#include <string>

#include "demo_options.h"
#include "demo_runner.h"
#include "progress.h"

int main(int argc, char** argv) {
  vdemo::DemoOptions opts;
  const vpeer::CliOutcome parsed = vdemo::ParseDemoOptions(argc, argv, &opts);
  if (!parsed.Run()) return vpeer::FinishCommandLine("veltrane-demo", parsed);
  vdemo::Progress progress(stdout, vdemo::Progress::StdoutIsTerminal(), opts.quiet);
  vdemo::DemoRunner runner(opts, &progress);
  return runner.Run();
}
