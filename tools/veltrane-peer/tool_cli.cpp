#include "tool_cli.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace vpeer {

void ConfigureApp(CLI::App* app) {
  app->option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  app->get_formatter()->column_width(30);
}

CliOutcome ParseCommandLine(CLI::App* app, int argc, const char* const* argv) {
  try {
    app->parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    return CliOutcome{CliOutcome::kHelp, app->help()};
  } catch (const CLI::ParseError& e) {
    return CliOutcome::Refused(e.what());
  }
  return CliOutcome{};
}

int FinishCommandLine(const char* program, const CliOutcome& outcome) {
  if (outcome.kind == CliOutcome::kHelp) {
    std::fputs(outcome.text.c_str(), stdout);
    return 0;
  }
  std::fprintf(stderr, "%s: %s (see --help)\n", program, outcome.text.c_str());
  return 2;
}

bool ParseUnsigned(const std::string& text, uint64_t maxValue, uint64_t* out) {
  if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return false;
  errno = 0;
  const unsigned long long v = std::strtoull(text.c_str(), nullptr, 10);
  if (errno != 0 || v > maxValue) return false;
  *out = v;
  return true;
}

CLI::Validator Accepting(bool (*accepts)(const std::string&), const std::string& what) {
  return CLI::Validator(
      [accepts, what](std::string& text) {
        return accepts(text) ? std::string() : "'" + text + "' is not " + what;
      },
      "");
}

CLI::Validator DecimalUpTo(uint64_t maxValue) {
  return CLI::Validator(
      [maxValue](std::string& text) -> std::string {
        uint64_t v = 0;
        if (!ParseUnsigned(text, maxValue, &v)) {
          return "'" + text + "' is not a whole number from 0 to " + std::to_string(maxValue);
        }
        text = std::to_string(v);
        return std::string();
      },
      "");
}

CLI::Option* AddPercent(CLI::App* app, const std::string& name, double* value, const std::string& help) {
  const CLI::Validator percent(
      [](std::string& text) -> std::string {
        errno = 0;
        char* end = nullptr;
        const double v = std::strtod(text.c_str(), &end);
        const bool ok = !text.empty() && errno == 0 && *end == '\0' && v >= 0.0 && v <= 100.0;
        return ok ? std::string() : "'" + text + "' is not a percentage from 0 to 100";
      },
      "");
  return app->add_option(name, *value, help)->check(percent)->type_name("PCT")->capture_default_str();
}

CLI::Option* AddDelay(CLI::App* app, const std::string& name, uint32_t maxMs, uint32_t* ms, bool* random,
                      const std::string& help) {
  static const std::string kRand = "rand:";
  auto split = [](const std::string& text, bool* isRandom) {
    *isRandom = text.compare(0, kRand.size(), kRand) == 0;
    return *isRandom ? text.substr(kRand.size()) : text;
  };
  const CLI::Validator delay(
      [maxMs, split](std::string& text) -> std::string {
        bool isRandom = false;
        uint64_t v = 0;
        return ParseUnsigned(split(text, &isRandom), maxMs, &v)
                   ? std::string()
                   : "'" + text + "' is not MS or rand:MS with MS up to " + std::to_string(maxMs);
      },
      "");
  return app
      ->add_option_function<std::string>(
          name,
          [ms, random, split](const std::string& text) {
            uint64_t v = 0;
            ParseUnsigned(split(text, random), ~0ull, &v);
            *ms = static_cast<uint32_t>(v);
          },
          help)
      ->check(delay)
      ->type_name("MS|rand:MS");
}

}  // namespace vpeer
