// SPDX-License-Identifier: MIT
// Entries of the reader layers: a host's own sequence of reader-handle
// calls, and of link calls on a device handle.  The host's steps come from
// its arguments: a step number, then the step's arguments.
#include <cstring>
#include <vector>

#include "kestrel.h"
#include "operations.h"

using fuzzreader::broken;
using fuzzreader::HostArgs;
using fuzzreader::HostBytes;
using fuzzreader::Out;

namespace {

constexpr int kMaxSteps = 16;
constexpr size_t kMaxCommand = 300;
constexpr int kAtrSize = 50;
constexpr int kLibinfoSize = 18;

// SELECT of the social-security application, a command hosts send.
const std::vector<uint8_t> kSelect = {0x00, 0xA4, 0x04, 0x00, 0x0F, 's', 'x', '1', '.', 's',
                                      'h', '.', 0xC9, 0xE7, 0xBB, 0xE1, 0xB1, 0xA3, 0xD5, 0xCF};

enum ReaderStep { kOpen, kClose, kPowerOn, kPowerOff, kGetStatus, kApplication, kLibinfo, kReaderSteps };

// Arguments are taken from the host one statement at a time: the order in
// which a call's arguments are evaluated differs between compilers, and the
// seeds are written by one and read by another.

// A handle the host holds: one it was given, picked by number, or any
// value at all.
long pick(HostArgs &host, const std::vector<long> &held) {
    int which = host.integer(0);
    if (which >= 0 && static_cast<size_t>(which) < held.size()) return held[which];
    if (which < 0 || which >= 1000 || held.empty()) return which;
    return held.back();
}

// The outcome of a sequence: the result of each step.  Handles are left
// out: they are addresses, different from run to run.
void outcomeOf(HostArgs &host, const std::vector<long> &results) {
    Out all(results.size() * sizeof(long));
    for (size_t i = 0; i < results.size(); i++) {
        long r = results[i] >= 1650 && results[i] <= 1999 ? 1650 : results[i];
        memcpy(all.bytes() + i * sizeof r, &r, sizeof r);
    }
    host.outcome(0, {&all});
}

}  // namespace

KESTREL_FUZZ_OPERATION(ICC_Reader) {
    static const int kDefaultSteps[] = {kOpen, kPowerOn, kApplication, kGetStatus, kPowerOff, kLibinfo, kClose};
    const int count = host.integer(sizeof kDefaultSteps / sizeof kDefaultSteps[0]);
    std::vector<long> held, results;
    for (int i = 0; i < count && i < kMaxSteps; i++) {
        int fallback = i < static_cast<int>(sizeof kDefaultSteps / sizeof kDefaultSteps[0]) ? kDefaultSteps[i] : kClose;
        int step = host.integer(fallback);
        step = ((step % kReaderSteps) + kReaderSteps) % kReaderSteps;
        switch (step) {
        case kOpen: {
            HostBytes port = host.text("USB1", 16);
            long h = ICC_Reader_Open(port.text());
            results.push_back(h);
            if (h >= 0 && (h < 1650 || h > 1999)) broken("ICC_Reader_Open", "handle outside 1650..1999");
            if (h >= 0) held.push_back(h);
            break;
        }
        case kClose:
            results.push_back(ICC_Reader_Close(pick(host, held)));
            break;
        case kPowerOn: {
            long h = pick(host, held);
            Out atr(kAtrSize);
            long n = ICC_Reader_PowerOn(h, static_cast<unsigned char>(host.integer(0x01)), atr.text());
            if (n > kAtrSize - 2 && n != 256) broken("ICC_Reader_PowerOn", "answer longer than its buffer");
            results.push_back(n);
            break;
        }
        case kPowerOff: {
            long h = pick(host, held);
            results.push_back(ICC_Reader_PowerOff(h, static_cast<unsigned char>(host.integer(0x01))));
            break;
        }
        case kGetStatus: {
            long h = pick(host, held);
            results.push_back(ICC_Reader_GetStatus(h, static_cast<unsigned char>(host.integer(0x01))));
            break;
        }
        case kApplication: {
            long h = pick(host, held);
            unsigned char slot = static_cast<unsigned char>(host.integer(0x01));
            HostBytes cmd = host.bytes(kSelect, kMaxCommand);
            Out rsp(KESTREL_MAX_RESPONSE);
            long n = ICC_Reader_Application(h, slot, static_cast<long>(cmd.size()), cmd.bytes(), rsp.bytes());
            if (n > KESTREL_MAX_RESPONSE) broken("ICC_Reader_Application", "response longer than its buffer");
            results.push_back(n);
            break;
        }
        case kLibinfo: {
            Out info(kLibinfoSize);
            ICC_Reader_Libinfo(info.text());
            break;
        }
        }
    }
    for (long h : held) ICC_Reader_Close(h);
    outcomeOf(host, results);
}

namespace {
enum LinkStep { kCtOpen, kCtClose, kSetNad, kTsi, kWrite, kRead, kLinkSteps };
}

KESTREL_FUZZ_OPERATION(ICC_tsi_api) {
    static const int kDefaultSteps[] = {kCtOpen, kSetNad, kTsi, kCtClose};
    const int count = host.integer(sizeof kDefaultSteps / sizeof kDefaultSteps[0]);
    std::vector<long> held, results;
    for (int i = 0; i < count && i < kMaxSteps; i++) {
        int fallback = i < static_cast<int>(sizeof kDefaultSteps / sizeof kDefaultSteps[0]) ? kDefaultSteps[i] : kCtClose;
        int step = host.integer(fallback);
        step = ((step % kLinkSteps) + kLinkSteps) % kLinkSteps;
        switch (step) {
        case kCtOpen:
            if (long d = CT_open("hid1", 0, 0)) held.push_back(d);
            break;
        case kCtClose:
            if (!held.empty()) {
                CT_close(held.back());
                held.pop_back();
            }
            break;
        case kSetNad:
            ICC_set_NAD(held.empty() ? 0 : held.back(), static_cast<unsigned char>(host.integer(0x12)));
            break;
        case kTsi: {
            HostBytes cmd = host.bytes({0x00, 0x12, 0x00, 0x00, 0x00}, kMaxCommand);
            Out rsp(KESTREL_MAX_RESPONSE);
            int len = -1;
            int sw = ICC_tsi_api(held.empty() ? 0 : held.back(), static_cast<int>(cmd.size()), cmd.bytes(), &len,
                                 rsp.bytes());
            if (sw != 0x6FF0 && (len < 0 || len > KESTREL_MAX_RESPONSE - 2))
                broken("ICC_tsi_api", "response length outside its buffer");
            results.push_back(sw);
            break;
        }
        case kWrite: {
            HostBytes msg = host.bytes({0x00, 0x14, 0x00, 0x00, 0x00}, kMaxCommand);
            results.push_back(Hid_WriteCRW(held.empty() ? 0 : held.back(), msg.bytes(), static_cast<int>(msg.size())));
            break;
        }
        case kRead: {
            Out rsp(KESTREL_MAX_RESPONSE);
            int len = -1;
            int sw = Hid_ReadCRW(held.empty() ? 0 : held.back(), rsp.bytes(), &len);
            if (sw != 0x6FF0 && (len < 0 || len > KESTREL_MAX_RESPONSE - 2))
                broken("Hid_ReadCRW", "response length outside its buffer");
            results.push_back(sw);
            break;
        }
        }
    }
    for (long d : held) CT_close(d);
    outcomeOf(host, results);
}
