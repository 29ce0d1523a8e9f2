#pragma once
#include <cstdint>

// What the model asks of the operating system, in one place.

// The machine's physical memory in bytes; 0 when the system does not tell.
std::uint64_t PhysicalMemoryBytes();
