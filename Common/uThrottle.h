// Pauses that spread bandwidth over concurrent body relays: the more relays
// run at once, the longer a thread sleeps after a block.
#pragma once

#include <cstdint>

// Every relay moves at most this many bytes per block.
constexpr int64_t kTransferBlockSize = 32768;

// A block shorter than 16384/3 bytes (compared as a real number) is small.
bool IsSmallBlock(int64_t size);

// Pause in milliseconds after a relayed block of BlockSize bytes while
// ActiveTransfers relays run.
int ThrottlePauseMs(int64_t blockSize, int activeTransfers);
