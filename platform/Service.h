// A service in place of the service framework's: the service object's
// handlers and status, its control queue, and its run under systemd.
//
// Threads: the main thread runs the main loop (and with it every timer and
// idle handler) for as long as the service thread lives; the service thread
// runs ServiceStart, then ServiceExecute, which handles the queued control
// requests until the thread is terminated; the signal thread turns SIGTERM and
// SIGINT into Stop requests, or Shutdown ones while the system goes down.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>

class EventLogWriter;
class MainLoop;

enum class TServiceControl { scStop, scShutdown };
enum class TCurrentStatus { csStopped, csStartPending, csRunning, csStopPending };

class TService {
 public:
  TService(std::string name, std::string displayName);
  virtual ~TService() = default;
  TService(const TService&) = delete;
  TService& operator=(const TService&) = delete;

  const std::string& Name() const { return name_; }
  const std::string& DisplayName() const { return displayName_; }
  // Any thread. Running from the start's report until a stop is handled.
  TCurrentStatus Status() const { return status_; }
  // Any thread: queues a request for the service thread.
  void Control(TServiceControl control);

  // Service thread: ServiceExecute ends once the thread is terminated.
  bool Terminated() const { return terminated_; }
  void Terminate();
  // Handles the queued requests; with Wait it first waits for one (or for
  // Terminate). What a handler raises passes on.
  void ProcessRequests(bool wait);

  // What the run reports to the service manager ("READY=1", "STOPPING=1").
  using TNotify = std::function<void(const std::string& state)>;

  struct TRunOptions {
    MainLoop* loop = nullptr;               // nullptr: MainLoop::Instance()
    std::function<bool()> systemStopping;   // empty: never
    TNotify notify;                         // empty: NotifyServiceManager
    EventLogWriter* eventLog = nullptr;     // what escapes a handler; nullptr: dropped
  };
  // The run of a process the service manager started: service thread, signal
  // thread and, on the calling (main) thread, the main loop until the service
  // thread has ended.
  void Run(const TRunOptions& options);

 protected:
  // Service thread.
  virtual void ServiceStart(bool& started) = 0;
  virtual void ServiceExecute() = 0;
  virtual void ServiceStop(bool& stopped) = 0;
  virtual void ServiceShutdown() = 0;

 private:
  void ServiceThread(const TRunOptions& options);
  void Handle(TServiceControl control);

  const std::string name_;
  const std::string displayName_;
  std::atomic<TCurrentStatus> status_{TCurrentStatus::csStopped};
  std::atomic<bool> terminated_{false};
  std::mutex mutex_;
  std::condition_variable cv_;
  std::deque<TServiceControl> requests_;
  TNotify notify_;        // set for the run, before the service thread starts
  bool stoppingSent_ = false;  // service thread only
};

// True when the service manager started this process: the unit sets
// MarkerVariable in its environment.
bool StartedByServiceManager(const std::string& markerVariable);

// Sends State to $NOTIFY_SOCKET (a path, or "@" for an abstract name) as one
// datagram; nothing when the variable is unset. False when it could not be
// sent.
bool NotifyServiceManager(const std::string& state);
