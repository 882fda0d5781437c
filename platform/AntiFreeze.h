// Keeps the main thread's posted tasks flowing while it blocks in the TCP
// layer (a stop that waits for connections to end, a connect). Off by default;
// the engine host turns it on around a stop. Other threads are never affected.
#pragma once

namespace AntiFreeze {

void SetActive(bool active);
bool Active();
// Longest slice a main-thread wait sleeps before it runs the posted tasks.
void SetIdleTimeOutMs(int ms);
int IdleTimeOutMs();

// True when the calling thread is the main thread and the anti-freeze is on.
bool Applies();
// Runs the main loop's posted tasks (never its timers).
void Pump();

}  // namespace AntiFreeze
