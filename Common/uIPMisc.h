// Dotted IPv4 address test.
#pragma once

#include <string_view>

// Four parts of 1 or more digits, each 0..255, separated by three dots;
// leading zeros allowed. Never raises, whatever the input.
bool IsValidIPAddress(std::string_view s);
