#include "platform/AntiFreeze.h"

#include <atomic>

#include "platform/MainLoop.h"

namespace AntiFreeze {
namespace {
std::atomic<bool> g_active{false};
std::atomic<int> g_idleTimeOutMs{100};
}  // namespace

void SetActive(bool active) { g_active = active; }
bool Active() { return g_active; }
void SetIdleTimeOutMs(int ms) { g_idleTimeOutMs = ms > 0 ? ms : 1; }
int IdleTimeOutMs() { return g_idleTimeOutMs; }

bool Applies() { return g_active && MainLoop::Instance().IsMainThread(); }

void Pump() { MainLoop::Instance().ProcessPending(MainLoop::PumpMode::PostedOnly); }

}  // namespace AntiFreeze
