#include "vkt/vkt_command.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "base/text_convert.h"
#include "vkt/kit_report.h"

namespace qorv::vkt {

bool Arguments::Has(const char* name) const {
  for (const auto& [option, value] : options) {
    if (option == name) return true;
  }
  return false;
}

std::vector<std::string> Arguments::Values(const char* name) const {
  std::vector<std::string> values;
  for (const auto& [option, value] : options) {
    if (option == name) values.push_back(value);
  }
  return values;
}

std::string ScanArguments(const std::vector<std::string>& args,
                          const std::vector<KnownOption>& known, Arguments* out) {
  bool operandsOnly = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (operandsOnly || arg.size() < 2 || arg[0] != '-') {
      out->operands.push_back(arg);
      continue;
    }
    if (arg == "--") {
      operandsOnly = true;
      continue;
    }
    const bool isLong = arg[1] == '-';
    const KnownOption* found = nullptr;
    std::string value;
    bool attached = false;
    for (const KnownOption& option : known) {
      const std::string name = option.name;
      if (arg == name) {
        found = &option;
      } else if (option.takesValue && isLong && arg.compare(0, name.size() + 1, name + "=") == 0) {
        found = &option;
        value = arg.substr(name.size() + 1);
        attached = true;
      } else if (option.takesValue && !isLong && name.size() == 2 && arg.compare(0, 2, name) == 0) {
        found = &option;
        value = arg.substr(2);
        attached = true;
      }
      if (found != nullptr) break;
    }
    if (found == nullptr) return "unknown option " + arg.substr(0, arg.find('='));
    if (!found->takesValue) {
      out->options.emplace_back(found->name, std::string());
      continue;
    }
    if (!attached) {
      if (i + 1 == args.size()) return std::string(found->name) + " needs a value";
      value = args[++i];
    }
    out->options.emplace_back(found->name, value);
  }
  return std::string();
}

bool WantsHelp(const std::vector<std::string>& args) {
  for (const std::string& arg : args) {
    if (arg == "--") return false;
    if (arg == "--help" || arg == "-h") return true;
  }
  return false;
}

namespace {
const char* commandOfUsage = nullptr;
}  // namespace

void SetCommandOfUsage(const char* command) { commandOfUsage = command; }

int Usage(const std::string& problem) {
  const std::string help =
      commandOfUsage != nullptr ? std::string("vkt ") + commandOfUsage + " --help" : "vkt --help";
  std::fprintf(stderr, "vkt: %s\nTry '%s'.\n", EscapeControls(problem).c_str(), help.c_str());
  return kUsage;
}

int Fail(const std::string& file, const std::string& problem) {
  std::fprintf(stderr, "vkt: %s: %s\n", EscapeControls(file).c_str(),
               EscapeControls(problem).c_str());
  return kFailed;
}

void Warn(const std::string& warning) {
  std::fprintf(stderr, "vkt: warning: %s\n", EscapeControls(warning).c_str());
}

bool ParseNumber(const std::string& text, long long min, long long max, long long* value) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  long long parsed = std::strtoll(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || parsed < min || parsed > max) return false;
  *value = parsed;
  return true;
}

Progress::Progress(const char* doing) : doing_(doing), shown_(::isatty(2) == 1) {}

void Progress::Finish() {
  if (drawn_) std::fputs("\r\033[K", stderr);
  drawn_ = false;
}

void Progress::Update(uint64_t done, uint64_t total) {
  if (!shown_ || total == 0) return;
  const auto now = std::chrono::steady_clock::now();
  if (now - start_ < std::chrono::seconds(1) || now - last_ < std::chrono::milliseconds(100)) {
    return;
  }
  last_ = now;
  drawn_ = true;
  std::fprintf(stderr, "\r%s %3d%% (%s of %s)\033[K", doing_, static_cast<int>(done * 100 / total),
               ReadableSize(done).c_str(), ReadableSize(total).c_str());
}

}  // namespace qorv::vkt
