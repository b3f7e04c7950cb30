#include "testing/fault_injection.h"

#include <fcntl.h>

#include <atomic>
#include <cerrno>

namespace qorv::testing {

namespace {

std::atomic<int> gCall{-1};
std::atomic<int> gNth{-1};
std::atomic<int> gTimes{1};
std::atomic<int> gError{0};
std::atomic<int> gCount{0};
std::atomic<bool> gFired{false};
std::function<void()> gAction;

// True when this call must fail; errno is then set.
bool Hit(SysCall call) {
  if (gCall.load() != static_cast<int>(call)) return false;
  int index = gCount.fetch_add(1);
  int nth = gNth.load();
  if (nth < 0 || index < nth || index >= nth + gTimes.load()) return false;
  gFired = true;
  if (gAction) {
    gAction();
    return false;
  }
  errno = gError.load();
  return true;
}

const SysCalls& Real() { return RealSysCalls(); }

int Open(const char* p, int f, mode_t m) { return Hit(SysCall::kOpen) ? -1 : Real().open(p, f, m); }
ssize_t Read(int fd, void* b, size_t n) { return Hit(SysCall::kRead) ? -1 : Real().read(fd, b, n); }
ssize_t Pread(int fd, void* b, size_t n, off64_t o) {
  return Hit(SysCall::kRead) ? -1 : Real().pread(fd, b, n, o);
}
ssize_t Write(int fd, const void* b, size_t n) {
  return Hit(SysCall::kWrite) ? -1 : Real().write(fd, b, n);
}
int Close(int fd) {
  // Directories opened on the way to a file do not count: closing them
  // reports nothing a caller could act on.
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0 && (flags & O_PATH) != 0) return Real().close(fd);
  if (Hit(SysCall::kClose)) {
    Real().close(fd);  // a failed close still releases the descriptor
    return -1;
  }
  return Real().close(fd);
}
int Rename(const char* a, const char* b) {
  return Hit(SysCall::kRename) ? -1 : Real().rename(a, b);
}
int Mkdir(const char* p, mode_t m) { return Hit(SysCall::kMkdir) ? -1 : Real().mkdir(p, m); }
int Ftruncate(int fd, off64_t n) { return Hit(SysCall::kTruncate) ? -1 : Real().ftruncate(fd, n); }
int Futimens(int fd, const struct timespec t[2]) {
  return Hit(SysCall::kUtimes) ? -1 : Real().futimens(fd, t);
}
int Utimensat(int d, const char* p, const struct timespec t[2], int f) {
  return Hit(SysCall::kUtimes) ? -1 : Real().utimensat(d, p, t, f);
}
int Fsync(int fd) { return Hit(SysCall::kFsync) ? -1 : Real().fsync(fd); }
// A flush of the data alone counts as a flush.
int Fdatasync(int fd) { return Hit(SysCall::kFsync) ? -1 : Real().fdatasync(fd); }
int Unlink(const char* p) { return Hit(SysCall::kUnlink) ? -1 : Real().unlink(p); }
int Rmdir(const char* p) { return Hit(SysCall::kRmdir) ? -1 : Real().rmdir(p); }
int Statvfs(const char* p, struct statvfs* s) {
  return Hit(SysCall::kStatvfs) ? -1 : Real().statvfs(p, s);
}
int Fchmod(int fd, mode_t m) { return Hit(SysCall::kFchmod) ? -1 : Real().fchmod(fd, m); }
// A directory opened on the way to a file, or to list it, is a step of its
// own: the opens of files keep their count.
int Openat(int d, const char* p, int f, mode_t m) {
  return Hit((f & (O_PATH | O_DIRECTORY)) != 0 ? SysCall::kResolve : SysCall::kOpen)
             ? -1
             : Real().openat(d, p, f, m);
}
int Mkdirat(int d, const char* p, mode_t m) {
  return Hit(SysCall::kMkdir) ? -1 : Real().mkdirat(d, p, m);
}
int Unlinkat(int d, const char* p, int f) {
  return Hit((f & AT_REMOVEDIR) != 0 ? SysCall::kRmdir : SysCall::kUnlink)
             ? -1
             : Real().unlinkat(d, p, f);
}
int Renameat(int a, const char* p, int b, const char* q) {
  return Hit(SysCall::kRename) ? -1 : Real().renameat(a, p, b, q);
}
int Syncfs(int fd) { return Hit(SysCall::kSyncfs) ? -1 : Real().syncfs(fd); }

SysCalls MakeTable() {
  SysCalls table = RealSysCalls();
  table.open = Open;
  table.read = Read;
  table.pread = Pread;
  table.write = Write;
  table.close = Close;
  table.rename = Rename;
  table.mkdir = Mkdir;
  table.ftruncate = Ftruncate;
  table.futimens = Futimens;
  table.utimensat = Utimensat;
  table.fsync = Fsync;
  table.fdatasync = Fdatasync;
  table.unlink = Unlink;
  table.rmdir = Rmdir;
  table.statvfs = Statvfs;
  table.fchmod = Fchmod;
  table.syncfs = Syncfs;
  table.openat = Openat;
  table.mkdirat = Mkdirat;
  table.unlinkat = Unlinkat;
  table.renameat = Renameat;
  return table;
}

const SysCalls kFaulty = MakeTable();

}  // namespace

FaultInjector::FaultInjector(SysCall call, int nth, int error, int times) {
  gAction = nullptr;
  gTimes = times;
  gCall = static_cast<int>(call);
  gNth = nth;
  gError = error;
  gCount = 0;
  gFired = false;
  previous_ = TEST_SetSysCalls(&kFaulty);
}

FaultInjector::FaultInjector(SysCall call, int nth, std::function<void()> action)
    : FaultInjector(call, nth, 0, 1) {
  gAction = std::move(action);
}

FaultInjector::~FaultInjector() {
  gAction = nullptr;
  TEST_SetSysCalls(previous_);
  gCall = -1;
}

int FaultInjector::Count() const { return gCount.load(); }
bool FaultInjector::Fired() const { return gFired.load(); }

}  // namespace qorv::testing
