#include "host/SimpleTimer.h"

#include <algorithm>
#include <memory>

namespace {

// Main thread only, like the window it stands for.
std::unique_ptr<TSimpleTimerHandler> handler;
int refCount = 0;
uint64_t nextId = 1;

constexpr uint32_t kMinimumInterval = 10;

}  // namespace

TSimpleTimerHandler* TSimpleTimerHandler::Instance() { return handler.get(); }
int TSimpleTimerHandler::RefCount() { return refCount; }

TSimpleTimerHandler& TSimpleTimerHandler::Acquire() {
  if (!handler) handler.reset(new TSimpleTimerHandler());
  ++refCount;
  return *handler;
}

void TSimpleTimerHandler::Release() {
  if (--refCount == 0) handler.reset();
}

void TSimpleTimerHandler::Dispatch(uint64_t id) {
  const auto it = timers_.find(id);
  if (it == timers_.end()) return;
  TSimpleTimer* t = it->second;
  if (!t->callback_) return;
  try {
    t->callback_(t->ownerData_);
  } catch (...) {
  }
}

TSimpleTimer::TSimpleTimer(void* ownerData, TCallback callback, MainLoop& loop)
    : ownerData_(ownerData), callback_(std::move(callback)), loop_(loop), id_(nextId++) {
  TSimpleTimerHandler::Acquire().timers_[id_] = this;
}

TSimpleTimer::~TSimpleTimer() {
  if (active_) Stop();
  if (TSimpleTimerHandler* h = TSimpleTimerHandler::Instance()) h->timers_.erase(id_);
  TSimpleTimerHandler::Release();
}

bool TSimpleTimer::Start(uint32_t ms) {
  if (active_) Stop();
  interval_ = ms;
  const uint64_t id = id_;
  loopTimer_ = loop_.AddTimer(std::max(ms, kMinimumInterval),
                              [id] {
                                if (TSimpleTimerHandler* h = TSimpleTimerHandler::Instance()) h->Dispatch(id);
                              },
                              true);
  active_ = loopTimer_ != 0;
  return active_;
}

bool TSimpleTimer::Stop() {
  active_ = false;
  if (loopTimer_ == 0) return false;
  loop_.RemoveTimer(loopTimer_);
  loopTimer_ = 0;
  return true;
}
