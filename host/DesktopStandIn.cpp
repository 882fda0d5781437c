// Until the desktop console exists: a desktop program that holds the program
// name and runs the main loop until SIGTERM or SIGINT.
#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <thread>

#include "host/ProgramMain.h"
#include "host/uGlobalName.h"
#include "platform/MainLoop.h"

namespace {

class TDesktopStandIn : public TDesktopApplication {
 public:
  void SetTitle(const std::string& title) override { title_ = title; }

  void Run() override {
    GlobalNameHandle = RegisterGlobalName("VantrellHSProgram");
    // The signals are taken by one thread with sigwait, so nothing runs in
    // signal context; threads started from here on inherit the mask.
    sigset_t stopSignals, previous;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stopSignals, &previous);
    std::atomic<bool> done{false};
    std::thread waiter([&] {
      int sig = 0;
      if (sigwait(&stopSignals, &sig) == 0 && !done) MainLoop::Instance().Quit();
    });
    MainLoop::Instance().Run();
    done = true;
    pthread_kill(waiter.native_handle(), SIGTERM);  // wakes the waiter if Run ended otherwise
    waiter.join();
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    UnregisterGlobalName(GlobalNameHandle.exchange(NoGlobalNameHandle));
  }

 private:
  std::string title_;
};

}  // namespace

std::unique_ptr<TDesktopApplication> CreateDesktopApplication() { return std::make_unique<TDesktopStandIn>(); }
