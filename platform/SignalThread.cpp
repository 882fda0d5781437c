#include "platform/SignalThread.h"

#include <pthread.h>

sigset_t StopSignalSet() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGHUP);
  return set;
}

void BlockStopSignals() {
  const sigset_t set = StopSignalSet();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

SignalThread::SignalThread(std::function<void(int sig)> onSignal) : onSignal_(std::move(onSignal)) {
  // The thread starts with the signals blocked even when its creator did not
  // block them, so a Raise that comes before its first sigwait waits for it.
  const sigset_t set = StopSignalSet();
  sigset_t previous;
  pthread_sigmask(SIG_BLOCK, &set, &previous);
  thread_ = std::thread([this] { Loop(); });
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

SignalThread::~SignalThread() {
  ending_ = true;
  pthread_kill(thread_.native_handle(), SIGTERM);
  thread_.join();
}

void SignalThread::Raise(int sig) { pthread_kill(thread_.native_handle(), sig); }

void SignalThread::Loop() {
  const sigset_t set = StopSignalSet();
  for (;;) {
    int sig = 0;
    if (sigwait(&set, &sig) != 0) continue;
    if (ending_) return;
    try {
      onSignal_(sig);
    } catch (...) {
    }
  }
}
