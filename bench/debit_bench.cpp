// SPDX-License-Identifier: MIT
// One whole debit (iDoDebit) of 0.01 on the modelled demonstration card
// through the virtual reader, with the holder's PIN from the keypad: wall
// time per call, the exchanges and HID reports it takes, the calling
// thread's CPU time, and the wall time as a ratio of the protocol's floor
// (protocol_floor.h), measured before the debit is timed.
#include <benchmark/benchmark.h>

#include <chrono>
#include <string>

#include "cards/reader_device.h"
#include "kestrel.h"
#include "profile.h"
#include "protocol_floor.h"
#include "virtual_reader.h"

namespace {

using Clock = std::chrono::steady_clock;

// The holder types the PIN for the next debit (the keypad's answer comes
// from the virtual reader at once).
void typePin() {
    auto r = vr::VirtualReader::instance().reader();
    std::dynamic_pointer_cast<vr::ReaderDevice>(r->slot(0x00).card)->keypad().type("123456");
}

long debitOnce(char *out) {
    std::string cardInfo = "430105D1560000050000000000000042|K43000042|", payInfo = "0.01|0|20240401103000|";
    typePin();
    return iDoDebit(1, &cardInfo[0], &payInfo[0], out);
}

void BM_DoDebit(benchmark::State &state) {
    bench::Floor floor = bench::measureFloor();
    vr::VirtualReader::instance().plug();
    // The demonstration profile (a version-2 card of algorithm 2 and its
    // PSAM) with the PIN 123456 and a purse that lasts.
    vr::Profile p = vr::demoProfile();
    p.card->pin = "123456";
    p.card->purse.balance = 0xFFFFFFF0u;
    vr::insertProfile(*vr::VirtualReader::instance().reader(), p);
    char out[KESTREL_DEBIT_OUT_SIZE];
    if (debitOnce(out) != 0) {
        state.SkipWithError("iDoDebit failed");
        return;
    }
    vr::VirtualReader::instance().reader()->clearTrace();

    double cpu0 = bench::threadCpuSeconds();
    auto t0 = Clock::now();
    for (auto _ : state) {
        if (debitOnce(out) != 0) state.SkipWithError("iDoDebit failed");
    }
    double wall = std::chrono::duration<double>(Clock::now() - t0).count();
    bench::reportAgainstFloor(state, floor, wall, bench::threadCpuSeconds() - cpu0);
}
BENCHMARK(BM_DoDebit)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);

}  // namespace
