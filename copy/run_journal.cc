#include "copy/run_journal.h"

#include <fcntl.h>
#include <unistd.h>

#include "base/text_convert.h"
#include "copy/run_directory.h"
#include "fs/file_ops.h"
#include "fs/file_util.h"

namespace qorv {

namespace {

void AppendRecord(std::string* out, RecordKind kind, const std::string& bytes) {
  out->append(EncodeRecord(static_cast<char>(kind), bytes));
}

}  // namespace

std::string EncodeRecord(char kind, const std::string& bytes) {
  std::string out;
  out.push_back(kind);
  out.push_back(' ');
  out.append(std::to_string(bytes.size()));
  out.push_back(':');
  out.append(bytes);
  out.push_back('\n');
  return out;
}

bool RunJournal::Create(const std::string& runDirectory, const std::string& targetRoot) {
  Close();
  std::string fresh = runDirectory + kNewJournalName;
  // The journal until its header is on disk and locked: a later start never
  // mistakes a run that is still starting for a dead one.
  fd_ = OpenFile(fresh, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  // Held until Close(), and by the kernel only as long as this process
  // lives: a later start can tell a dead run from a running one. Blocking:
  // a start looking at the new journal holds it for a moment.
  if (!fd_.IsValid() || !LockExclusive(fd_.Get(), true)) {
    Close();
    return false;
  }
  queued_.clear();
  AppendRecord(&queued_, RecordKind::kVersion, kJournalFormat);
  AppendRecord(&queued_, RecordKind::kProcess, std::to_string(::getpid()));
  AppendRecord(&queued_, RecordKind::kTarget, targetRoot);
  // Named "journal" only once it is locked and its header is on disk; the
  // rename fails when a start took the new journal for a dead one's. The
  // run directory's own name was flushed when it was made.
  if (!Flush() || !RenamePath(fresh, runDirectory + kJournalName) || !SyncDirectory(runDirectory)) {
    Close();
    return false;
  }
  return true;
}

void RunJournal::Add(RecordKind kind, const std::string& path) {
  AppendRecord(&queued_, kind, path);
}

bool RunJournal::Flush() {
  if (!fd_.IsValid()) return false;
  // The records and the journal's length; its times do not matter.
  bool ok = WriteFully(fd_.Get(), queued_) && FlushData(fd_.Get());
  queued_.clear();
  return ok;
}

bool RunJournal::Commit() {
  Add(RecordKind::kCommit, std::string());
  return Flush();
}

void RunJournal::Close() {
  fd_.Close();
  queued_.clear();
}

std::vector<JournalRecord> ReadJournal(int fd) {
  std::string bytes;
  ReadFully(fd, &bytes);  // what could be read: a record cut short ends the list
  std::vector<JournalRecord> records;
  size_t at = 0;
  while (at + 3 < bytes.size() && bytes[at + 1] == ' ') {
    RecordKind kind = static_cast<RecordKind>(bytes[at]);
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

}  // namespace qorv
