#include "tests/support/test_child.h"

#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

namespace testchild {

pid_t forkTestChild() {
    pid_t parent = getpid();
    pid_t pid = fork();
    if (pid == 0) {
        // Asked in the child, so the parent's death between fork and here is
        // seen by the parent's pid being gone.
        if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || getppid() != parent) _exit(127);
    }
    return pid;
}

}  // namespace testchild
