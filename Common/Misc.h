// Numbers, files, the default browser, machine and user names, the command
// line and processor affinity.
#pragma once

#include <sys/types.h>

#include <bitset>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Classes.h"
#include "platform/DateTime.h"

int32_t MinInt(int32_t a, int32_t b);
int64_t MinInt64(int64_t a, int64_t b);
int64_t MaxInt64(int64_t a, int64_t b);

// Decimal digits in groups of three joined by a blank ("1 234 567"); "0" for
// 0; empty for a negative value.
std::string FormatThousands(int32_t n);
std::string FormatThousands64(int64_t n);

// The moment as "yyyy-mm-dd hh:nn:ss", or Default when it is 0.
std::string DateTimeToStrDef(const std::string& defaultText, TDateTime moment);

// The text before the first ":", or S when it has none.
std::string HostWithoutPort(const std::string& s);
// The same without a copy: the part of S that HostWithoutPort returns.
std::string_view HostWithoutPortView(std::string_view s);

// The process's command line, stored by the entry point (argv[0] first).
void SetCommandLine(int argc, const char* const* argv);
void SetCommandLine(std::vector<std::string> args);
// The stored command line: the program's path, then the parameters.
std::vector<std::string> CommandLineParams();
// Some parameter after the program name equals Name, whole and without regard
// to case: "prog" matches "PROG", not "/prog".
bool HasCommandLineSwitch(const std::string& name);

// Masks are a folder plus a name pattern with "*" and "?", matched without
// regard to ASCII case; "*.*" matches every name. Names beginning with "."
// never match. Results carry the mask's folder in front of each name.
// Deletes the matching regular files; one that cannot be deleted is left.
void DeleteFilesByMask(const std::string& mask);
// Every matching entry of any kind (folders too), in directory order.
TStringList ListFilesByMask(const std::string& mask);

// $BROWSER when set, else "xdg-open"; a Firefox command is cut before its
// "-url" so the URL follows the program directly.
std::string GetDefaultBrowserCommand();
std::string CutBeforeFirefoxUrlSwitch(const std::string& command);
// Starts the browser command with URL as one more argument, without a shell;
// the child is reaped in the background. Reports nothing.
void OpenURL(const std::string& url);

std::string GetComputerNameStr();
std::string GetUserNameStr();  // empty on failure

// The processors the process may run on and those of the system, limited to
// processor numbers 0..31. Process 0 is this process.
using TProcessorSet = std::bitset<32>;
bool GetProcessAffinity(pid_t process, TProcessorSet& processMask, TProcessorSet& systemMask);
