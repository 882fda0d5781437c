#include "host/ServiceConsole.h"

// A service started by systemd has no user's desktop to put a console on.
bool InteractiveDesktopPresent() { return false; }
