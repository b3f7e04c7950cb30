#include "copy/run_directory.h"

#include <pwd.h>

#include <cerrno>
#include <cstring>

#include "fs/error_codes.h"
#include "fs/file_ops.h"
#include "fs/file_util.h"
#include "fs/fs_queries.h"
#include "fs/path.h"

namespace qorv {

bool IsRunDirectoryName(const std::string& name) {
  const size_t prefix = sizeof(kRunDirectoryPrefix) - 1;
  if (name.compare(0, prefix, kRunDirectoryPrefix) != 0 || name.size() == prefix) return false;
  return name.find_first_not_of("0123456789", prefix) == std::string::npos;
}

FailureCause CauseOf(const char* what, const std::string& path, int error) {
  RefusedLink link;
  if (error == ELOOP && TakeRefusedLink(&link)) return LinkRefusal(what, link);
  return FailureCause{what, path, error != 0 ? std::strerror(error) : ""};
}

FailureCause LinkRefusal(const char* what, const RefusedLink& link) {
  std::string owner = std::to_string(link.owner);
  if (const struct passwd* user = ::getpwuid(link.owner))
    owner += std::string(" (") + user->pw_name + ")";
  return FailureCause{what, link.path, "a link owned by user " + owner + ", not followed"};
}

FailureCause JournalFailure(const std::string& runRoot, int error) {
  return CauseOf("IDS_CAUSE_JOURNAL", runRoot + kJournalName, error);
}

uint32_t MakeRunDirectory(const std::string& targetRoot, RunJournal* journal, RunDirectory* run,
                          FailureCause* cause) {
  auto failed = [cause](uint32_t code, FailureCause why) {
    if (cause->empty()) *cause = std::move(why);
    return code;
  };
  // The temporary directory itself is not the run's to remove again.
  std::string temp = TempDirectory();
  if (!IsDirectoryPath(temp) && ShellMakeDirs(temp) != 0) {
    return failed(kErrorPathNotFound, CauseOf("IDS_CAUSE_MAKE_DIRECTORY", temp, errno));
  }
  temp = WithTrailingSlash(temp);
  // The first free one, taken with an exclusive mkdir so that two installers
  // running at once never share a run directory. Only the user may read the
  // backups of the user's files.
  int lost = 0;
  for (int32_t n = 0;; ++n) {
    std::string candidate = temp + kRunDirectoryPrefix + std::to_string(n);
    if (MakeDirectory(candidate, 0700)) {
      std::string root = WithTrailingSlash(candidate);
      // The journal and its target are on disk before anything changes.
      if (!journal->Create(root, targetRoot)) {
        // Another installer starting at this moment may have taken the
        // fresh directory for a dead run's and emptied it: then another one
        // will do. A full disk fails every time.
        int error = errno;
        RemoveRunDirectory(root);
        if (++lost < 8) continue;
        return failed(kErrorWriteFault, JournalFailure(root, error));
      }
      run->root = root;
      run->backupRoot = root + kBackupDirectoryName;
      return kErrorNone;
    }
    if (errno != EEXIST || n == INT32_MAX) {
      return failed(kErrorPathNotFound, CauseOf("IDS_CAUSE_MAKE_DIRECTORY", candidate, errno));
    }
  }
}

}  // namespace qorv
