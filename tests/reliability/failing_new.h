// Makes the program's operator new fail on demand: the throwing forms
// throw std::bad_alloc, the nothrow forms return null. The device's code
// is linked into the test program, so its allocations go through here;
// the platform's own (Wine's, COM's) do not.
#pragma once

#include <cstddef>

namespace failing_new {

// Counting starts anew: allocation number `ordinal` (0-based) from now on
// fails, in whichever thread it happens.
void FailAllocation(long ordinal);
// From now on every allocation succeeds; the count of failures stays.
void Disarm();
// Allocations made to fail since the last FailAllocation.
long Failures();

}  // namespace failing_new
