// Makes one allocation of this thread fail: the next operator new throws std::bad_alloc. For
// tests of what the code does when memory runs out at a point the test chooses (through a fake
// of the sockets seam that arms it just before the code under test allocates). Linked into the
// test program only, where it replaces the global operator new and delete.
#pragma once

namespace host {

void FailNextAllocation();

}  // namespace host
