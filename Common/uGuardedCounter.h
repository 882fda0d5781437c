// 32-bit counters that several threads change and that must never overflow:
// at the top they start again at 1, with a line in the global logger that
// names them; below the bottom they become 0.
#pragma once

#include <atomic>
#include <cstdint>

// Returns the new value. At 2147483647 the counter becomes 1 and
// "<Name> reset to 1. Old value was 2147483647" is logged.
int32_t IncrementGuarded(std::atomic<int32_t>& counter, const char* name);
// Logs "<Name> reset to 1. Old value was <OldValue>" (counters that are not
// atomics, such as the server key counter, guard themselves and report here).
void LogCounterReset(const char* name, int64_t oldValue);

// Returns the new value; below -2147483648 the counter becomes 0, silently.
int32_t DecrementGuarded(std::atomic<int32_t>& counter);
