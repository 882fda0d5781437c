// CRC-32 of the gzip trailer (reflected polynomial 0xEDB88320).
#pragma once

#include <cstddef>
#include <cstdint>

// Runs Count bytes through the CRC register Crc and returns the new register.
// The caller starts with 0xFFFFFFFF and inverts the result at the end; a null
// Buffer leaves the register unchanged.
uint32_t UpdateCRC32(uint32_t crc, const void* buffer, size_t count);
