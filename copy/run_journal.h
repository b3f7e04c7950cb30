// What a copy run is about to change, written down before it changes it, so
// that a later start of the installer can undo a run that was killed or cut
// off by a crash. Each run has its own run directory (mode 0700; where,
// copy/run_directory.h):
//
//   journal      the records below
//   journal.new  the journal while the run starts: it is renamed to
//                "journal" once it is locked and its header is on disk
//   files/       the backup tree: the files the run replaced, at their
//                paths relative to the target
//
// A record is "<kind> <length>:<bytes>\n", so any path fits; the kinds are
// those of RecordKind below. A record is on disk before the change it
// announces. The running job holds
// an exclusive flock on its journal: a journal nobody holds belongs to a run
// that is no longer alive.
#ifndef QORV_COPY_RUN_JOURNAL_H_
#define QORV_COPY_RUN_JOURNAL_H_

#include <functional>
#include <string>
#include <vector>

#include "base/text_string.h"
#include "fs/file_util.h"

namespace qorv {

// The letter that starts each record.
enum class RecordKind : char {
  kVersion = 'V',     // the format, "qorv-journal 1"
  kProcess = 'P',     // the process id, for people reading the journal
  kTarget = 'T',      // the target root, ending with "/"
  kBackup = 'B',      // a file about to be moved into the backup tree (absolute path)
  kFile = 'F',        // a file about to be written where there is none (absolute path)
  kDirectory = 'D',   // a directory about to be created (absolute path)
  kCommit = 'C',      // the run succeeded; nothing to undo (its location may still
                      // have to be recorded)
  kManifest = 'M',    // the target's manifest (copy/manifest.h) about to be replaced or
                      // removed; its old copy is kOldManifestName, which an undo
                      // puts back and removes (gone: put back already)
  kUninstall = 'U',   // the run removes an installation: once committed, its location
                      // leaves the launcher's list
  kEmptied = 'E',     // a directory to remove, when empty, once the run is committed
  kNoManifest = 'N',  // the target had no manifest; the one about to be written goes
                      // again on an undo
};

// The format a journal's first record names.
inline constexpr char kJournalFormat[] = "qorv-journal 2";
// The format before kNoManifest: kManifest without an old copy meant none.
inline constexpr char kJournalFormatOne[] = "qorv-journal 1";
// Names inside a run directory.
inline constexpr char kJournalName[] = "journal";
inline constexpr char kNewJournalName[] = "journal.new";
inline constexpr char kBackupDirectoryName[] = "files/";
inline constexpr char kOldManifestName[] = "manifest.old";

class RunJournal {
 public:
  RunJournal() = default;
  RunJournal(const RunJournal&) = delete;
  RunJournal& operator=(const RunJournal&) = delete;
  ~RunJournal() { Close(); }

  // Creates `runDirectory`/journal (the directory ends with "/"): locks it,
  // writes V, P and T and flushes them under the name journal.new, then
  // renames it and flushes the directories holding it. False when any step
  // fails, a start that took it for a dead run's included.
  bool Create(const std::string& runDirectory, const std::string& targetRoot);
  // Queues a record; Flush() writes what is queued and flushes it to disk.
  void Add(RecordKind kind, const std::string& path);
  bool HasQueued() const { return !queued_.empty(); }
  bool Flush();
  // Writes C and flushes it.
  bool Commit();
  // Closes the journal, which lets go of the lock.
  void Close();
  bool IsOpen() const { return fd_.IsValid(); }

 private:
  ScopedFd fd_;
  std::string queued_;
};

struct JournalRecord {
  RecordKind kind;
  std::string path;
};

// The records of an open journal, up to the first one that is cut short or
// malformed: a record the crash cut was never acted on. The first record is
// V when the journal is one this installer wrote.
std::vector<JournalRecord> ReadJournal(int fd);

// One record, "<kind> <length>:<bytes>\n" (the registry of live runs,
// copy/run_directory.h, writes its entries so too).
std::string EncodeRecord(char kind, const std::string& bytes);

// Removes a run directory that has nothing left to undo: the backup tree
// first, the journal last, so that a crash halfway leaves either a journal
// to act on or an empty directory; then, once its removal is on disk, its
// entry in the registry. `flushFirst`, when given, is a directory on
// another file system than the run directory's whose changes must be on
// disk before the records that would undo them go (the target of a run
// whose backups were copies). False when something of it stays (the
// entry stays with it).
bool RemoveRunDirectory(const std::string& runDirectory, const std::string& flushFirst);

// What is done once a run has succeeded (the front ends record its
// location, or forget it after an uninstall); gets the run's target root,
// ending with "/", and whether the run was an uninstall.
using CommittedAction = std::function<void(const WideString& targetRoot, bool uninstalled)>;

}  // namespace qorv

#endif  // QORV_COPY_RUN_JOURNAL_H_
