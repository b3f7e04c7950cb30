// What the kit tool's commands share: their exit statuses, the scanner that
// reads every command's options in any position, and the ways a command
// says what went wrong. The commands themselves are in a table in vkt.cc.
#ifndef QORV_VKT_VKT_COMMAND_H_
#define QORV_VKT_VKT_COMMAND_H_

#include <chrono>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace qorv::vkt {

inline constexpr int kOk = 0;
inline constexpr int kFailed = 1;
inline constexpr int kUsage = 2;

// The latest time a kit entry can hold, in seconds since 1970: the largest
// 100-nanosecond count since 1601 that fits in 63 bits.
inline constexpr long long kLatestEntrySeconds = INT64_MAX / 10000000 - 11644473600LL;

// An option a command knows: its name ("-o", "--level") and whether it
// takes a value.
struct KnownOption {
  const char* name;
  bool takesValue;
};

// A command's arguments once scanned: the options in the order given (an
// option given twice is there twice), then the operands.
struct Arguments {
  std::vector<std::pair<std::string, std::string>> options;
  std::vector<std::string> operands;

  bool Has(const char* name) const;
  // Every value of `name`, in order.
  std::vector<std::string> Values(const char* name) const;
};

// Reads `args` as GNU tools do: options anywhere among the operands, a
// value as "--name=VALUE", "--name VALUE", "-o VALUE" or "-oVALUE", and
// everything after "--" an operand ("-" alone is one too). Returns an empty
// string, or what is wrong ("unknown option --x", "-o needs a value").
std::string ScanArguments(const std::vector<std::string>& args,
                          const std::vector<KnownOption>& known, Arguments* out);
// Whether "--help" or "-h" comes before any "--".
bool WantsHelp(const std::vector<std::string>& args);

// "vkt: PROBLEM" and a pointer to --help on stderr ("vkt COMMAND --help"
// once SetCommandOfUsage() named the command); kUsage.
int Usage(const std::string& problem);
void SetCommandOfUsage(const char* command);
// "vkt: FILE: PROBLEM" on stderr; kFailed.
int Fail(const std::string& file, const std::string& problem);
// "vkt: warning: WARNING" on stderr.
void Warn(const std::string& warning);
// A whole number from `min` to `max`, all of `text`.
bool ParseNumber(const std::string& text, long long min, long long max, long long* value);

// "packing 42% (112.0 MiB of 266.6 MiB)" on the terminal, for work that
// takes more than a moment; nothing when standard error is not a terminal.
class Progress {
 public:
  explicit Progress(const char* doing);
  ~Progress() { Finish(); }
  // Clears the line, before what follows is printed.
  void Finish();
  void Update(uint64_t done, uint64_t total);

 private:
  const char* doing_;
  bool shown_;
  bool drawn_ = false;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  std::chrono::steady_clock::time_point last_;
};

// The commands kept in files of their own, and what their --help prints.
int Pack(const Arguments& args);
extern const char kPackHelp[];

}  // namespace qorv::vkt

#endif  // QORV_VKT_VKT_COMMAND_H_
