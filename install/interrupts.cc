#include "install/interrupts.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace qorv {

namespace {

int g_pipe[2] = {-1, -1};

sigset_t WatchedSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGHUP);
  return set;
}

void* TakeSignals(void*) {
  sigset_t set = WatchedSignals();
  for (;;) {
    int signal = 0;
    if (sigwait(&set, &signal) != 0) continue;
    unsigned char byte = static_cast<unsigned char>(signal);
    while (::write(g_pipe[1], &byte, 1) < 0 && errno == EINTR) {
    }
  }
  return nullptr;
}

}  // namespace

bool InterruptWatch::Start() {
  if (g_pipe[0] >= 0) return true;
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) return false;
  ::fcntl(ends[0], F_SETFL, O_NONBLOCK);
  sigset_t set = WatchedSignals();
  sigset_t previous;
  pthread_sigmask(SIG_BLOCK, &set, &previous);
  g_pipe[0] = ends[0];
  g_pipe[1] = ends[1];
  pthread_t thread;
  if (pthread_create(&thread, nullptr, TakeSignals, nullptr) != 0) {
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    ::close(ends[0]);
    ::close(ends[1]);
    g_pipe[0] = g_pipe[1] = -1;
    return false;
  }
  pthread_detach(thread);
  return true;
}

int InterruptWatch::fd() { return g_pipe[0]; }

void InterruptWatch::UnblockInChild() {
  sigset_t set = WatchedSignals();
  pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
}

int InterruptWatch::TakeFrom(int fd) {
  if (fd < 0) return 0;
  unsigned char byte = 0;
  ssize_t n;
  while ((n = ::read(fd, &byte, 1)) < 0 && errno == EINTR) {
  }
  return n == 1 ? byte : 0;
}

void InterruptWatch::EndBySignal(int signal) {
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  sigaction(signal, &action, nullptr);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, signal);
  // Sent to this thread, which unblocks it: the taking thread cannot take it.
  pthread_kill(pthread_self(), signal);
  pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
  std::_Exit(128 + signal);
}

}  // namespace qorv
