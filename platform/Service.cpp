#include "platform/Service.h"

#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "platform/EventLog.h"
#include "platform/MainLoop.h"
#include "platform/SignalThread.h"

TService::TService(std::string name, std::string displayName)
    : name_(std::move(name)), displayName_(std::move(displayName)) {}

void TService::Control(TServiceControl control) {
  {
    std::lock_guard<std::mutex> g(mutex_);
    requests_.push_back(control);
  }
  cv_.notify_all();
}

void TService::Terminate() {
  {
    std::lock_guard<std::mutex> g(mutex_);
    terminated_ = true;
  }
  cv_.notify_all();
}

void TService::ProcessRequests(bool wait) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (wait) cv_.wait(lock, [this] { return !requests_.empty() || terminated_; });
  while (!requests_.empty() && !terminated_) {
    const TServiceControl control = requests_.front();
    requests_.pop_front();
    lock.unlock();
    Handle(control);
    lock.lock();
  }
}

void TService::Handle(TServiceControl control) {
  status_ = TCurrentStatus::csStopPending;
  if (!stoppingSent_) {
    stoppingSent_ = true;
    notify_("STOPPING=1");
  }
  if (control == TServiceControl::scShutdown) {
    ServiceShutdown();
    return;
  }
  bool stopped = true;
  ServiceStop(stopped);
}

void TService::Run(const TRunOptions& options) {
  MainLoop& loop = options.loop != nullptr ? *options.loop : MainLoop::Instance();
  notify_ = options.notify ? options.notify : [](const std::string& state) { NotifyServiceManager(state); };
  terminated_ = false;
  stoppingSent_ = false;
  std::atomic<bool> ended{false};

  SignalThread signals([this, &options](int sig) {
    if (sig == SIGHUP) return;  // a service has no terminal to lose
    const bool goingDown = options.systemStopping && options.systemStopping();
    Control(goingDown ? TServiceControl::scShutdown : TServiceControl::scStop);
  });
  std::thread serviceThread([&] {
    ServiceThread(options);
    ended = true;
    loop.Quit();
  });
  loop.Run();
  // Something else ended the loop: the service stops all the same, and the
  // loop keeps turning for it, since the engine's stop waits for its timer.
  if (!ended) {
    Control(TServiceControl::scStop);
    while (!ended) {
      loop.ProcessPending();
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }
  serviceThread.join();
}

// Nothing escapes the thread: the framework writes what a handler raised to
// the event log, and the service ends.
void TService::ServiceThread(const TRunOptions& options) {
  status_ = TCurrentStatus::csStartPending;
  try {
    bool started = false;
    ServiceStart(started);
    if (started) {
      status_ = TCurrentStatus::csRunning;
      notify_("READY=1");
      ServiceExecute();
    }
  } catch (const std::exception& e) {
    if (options.eventLog != nullptr) options.eventLog->LogMessage(name_ + ": " + e.what(), TEventLogType::etError);
  }
  status_ = TCurrentStatus::csStopped;
}

bool StartedByServiceManager(const std::string& markerVariable) {
  const char* value = std::getenv(markerVariable.c_str());
  return value != nullptr && *value != '\0';
}

bool NotifyServiceManager(const std::string& state) {
  const char* socketName = std::getenv("NOTIFY_SOCKET");
  if (socketName == nullptr || *socketName == '\0') return true;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const size_t length = std::strlen(socketName);
  if (length >= sizeof address.sun_path) return false;
  std::memcpy(address.sun_path, socketName, length);
  if (address.sun_path[0] == '@') address.sun_path[0] = '\0';
  const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  const auto size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + length);
  const bool sent = ::sendto(fd, state.data(), state.size(), MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&address),
                             size) == static_cast<ssize_t>(state.size());
  ::close(fd);
  return sent;
}
