#pragma once

// Asks the system to end this thread's timed sleeps on time.
//
// Linux lets a timed sleep run up to 50 us past its end by default, so that it
// can wake several sleepers at once. Between the ticks of a 1 ms timer that is
// a twentieth of every tick lost whenever a step ends before the next tick is
// due. Threads started afterwards inherit the setting. Elsewhere this does
// nothing.
void EndSleepsOnTime();
