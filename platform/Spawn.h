// Child processes. A child starts with the signal state a fresh program
// expects: nothing blocked (the program blocks its stop signals in every
// thread) and SIGPIPE at its default (the program ignores it).
#pragma once

#include <spawn.h>

#include <string>
#include <vector>

// Initialises Attr with that signal state; the caller destroys it.
void InitChildSpawnAttr(posix_spawnattr_t& attr);

// Runs Argv (Argv[0] looked up in PATH) with standard input from /dev/null,
// waits for it and gives its standard output and error in Output. The exit
// code; -1 when it could not run or ended by a signal.
int RunAndCapture(const std::vector<std::string>& argv, std::string& output);
