// The log of one run of the installer, for whoever has to find out later
// what happened: a text file under $XDG_STATE_HOME/qorv/log/ (default
// ~/.local/state/qorv/log/), one line per event, each written to the file
// as it happens, so that a crash leaves the log up to that point. The last
// 20 logs are kept. Any thread; a process that never opens a log (the
// tests, the kit tool) writes nothing.
#ifndef QORV_COPY_RUN_LOG_H_
#define QORV_COPY_RUN_LOG_H_

#include <string>

namespace qorv {

inline constexpr int kKeptRunLogs = 20;

// The log directory, ending with "/"; empty when there is no home.
std::string RunLogDirectory();

// Opens this process's log (removing the oldest beyond the last 20) and
// writes its first lines: the program and its version, the command line.
// Returns the log's path; empty when it cannot be made (the run goes on).
std::string OpenRunLog(int argc, const char* const* argv);
// The open log's path, empty when none.
std::string RunLogPath();
// One line, with the seconds since the log was opened.
void LogLine(const std::string& line);
// Closes the log (tests).
void CloseRunLog();

}  // namespace qorv

#endif  // QORV_COPY_RUN_LOG_H_
