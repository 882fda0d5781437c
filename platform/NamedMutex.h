// A machine-wide name that one process holds at a time, standing in for a
// named mutex: an abstract-namespace Unix socket bound to the name. Creating
// it is binding it; the kernel frees it when the holder closes it or dies,
// crash included, so nothing stale is ever left behind. Only its existence
// matters; nobody waits on it.
#pragma once

#include <string>

enum class TNamedMutexResult { nmCreated, nmAlreadyExists, nmAccessDenied, nmFailed };

// On nmCreated Handle is the held name; otherwise it is -1 and nothing is held.
TNamedMutexResult CreateNamedMutex(const std::string& name, int& handle);
void CloseNamedMutex(int handle);
