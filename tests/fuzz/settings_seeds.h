// Settings files the fuzzer starts from: a fresh configuration, a rich one
// and a legacy file.
#pragma once

#include <cstdint>
#include <vector>

std::vector<std::vector<uint8_t>> SettingsSeeds();
