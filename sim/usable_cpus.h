#pragma once

// How many CPUs this process may run on: its affinity mask where the platform
// has one (a process pinned to one core counts one, whatever the machine has),
// else the hardware's count; at least 1.
int UsableCpuCount();
