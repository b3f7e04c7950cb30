#include "copy/run_journal.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "base/text_convert.h"
#include "fs/file_ops.h"
#include "fs/sys_calls.h"

namespace qorv {

namespace {

constexpr char kFormat[] = "qorv-journal 1";
constexpr char kJournalName[] = "journal";
// The journal until its header is on disk and locked: a later start never
// mistakes a run that is still starting for a dead one.
constexpr char kNewJournalName[] = "journal.new";
constexpr char kBackupName[] = "files/";

bool WriteAll(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = Sys().write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

void AppendRecord(std::string* out, char kind, const std::string& bytes) {
  out->push_back(kind);
  out->push_back(' ');
  out->append(std::to_string(bytes.size()));
  out->push_back(':');
  out->append(bytes);
  out->push_back('\n');
}

WideString Wide(const std::string& s) { return toWide(NarrowString(s.c_str(), s.size())); }

// A path below the target as the journal gives it: relative, with no empty,
// "." or ".." component.
bool IsPlainRelative(const std::string& relative) {
  if (relative.empty() || relative[0] == '/') return false;
  size_t start = 0;
  while (start <= relative.size()) {
    size_t end = relative.find('/', start);
    if (end == std::string::npos) end = relative.size();
    std::string part = relative.substr(start, end - start);
    if (part.empty() || part == "." || part == "..") return false;
    start = end + 1;
  }
  return true;
}

bool IsPlainAbsolute(const std::string& path) {
  return path.size() > 1 && path[0] == '/' && IsPlainRelative(path.substr(1));
}

bool IsRunDirectoryName(const char* name) {
  if (std::strncmp(name, "kvins", 5) != 0 || name[5] == '\0') return false;
  for (const char* c = name + 5; *c != '\0'; ++c) {
    if (*c < '0' || *c > '9') return false;
  }
  return true;
}

// Copies an interrupted move across file systems left, beside the file and
// beside its backup.
void RemoveStagingCopies(const std::string& path, const std::string& backup) {
  for (const std::string& staging : {MoveStagingPath(path), MoveStagingPath(backup)}) {
    struct stat st;
    if (Sys().lstat(staging.c_str(), &st) == 0) ShellRemoveTree(Wide(staging));
  }
}

// Undoes one run from its records. True when every moved file is back.
// What the run wrote goes first, so that on a full disk the old files fit
// back in.
bool Undo(const std::string& runDirectory, const std::vector<JournalRecord>& records) {
  std::string target;
  for (const JournalRecord& record : records) {
    if (record.kind == 'T') target = record.path;
  }
  if (target.empty() || target[0] != '/' || target.back() != '/') return false;
  const std::string backupRoot = runDirectory + kBackupName;
  for (auto it = records.rbegin(); it != records.rend(); ++it) {
    struct stat st;
    if (it->kind == 'F' && IsPlainAbsolute(it->path) && Sys().lstat(it->path.c_str(), &st) == 0 &&
        !S_ISDIR(st.st_mode)) {
      Sys().unlink(it->path.c_str());
    }
  }
  // The backups to put back, newest first: the reverse of the order the run
  // made its changes in. Where one is safe in the backup tree, what the run
  // wrote in its place goes now.
  std::vector<std::pair<std::string, std::string>> moves;
  for (auto it = records.rbegin(); it != records.rend(); ++it) {
    if (it->kind != 'B') continue;
    const std::string& path = it->path;
    if (path.compare(0, target.size(), target) != 0 ||
        !IsPlainRelative(path.substr(target.size()))) {
      continue;  // not a path this run could have written
    }
    std::string backup = backupRoot + path.substr(target.size());
    RemoveStagingCopies(path, backup);
    struct stat st;
    if (Sys().lstat(backup.c_str(), &st) != 0) continue;  // never moved, or back already
    if (Sys().lstat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) Sys().unlink(path.c_str());
    moves.emplace_back(path, backup);
  }
  // Innermost first; a directory somebody else has put something into
  // since stays.
  for (auto it = records.rbegin(); it != records.rend(); ++it) {
    if (it->kind == 'D' && IsPlainAbsolute(it->path)) Sys().rmdir(it->path.c_str());
  }
  bool restored = true;
  for (const auto& [path, backup] : moves) {
    if (IsDirectoryPath(path) || ShellMove(Wide(backup), Wide(path)) != 0) restored = false;
  }
  return restored;
}

}  // namespace

bool RunJournal::Create(const std::string& runDirectory, const std::string& targetRoot) {
  Close();
  std::string fresh = runDirectory + kNewJournalName;
  fd_ = Sys().open(fresh.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd_ < 0) return false;
  // Held until Close(), and by the kernel only as long as this process
  // lives: a later start can tell a dead run from a running one. Blocking:
  // a start looking at the new journal holds it for a moment.
  while (::flock(fd_, LOCK_EX) != 0) {
    if (errno != EINTR) {
      Close();
      return false;
    }
  }
  queued_.clear();
  AppendRecord(&queued_, 'V', kFormat);
  AppendRecord(&queued_, 'P', std::to_string(::getpid()));
  AppendRecord(&queued_, 'T', targetRoot);
  // Named "journal" only once it is locked and its header is on disk; the
  // rename fails when a start took the new journal for a dead one's.
  if (!Flush() || Sys().rename(fresh.c_str(), (runDirectory + kJournalName).c_str()) != 0 ||
      !SyncDirectory(runDirectory) || !SyncDirectoryOf(runDirectory)) {
    Close();
    return false;
  }
  return true;
}

void RunJournal::Add(char kind, const std::string& path) { AppendRecord(&queued_, kind, path); }

bool RunJournal::Flush() {
  if (fd_ < 0) return false;
  bool ok = WriteAll(fd_, queued_) && Sys().fsync(fd_) == 0;
  queued_.clear();
  return ok;
}

bool RunJournal::Commit() {
  Add('C', std::string());
  return Flush();
}

void RunJournal::Close() {
  if (fd_ >= 0) Sys().close(fd_);
  fd_ = -1;
  queued_.clear();
}

std::vector<JournalRecord> ReadJournal(int fd) {
  std::string bytes;
  char buffer[65536];
  off_t offset = 0;
  for (;;) {
    ssize_t n = Sys().pread(fd, buffer, sizeof buffer, offset);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    bytes.append(buffer, static_cast<size_t>(n));
    offset += n;
  }
  std::vector<JournalRecord> records;
  size_t at = 0;
  while (at + 3 < bytes.size() && bytes[at + 1] == ' ') {
    char kind = bytes[at];
    size_t colon = bytes.find(':', at + 2);
    if (colon == std::string::npos || colon == at + 2 || colon - at > 22) break;
    size_t length = 0;
    bool digits = true;
    for (size_t i = at + 2; i < colon; ++i) {
      digits = digits && bytes[i] >= '0' && bytes[i] <= '9';
      length = length * 10 + static_cast<size_t>(bytes[i] - '0');
    }
    if (!digits || length > bytes.size() - colon - 1 || colon + 1 + length >= bytes.size() ||
        bytes[colon + 1 + length] != '\n') {
      break;
    }
    records.push_back({kind, bytes.substr(colon + 1, length)});
    at = colon + 2 + length;
  }
  return records;
}

void RemoveRunDirectory(const std::string& runDirectory) {
  ShellRemoveTree(Wide(runDirectory + kBackupName));
  Sys().unlink((runDirectory + kNewJournalName).c_str());
  Sys().unlink((runDirectory + kJournalName).c_str());
  Sys().rmdir(runDirectory.c_str());
}

std::vector<RecoveredRun> RecoverInterruptedRuns(const WideString& tempDirectory,
                                                 const CommittedAction& onCommitted) {
  std::vector<RecoveredRun> recovered;
  std::string temp = toNarrow(tempDirectory).c_str();
  if (temp.empty()) return recovered;
  if (temp.back() != '/') temp.push_back('/');
  DIR* dir = Sys().opendir(temp.c_str());
  if (dir == nullptr) return recovered;
  std::vector<std::string> names;
  while (struct dirent* entry = ::readdir(dir)) {
    if (IsRunDirectoryName(entry->d_name)) names.push_back(entry->d_name);
  }
  ::closedir(dir);
  std::sort(names.begin(), names.end());

  for (const std::string& name : names) {
    std::string runDirectory = temp + name + "/";
    struct stat st;
    if (Sys().lstat((temp + name).c_str(), &st) != 0 || !S_ISDIR(st.st_mode) ||
        st.st_uid != ::geteuid()) {
      continue;  // not ours to judge
    }
    int fd = Sys().open((runDirectory + kJournalName).c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW, 0);
    if (fd < 0) {
      if (errno != ENOENT) continue;  // not ours to judge
      // A run that died while it started: its new journal is not held.
      // One that is starting holds it; a directory without either is
      // empty, and its installer, if it lives, takes another.
      std::string fresh = runDirectory + kNewJournalName;
      int starting = Sys().open(fresh.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW, 0);
      if (starting >= 0) {
        if (::flock(starting, LOCK_EX | LOCK_NB) == 0) Sys().unlink(fresh.c_str());
        Sys().close(starting);
      }
      Sys().rmdir(runDirectory.c_str());
      continue;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      Sys().close(fd);  // its run is alive
      continue;
    }
    std::vector<JournalRecord> records = ReadJournal(fd);
    struct stat journal;
    bool empty = Sys().fstat(fd, &journal) == 0 && journal.st_size == 0;
    if (!empty && (records.empty() || records[0].kind != 'V' || records[0].path != kFormat)) {
      Sys().close(fd);  // not a journal this installer can read: left alone
      continue;
    }
    bool committed = false;
    bool targeted = false;
    RecoveredRun run;
    run.runDirectory = runDirectory;
    for (const JournalRecord& record : records) {
      committed = committed || record.kind == 'C';
      if (record.kind == 'T') {
        targeted = true;
        run.target = Wide(record.path);
      }
    }
    if (committed || !targeted) {
      // Nothing to undo: finished, or stopped before its header was on
      // disk, so before it changed anything.
      if (committed && targeted && onCommitted) onCommitted(run.target);
      RemoveRunDirectory(runDirectory);
    } else {
      run.restored = Undo(runDirectory, records);
      if (run.restored) RemoveRunDirectory(runDirectory);
      recovered.push_back(run);
    }
    Sys().close(fd);
  }
  return recovered;
}

}  // namespace qorv
