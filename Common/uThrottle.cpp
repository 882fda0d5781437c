#include "Common/uThrottle.h"

bool IsSmallBlock(int64_t size) { return static_cast<double>(size) < 16384.0 / 3.0; }

int ThrottlePauseMs(int64_t blockSize, int activeTransfers) {
  if (blockSize == 0) return 15;
  if (IsSmallBlock(blockSize)) {
    if (activeTransfers > 20) return 300;
    if (activeTransfers > 10) return 200;
    if (activeTransfers > 3) return 30;
    return 0;
  }
  if (activeTransfers > 20) return 100;
  if (activeTransfers > 10) return 50;
  return 0;
}
