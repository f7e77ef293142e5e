// Child processes of tests, which end with their test however it ends.
#pragma once

#include <sys/types.h>

namespace testchild {

// Forks like fork(): returns the child's pid in the parent, 0 in the child,
// -1 on failure. The child is killed (SIGKILL) when the thread that forked it
// ends: the test's end, a crash, or ctest's SIGKILL at a time-out alike, and
// it keeps that through exec (a wedge started by a test ends with it too). A
// child whose test ended before the child could ask for that ends at once.
// Fork from the thread that lives as long as the child should (the test's).
pid_t forkTestChild();

}  // namespace testchild
