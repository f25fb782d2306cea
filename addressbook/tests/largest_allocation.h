// The size of the largest single allocation since the last reset, so that a
// test can show that a hostile count does not make a reader reserve what the
// count claims. Counted through a replacement of the global operator new,
// which is left out under AddressSanitizer (it brings its own and refuses
// absurd sizes by itself).
#pragma once

#include <cstddef>

namespace tarn::test {
bool allocationsCounted();
void resetLargestAllocation();
std::size_t largestAllocation();
}  // namespace tarn::test
