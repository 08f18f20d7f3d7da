// SPDX-License-Identifier: MIT
// Cost of one exchange on the USB link through the virtual reader, and of
// its parts: the drain read that precedes every message is a fixed 5 ms
// wait that the protocol mandates.
#include <benchmark/benchmark.h>
#include <libusb.h>

#include <ctime>

#include "kestrel.h"
#include "reader/reader.h"
#include "virtual_reader.h"

namespace {

class EchoCard : public vr::Card {
public:
    vr::Bytes reset() override { return vr::hex("3B 00"); }
    vr::Bytes transmit(const vr::Bytes &c) override { return vr::withStatus(c, 0x9000); }
};

long openEchoReader() {
    vr::VirtualReader &bus = vr::VirtualReader::instance();
    bus.plug();
    {
        auto r = bus.reader();
        r->insert(0x01, std::make_shared<EchoCard>());
        r->slot(0x01).powered = true;
    }
    return CT_open("hid1", 0, 0);
}

// CPU time of the calling thread: the library, libusb and the client side
// of umockdev's preload, but not the virtual reader's own thread.
double threadCpuSeconds() {
    timespec ts;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

// One exchange: a 5-byte command and a 10-byte answer.
void BM_Exchange(benchmark::State &state) {
    long dev = openEchoReader();
    unsigned char cmd[5] = {0x00, 0x84, 0x00, 0x00, 0x08}, rsp[KESTREL_MAX_RESPONSE];
    int len = 0;
    double cpu0 = threadCpuSeconds();
    for (auto _ : state) {
        int sw = ICC_tsi_api(dev, 5, cmd, &len, rsp);
        if (sw != 0x9000) state.SkipWithError("exchange failed");
    }
    state.counters["caller_cpu_ms"] = benchmark::Counter(
        (threadCpuSeconds() - cpu0) * 1e3, benchmark::Counter::kAvgIterations);
    CT_close(dev);
}
BENCHMARK(BM_Exchange)->Unit(benchmark::kMillisecond)->UseRealTime();

// An exchange whose command and answer each take five reports.
void BM_ExchangeLong(benchmark::State &state) {
    long dev = openEchoReader();
    unsigned char cmd[261] = {0x00, 0xD6, 0x00, 0x00, 0xFF}, rsp[KESTREL_MAX_RESPONSE];
    int len = 0;
    for (auto _ : state) {
        if (ICC_tsi_api(dev, 261, cmd, &len, rsp) != 0x9000) state.SkipWithError("exchange failed");
    }
    CT_close(dev);
}
BENCHMARK(BM_ExchangeLong)->Unit(benchmark::kMillisecond)->UseRealTime();

// The protocol's own floor for an exchange: the 5 ms drain read.
void BM_DrainRead(benchmark::State &state) {
    long dev = openEchoReader();
    auto *d = reinterpret_cast<ReaderDevice *>(dev);
    unsigned char buf[64];
    int got = 0;
    for (auto _ : state)
        libusb_interrupt_transfer(d->handle, d->inEndpoint, buf, 64, &got, kestrel::drainTimeoutMs);
    CT_close(dev);
}
BENCHMARK(BM_DrainRead)->Unit(benchmark::kMillisecond)->UseRealTime();

// Opening and closing the reader (enumeration, claim).
void BM_OpenClose(benchmark::State &state) {
    vr::VirtualReader::instance().plug();
    for (auto _ : state) {
        long h = ICC_Reader_Open("USB1");
        if (h < 0) state.SkipWithError("open failed");
        ICC_Reader_Close(h);
    }
}
BENCHMARK(BM_OpenClose)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
