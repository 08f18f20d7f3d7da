// What the protocol itself costs a card call: the 5 ms drain read before
// every message and the virtual reader's own time per HID report, both
// measured on an echo card, and the counters that set a call's wall time
// against that floor.
#pragma once

#include <benchmark/benchmark.h>

namespace bench {

struct Floor {
    double drain = 0;      // seconds per drain read
    double perReport = 0;  // seconds per report
};

// Measures the floor on a freshly plugged reader with an echo card; plug
// the reader again afterwards.
Floor measureFloor();

// CPU time of the calling thread: the library, libusb and the client side
// of umockdev's preload, but not the virtual reader's own thread.
double threadCpuSeconds();

// Sets the counters of state.iterations() calls that took `wall` and
// `cpu` seconds, from the reader's trace of exactly those calls:
// exchanges, OUT and IN reports, the calling thread's CPU time, the floor
// per call and the ratio of the wall time to it.
void reportAgainstFloor(benchmark::State &state, const Floor &floor, double wall, double cpu);

}  // namespace bench
