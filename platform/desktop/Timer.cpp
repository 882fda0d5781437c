#include "platform/desktop/Timer.h"

TTimer::TTimer(TComponent* owner) : TTimer(owner, Application->Loop()) {}

TTimer::TTimer(TComponent* owner, MainLoop& loop) : TComponent(owner), loop_(loop) {
  // The loop holds only the id: a tick for a freed timer finds nothing.
  id_ = loop_.AddTimer(interval_, [this] { Tick(); }, enabled_);
}

TTimer::~TTimer() { loop_.RemoveTimer(id_); }

void TTimer::SetInterval(uint32_t ms) {
  if (interval_ == ms) return;
  interval_ = ms;
  loop_.SetTimerInterval(id_, ms);
}

void TTimer::SetEnabled(bool enabled) {
  enabled_ = enabled;
  loop_.SetTimerEnabled(id_, enabled);
}

void TTimer::Tick() {
  if (!enabled_ || !OnTimer) return;
  DispatchEvent([this] { OnTimer(*this); });
}
