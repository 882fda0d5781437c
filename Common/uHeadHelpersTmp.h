// TEMPORARY until the common helpers land.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
uint32_t APHash(std::string_view s);
std::string HostWithoutPort(std::string_view s);
std::string TextBetween(std::string_view open, std::string_view close, std::string_view s);
std::string CollapseSlashes(std::string_view s);
extern bool UseXForwardedForGlobal;
