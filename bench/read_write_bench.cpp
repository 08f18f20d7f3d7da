// SPDX-License-Identifier: MIT
// iReadCard of one item of each file structure of the modelled
// demonstration card, and of the largest transparent file (8192 bytes of a
// version-3 card), through the virtual reader: wall time per call, the
// exchanges and HID reports it takes, the calling thread's CPU time, and
// the wall time as a ratio of the protocol's floor (protocol_floor.h).  Protected
// files are opened with the PSAM (authentication type 2), which is part of
// each call.
#include <benchmark/benchmark.h>

#include <chrono>
#include <string>

#include "cards/ss_card.h"
#include "kestrel.h"
#include "profile.h"
#include "protocol_floor.h"
#include "reader.h"
#include "virtual_reader.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Case {
    const char *name;
    int version;
    const char *request;
};

const Case kCases[] = {
    {"tlv_record", 2, "SSSEEF05|07|$"},            // free
    {"fixed_record", 2, "DF01EF07|29|$"},          // PSAM key 88
    {"composite_occurrence_2", 2, "DF02EF05|43:2|$"},  // PSAM key 88
    {"cyclic_8_records", 2, "DF04EF15|$"},         // PSAM key 84
    {"transparent_296", 2, "DF01EF16|$"},          // free
    {"transparent_8192", 3, "SSSEEF08|$"},         // PSAM key 0A
};

void BM_ReadCardItem(benchmark::State &state) {
    const Case &c = kCases[state.range(0)];
    state.SetLabel(c.name);
    bench::Floor floor = bench::measureFloor();
    vr::VirtualReader::instance().plug();
    vr::Profile p = vr::demoProfile();
    p.card->version = c.version;
    p.card->versionText = {static_cast<uint8_t>('0' + c.version), '.', '0', '0'};
    {
        auto r = vr::VirtualReader::instance().reader();
        vr::insertProfile(*r, p);
        auto card = std::dynamic_pointer_cast<vr::SsCard>(r->slot(0x01).card);
        for (int i = 0; i < 8; i++) card->addCyclicRecord(0xDF04, 0xEF15, vr::hex("12 34 41"));
    }
    std::string info = "430105D1560000050000000000000042|K43000042|";
    std::string request = c.request;
    std::string out(KESTREL_READCARD_OUT_SIZE, '\0');
    if (iReadCard(1, 2, &info[0], &request[0], &out[0]) != 0) {
        state.SkipWithError(("iReadCard failed: " + std::string(out.c_str())).c_str());
        return;
    }
    vr::VirtualReader::instance().reader()->clearTrace();

    double cpu0 = bench::threadCpuSeconds();
    auto t0 = Clock::now();
    for (auto _ : state) {
        if (iReadCard(1, 2, &info[0], &request[0], &out[0]) != 0) state.SkipWithError("iReadCard failed");
    }
    double wall = std::chrono::duration<double>(Clock::now() - t0).count();
    bench::reportAgainstFloor(state, floor, wall, bench::threadCpuSeconds() - cpu0);
}
BENCHMARK(BM_ReadCardItem)
    ->DenseRange(0, sizeof kCases / sizeof kCases[0] - 1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MinTime(2.0);

}  // namespace
