#include "ui/wake_ups.h"

#if defined(__linux__)
#include <sys/prctl.h>
#endif

void EndSleepsOnTime()
{
#if defined(__linux__)
    // The smallest slack the call accepts: 1 ns. A failure leaves the default,
    // which only makes the ticks a little late.
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
#endif
}
