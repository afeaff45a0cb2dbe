#include "SignalWatch.h"

#include <pthread.h>
#include <unistd.h>

#include <cstdio>

namespace tool {
namespace {

bool ignored(int signal) {
  struct sigaction current {};
  return sigaction(signal, nullptr, &current) == 0 && current.sa_handler == SIG_IGN;
}

// As if the signal had never been caught: the shell sees the process ended by it.
[[noreturn]] void endBy(int signal) {
  ::signal(signal, SIG_DFL);
  sigset_t one;
  sigemptyset(&one);
  sigaddset(&one, signal);
  pthread_sigmask(SIG_UNBLOCK, &one, nullptr);
  raise(signal);
  _exit(128 + signal);
}

}  // namespace

SignalWatch::SignalWatch() {
  sigemptyset(&watched_);
  for (const int signal : {SIGINT, SIGTERM}) {
    if (ignored(signal)) continue;
    sigaddset(&watched_, signal);
    wake_ = signal;
  }
  pthread_sigmask(SIG_BLOCK, &watched_, &previous_);
  if (wake_ != 0) thread_ = std::thread([this] { run(); });
}

SignalWatch::~SignalWatch() {
  if (thread_.joinable()) {
    closing_ = true;
    pthread_kill(thread_.native_handle(), wake_);
    thread_.join();
  }
  pthread_sigmask(SIG_SETMASK, &previous_, nullptr);
}

const char* SignalWatch::name(int signal) { return signal == SIGINT ? "SIGINT" : "SIGTERM"; }

void SignalWatch::run() {
  for (;;) {
    int signal = 0;
    if (sigwait(&watched_, &signal) != 0) continue;
    if (closing_) return;
    int none = 0;
    if (!first_.compare_exchange_strong(none, signal)) endBy(signal);
    // A progress bar may be drawn on the terminal's last line.
    std::fprintf(stderr, "%svantrel-imaq: interrupted (%s), stopping; once more to quit at once\n",
                 isatty(STDOUT_FILENO) != 0 ? "\n" : "", name(signal));
  }
}

}  // namespace tool
