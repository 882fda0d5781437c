// The stop signals (SIGTERM, SIGINT, SIGHUP), taken by one thread with sigwait
// so that no handler ever runs in signal context. The program blocks them in
// its main thread before any other thread starts; every later thread inherits
// the mask, so a stop signal sent to the process waits until the signal thread
// takes it. What a signal means is the handler's: the desktop closes on each,
// the service stops on SIGTERM and SIGINT and ignores SIGHUP.
#pragma once

#include <signal.h>

#include <atomic>
#include <functional>
#include <thread>

sigset_t StopSignalSet();
// Blocks the stop signals in the calling thread (and the threads it starts).
void BlockStopSignals();

class SignalThread {
 public:
  // OnSignal runs on the signal thread, once for every stop signal taken; what
  // it raises is dropped.
  explicit SignalThread(std::function<void(int sig)> onSignal);
  // Ends the thread; a handler that is running finishes first.
  ~SignalThread();
  SignalThread(const SignalThread&) = delete;
  SignalThread& operator=(const SignalThread&) = delete;

  // Sends Sig to the signal thread alone (tests, where other threads of the
  // process may not block the stop signals).
  void Raise(int sig);

 private:
  void Loop();

  std::function<void(int)> onSignal_;
  std::atomic<bool> ending_{false};
  std::thread thread_;  // last: starts once the rest exists
};
