/* The floor of the wedge's idle processor use (bench_host WedgeIdle): a bare
 * process that sleeps 1 ms in a loop, as the wedge's event watch polls. */
#include <time.h>

int main(void) {
    for (;;) {
        struct timespec ms = {0, 1000000};
        nanosleep(&ms, 0);
    }
}
