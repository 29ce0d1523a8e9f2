// Counts heap allocations made during time steps once growth has finished.
// Its own executable, because it replaces the global operator new.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "sim/core/setup.h"
#include "sim/core/time_step.h"

namespace {
std::atomic<long> allocations{0};
}

void* operator new(std::size_t size)
{
    allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
void* operator new(std::size_t size, std::align_val_t alignment)
{
    allocations.fetch_add(1, std::memory_order_relaxed);
    const std::size_t a = static_cast<std::size_t>(alignment);
    if (void* p = std::aligned_alloc(a, (size + a - 1) / a * a)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }

TEST(Allocation, TimeStepAllocatesNothing)
{
    Simulation sim;
    sim.controls.Edit_anzAg = "30";
    sim.controls.CB_migrate = true;
    FormCreate(sim);
    for (int i = 0; i < 15; ++i) TimeStep(sim);  // growth reaches its maximum, the helper thread exists
    const long before = allocations.load();
    for (int i = 0; i < 20; ++i) TimeStep(sim);
    EXPECT_EQ(allocations.load() - before, 0);
    sim.controls.CB_decay = true;
    sim.controls.CB_gravity = true;
    TimeStep(sim);
    EXPECT_EQ(allocations.load() - before, 0);
}
