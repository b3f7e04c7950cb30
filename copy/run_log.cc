#include "copy/run_log.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <vector>

#include "base/text_convert.h"
#include "copy/manifest.h"
#include "fs/file_ops.h"
#include "fs/file_util.h"
#include "fs/trusted_path.h"

namespace qorv {

namespace {

struct Log {
  std::mutex mutex;
  ScopedFd fd;
  std::string path;
  std::chrono::steady_clock::time_point start;
};

Log& TheLog() {
  static Log* log = new Log();  // never destroyed: threads may log until the end
  return *log;
}

bool IsLogName(const std::string& name) {
  return name.size() > 4 && name.compare(name.size() - 4, 4, ".log") == 0;
}

}  // namespace

std::string RunLogDirectory() {
  std::string state = StateDirectory();
  return state.empty() ? state : state + "log/";
}

std::string OpenRunLog(int argc, const char* const* argv) {
  Log& log = TheLog();
  std::lock_guard<std::mutex> lock(log.mutex);
  const std::string directory = RunLogDirectory();
  std::string foreign;
  if (directory.empty() || !IsOwnPlace(directory, &foreign) || ShellMakeDirs(directory) != 0) {
    return std::string();
  }
  // The oldest go: names begin with the time, so sorting sorts by age.
  std::vector<std::string> names;
  if (ListNames(directory, &names)) {
    names.erase(std::remove_if(names.begin(), names.end(),
                               [](const std::string& n) { return !IsLogName(n); }),
                names.end());
    std::sort(names.begin(), names.end());
    for (size_t i = 0; i + kKeptRunLogs <= names.size(); ++i) RemoveFile(directory + names[i]);
  }
  // Named by the time to the millisecond, so that names sort by age.
  struct timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  struct tm utc;
  gmtime_r(&now.tv_sec, &utc);
  char stamp[48];
  size_t n = std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &utc);
  std::snprintf(stamp + n, sizeof stamp - n, ".%03ld", now.tv_nsec / 1000000);
  std::string path = directory + stamp + "-" + std::to_string(::getpid()) + ".log";
  log.fd = OpenFile(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (!log.fd.IsValid()) return std::string();
  log.path = path;
  log.start = std::chrono::steady_clock::now();
  char started[64];
  std::strftime(started, sizeof started, "%Y-%m-%dT%H:%M:%SZ", &utc);
  std::string head = std::string("qorv-setup ") + QORV_VERSION + ", started " + started +
                     ", process " + std::to_string(::getpid()) + "\ncommand line:";
  for (int i = 0; i < argc; ++i) head += std::string(" ") + (argv[i] != nullptr ? argv[i] : "");
  WriteFully(log.fd.Get(), head + "\n");
  return path;
}

std::string RunLogPath() {
  Log& log = TheLog();
  std::lock_guard<std::mutex> lock(log.mutex);
  return log.path;
}

void LogLine(const std::string& line) {
  Log& log = TheLog();
  std::lock_guard<std::mutex> lock(log.mutex);
  if (!log.fd.IsValid()) return;
  double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - log.start).count();
  char prefix[32];
  std::snprintf(prefix, sizeof prefix, "%9.3f ", seconds);
  // One write per line: what reached the file stays there whatever happens
  // to the process next.
  WriteFully(log.fd.Get(), prefix + EscapeControls(line) + "\n");
}

void CloseRunLog() {
  Log& log = TheLog();
  std::lock_guard<std::mutex> lock(log.mutex);
  // On disk before the program ends: a power cut a moment later keeps the
  // log's last lines, the outcome among them.
  if (log.fd.IsValid()) FlushData(log.fd.Get());
  log.fd.Close();
  log.path.clear();
}

}  // namespace qorv
