/* The floor of the wedge's idle processor use (bench_host WedgeIdle): a bare
 * process that sleeps 1 ms in a loop, as the wedge's event watch polls. Its
 * sleeps keep time as finely as the platform's Sleep does (the finest timer
 * slack): with the default slack it would wake about 5 % less often, and the
 * ratio would count passes, not their cost. */
#include <sys/prctl.h>
#include <time.h>

int main(void) {
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    for (;;) {
        struct timespec ms = {0, 1000000};
        nanosleep(&ms, 0);
    }
}
