// The 32-bit string hash that turns a forwarded client address into an
// affinity key.
#pragma once

#include <cstdint>
#include <string_view>

uint32_t APHash(std::string_view s);
