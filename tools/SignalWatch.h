// Ctrl-C during a long command: the first SIGINT or SIGTERM asks for a clean
// stop, which the command polls; a second one ends the process at once, by
// that signal.
//
// The signals are blocked in every thread and taken by a thread of the
// watch's own with sigwait. No thread of the adaptor, the card or the
// decoder is then interrupted in a system call, and what a signal does runs
// as ordinary code, not in a signal handler.
#pragma once

#include <signal.h>

#include <atomic>
#include <thread>

namespace tool {

class SignalWatch {
 public:
  // To be made before any other thread starts: threads take their blocked
  // signals from the thread that starts them. A signal the process was
  // started with ignored (nohup, a background job) stays ignored.
  SignalWatch();
  // Stops watching; the signals act as before.
  ~SignalWatch();
  SignalWatch(const SignalWatch&) = delete;
  SignalWatch& operator=(const SignalWatch&) = delete;

  // The first signal that came, or 0.
  int received() const { return first_.load(); }
  // "SIGINT" or "SIGTERM".
  static const char* name(int signal);

 private:
  void run();

  sigset_t watched_;
  sigset_t previous_;  // the blocked signals before
  int wake_ = 0;       // a watched signal, to end the thread's wait with
  std::atomic<int> first_{0};
  std::atomic<bool> closing_{false};
  std::thread thread_;
};

}  // namespace tool
