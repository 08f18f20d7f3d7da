// SPDX-License-Identifier: MIT
#include "protocol_floor.h"

#include <libusb.h>

#include <chrono>
#include <ctime>
#include <memory>

#include "kestrel.h"
#include "reader/reader.h"
#include "virtual_reader.h"

namespace bench {

namespace {

using Clock = std::chrono::steady_clock;

class Echo : public vr::Card {
public:
    vr::Bytes reset() override { return vr::hex("3B 00"); }
    vr::Bytes transmit(const vr::Bytes &c) override { return vr::withStatus(c, 0x9000); }
};

}  // namespace

double threadCpuSeconds() {
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

// An exchange of a 5-byte command takes one drain read, one OUT and one IN
// report.
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

void reportAgainstFloor(benchmark::State &state, const Floor &floor, double wall, double cpu) {
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

}  // namespace bench
