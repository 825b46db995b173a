// Replaces operator new and delete for this test program, so that a test can make one
// nothrow allocation fail and see what is still held afterwards. Only the nothrow forms
// ever fail: the plugin allocates with them where a result code is the contract, while the
// test framework uses the throwing ones.
#pragma once

#include <cstddef>

namespace testsupport {

// Makes the n-th nothrow allocation from now on fail (n >= 1); 0 disarms.
void FailNothrowAllocation(size_t n);
// Whether the armed failure has happened since it was armed.
bool AllocationFailed();
// Blocks held through operator new right now.
size_t LiveAllocations();
// The most bytes held through operator new at once since the last call of ResetPeakBytes.
size_t PeakBytes();
void ResetPeakBytes();

}  // namespace testsupport
