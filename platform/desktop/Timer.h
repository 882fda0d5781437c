// A component timer on a main loop: Interval, Enabled and OnTimer. A tick
// runs OnTimer through DispatchEvent; a freed timer never ticks again.
#pragma once

#include <cstdint>
#include <functional>

#include "platform/MainLoop.h"
#include "platform/desktop/Forms.h"

class TTimer : public TComponent {
 public:
  // On the application's loop.
  explicit TTimer(TComponent* owner);
  TTimer(TComponent* owner, MainLoop& loop);
  ~TTimer() override;

  uint32_t Interval() const { return interval_; }
  void SetInterval(uint32_t ms);  // restarts the interval when enabled
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool enabled);  // enabling restarts the interval
  std::function<void(TTimer&)> OnTimer;

 private:
  void Tick();
  MainLoop& loop_;
  MainLoop::TimerId id_;
  uint32_t interval_ = 1000;
  bool enabled_ = true;
};
