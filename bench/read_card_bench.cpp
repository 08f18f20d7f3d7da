// One whole basic information read (iReadCardBas) of the modelled
// version-2 demonstration card through the virtual reader: wall time per call, the exchanges and HID
// reports it takes, the calling thread's CPU time, and the wall time as a
// ratio of the protocol's floor.  The floor is what the protocol itself
// mandates for those messages: the 5 ms drain read before every message,
// plus the virtual reader's own time per report, both measured here on an
// echo card before the read is timed.
#include <benchmark/benchmark.h>
#include <libusb.h>

#include <chrono>
#include <ctime>
#include <memory>

#include "profile.h"
#include "kestrel.h"
#include "reader/reader.h"
#include "virtual_reader.h"

namespace {

using Clock = std::chrono::steady_clock;

double threadCpuSeconds() {
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

class Echo : public vr::Card {
public:
    vr::Bytes reset() override { return vr::hex("3B 00"); }
    vr::Bytes transmit(const vr::Bytes &c) override { return vr::withStatus(c, 0x9000); }
};

// Seconds per drain read and per report, measured on an echo card: an
// exchange of a 5-byte command takes one drain read, one OUT and one IN
// report.
struct Floor {
    double drain = 0;
    double perReport = 0;
};

Floor measureFloor() {
    vr::VirtualReader &bus = vr::VirtualReader::instance();
    bus.plug();
    {
        auto r = bus.reader();
        r->insert(0x01, std::make_shared<Echo>());
        r->slot(0x01).powered = true;
    }
    long dev = CT_open("hid1", 0, 0);
    auto *d = reinterpret_cast<ReaderDevice *>(dev);
    constexpr int kRounds = 40;
    unsigned char buf[KESTREL_MAX_RESPONSE];
    int got = 0;
    auto t0 = Clock::now();
    for (int i = 0; i < kRounds; i++)
        libusb_interrupt_transfer(d->handle, d->inEndpoint, buf, 64, &got, kestrel::drainTimeoutMs);
    auto t1 = Clock::now();
    unsigned char cmd[5] = {0x00, 0x84, 0x00, 0x00, 0x08};
    for (int i = 0; i < kRounds; i++) ICC_tsi_api(dev, 5, cmd, &got, buf);
    auto t2 = Clock::now();
    CT_close(dev);
    Floor f;
    f.drain = std::chrono::duration<double>(t1 - t0).count() / kRounds;
    double exchange = std::chrono::duration<double>(t2 - t1).count() / kRounds;
    f.perReport = exchange > f.drain ? (exchange - f.drain) / 2 : 0;
    return f;
}

// The demonstration profile: a version-2 card of algorithm 2, a PSAM with
// its terminal file, and the reader's device number.
void insertCards() {
    auto r = vr::VirtualReader::instance().reader();
    vr::insertProfile(*r, vr::demoProfile());
}

void BM_ReadCardBas(benchmark::State &state) {
    Floor floor = measureFloor();
    vr::VirtualReader::instance().plug();
    insertCards();
    char out[KESTREL_BASEINFO_SIZE];
    if (iReadCardBas(1, out) != 0) {
        state.SkipWithError("iReadCardBas failed");
        return;
    }
    vr::VirtualReader::instance().reader()->clearTrace();

    double cpu0 = threadCpuSeconds();
    auto t0 = Clock::now();
    for (auto _ : state) {
        if (iReadCardBas(1, out) != 0) state.SkipWithError("iReadCardBas failed");
    }
    double wall = std::chrono::duration<double>(Clock::now() - t0).count();
    double cpu = threadCpuSeconds() - cpu0;

    size_t exchanges = 0, inReports = 0, outReports = 0;
    {
        auto r = vr::VirtualReader::instance().reader();
        exchanges = r->trace().size();
        for (const auto &e : r->trace())
            if (e.answered) inReports += vr::Reader::split(e.nad, e.response).size();
        outReports = r->outReports().size();
    }
    double n = static_cast<double>(state.iterations());
    double perCall = wall / n;
    double floorPerCall = (exchanges / n) * floor.drain + ((inReports + outReports) / n) * floor.perReport;
    state.counters["exchanges"] = exchanges / n;
    state.counters["out_reports"] = outReports / n;
    state.counters["in_reports"] = inReports / n;
    state.counters["caller_cpu_ms"] = cpu / n * 1e3;
    state.counters["floor_ms"] = floorPerCall * 1e3;
    state.counters["ratio_to_floor"] = perCall / floorPerCall;
    state.counters["drain_ms"] = floor.drain * 1e3;
    state.counters["report_us"] = floor.perReport * 1e6;
}
BENCHMARK(BM_ReadCardBas)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);

}  // namespace
