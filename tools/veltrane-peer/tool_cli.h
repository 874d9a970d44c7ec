// What the tools' command lines have in common: one syntax (CLI11's, so
// "--name value" and "--name=value" both work and --help is generated), the
// value forms the peer, the demo and the soak run share, and one way of
// turning a parse into an exit status. A parse throws nothing: CLI11's
// exceptions end in ParseCommandLine.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include <CLI/CLI.hpp>

namespace vpeer {

// How a command line ended: run on, print the help, or refuse it.
struct CliOutcome {
  enum Kind { kRun, kHelp, kRefused };
  Kind kind = kRun;
  std::string text;  // kHelp: the generated help; kRefused: one line saying why

  bool Run() const { return kind == kRun; }
  static CliOutcome Refused(std::string why) { return CliOutcome{kRefused, std::move(why)}; }
};

// An App with the tools' common settings: a repeated single-value option
// takes its last value (so a script's default can be overridden by appending).
void ConfigureApp(CLI::App* app);

// Parses argv into the options bound to `app`.
CliOutcome ParseCommandLine(CLI::App* app, int argc, const char* const* argv);

// For a command line that does not run: prints the help (standard output,
// status 0) or "program: why (see --help)" (standard error, status 2) and
// returns the status main should exit with.
int FinishCommandLine(const char* program, const CliOutcome& outcome);

// Decimal digits only (no sign, no octal or hex), at most maxValue.
bool ParseUnsigned(const std::string& text, uint64_t maxValue, uint64_t* out);

// The option adders below show `what` (N, MS, ...) and the current value
// as default in the help.

// An unsigned option read as decimal digits, up to maxValue.
template <typename T>
CLI::Option* AddUnsigned(CLI::App* app, const std::string& name, const char* what, T* value,
                         uint64_t maxValue, const std::string& help);

// A percentage from 0 to 100.
CLI::Option* AddPercent(CLI::App* app, const std::string& name, double* value, const std::string& help);

// "MS" for a fixed delay, "rand:MS" for a random one up to MS (MS <= maxMs).
CLI::Option* AddDelay(CLI::App* app, const std::string& name, uint32_t maxMs, uint32_t* ms, bool* random,
                      const std::string& help);

// A check that refuses what `accepts` refuses, saying "'text' is not <what>".
CLI::Validator Accepting(bool (*accepts)(const std::string&), const std::string& what);

// Checks decimal digits up to maxValue and hands CLI11 the number without
// leading zeros, which it would otherwise read as octal.
CLI::Validator DecimalUpTo(uint64_t maxValue);

template <typename T>
CLI::Option* AddUnsigned(CLI::App* app, const std::string& name, const char* what, T* value,
                         uint64_t maxValue, const std::string& help) {
  return app->add_option(name, *value, help)
      ->transform(DecimalUpTo(maxValue))
      ->type_name(what)
      ->capture_default_str();
}

}  // namespace vpeer
