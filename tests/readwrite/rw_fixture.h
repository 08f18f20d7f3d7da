/* SPDX-License-Identifier: MIT */
// Fixture of the data-item tests: the demonstration card (of the version a
// test chooses) with its PSAM, keypad and reader in the virtual reader,
// iReadCard and iWriteCard called with caller buffers of exactly the
// documented sizes, and the commands the reader received.
#pragma once

#include <algorithm>
#include <string>

#include "guarded_buffer.h"
#include "pin/pin_fixture.h"

namespace rwtest {

using pintest::gb;
using pintest::kCardInfo;
using sectest::at;
using sectest::Seq;
using vr::Bytes;
using vr::hex;

// The demonstration card, made a card of another version, its transaction
// records left out so that a test's own records are the only ones.
inline vr::Profile demoVersion(int version) {
    vr::Profile p = pintest::demoWith();
    p.card->purse.records.clear();
    p.card->version = version;
    p.card->versionText = {static_cast<uint8_t>('0' + version), '.', '0', '0'};
    return p;
}

struct Result {
    long rc;
    std::string text;
};

class ReadWriteTest : public pintest::PinTest {
protected:
    void useVersion(int version) { load(demoVersion(version)); }

    Result read(std::string addr, int authType = 1, std::string info = kCardInfo) {
        GuardedBuffer out(KESTREL_READCARD_OUT_SIZE);
        long rc = iReadCard(1, authType, &info[0], &addr[0], out.text());
        return {rc, out.str()};
    }
    Result write(std::string addr, std::string data, std::string info = kCardInfo) {
        GuardedBuffer out(KESTREL_WRITECARD_OUT_SIZE);
        long rc = iWriteCard(1, &info[0], &addr[0], &data[0], out.text());
        return {rc, out.str()};
    }

    // What the card saw of a call refused after the card's selection: the
    // card search's power-on and selectSSSE, then nothing (for a write, the
    // PSAM's power-on and application too).
    static Seq selectionOnly(bool write = false) {
        using namespace sectest;
        Seq s{at(1, kPowerOn), at(1, kPowerOn), at(1, kSelectApp), at(1, "00 C0 00 00 1D"),
              at(1, kSelectEF05), at(1, kReadVersion), at(1, kReadCardId)};
        if (write) s = s + Seq{at(0x11, kPowerOn), at(0x11, kSelectSx2), at(0x11, "00 C0 00 00 13")};
        return s;
    }
    // The card commands with an instruction byte among ins.
    static Seq commandsWith(std::initializer_list<uint8_t> ins) {
        Seq out;
        auto r = reader();
        for (const auto &e : r->trace()) {
            const vr::SlotInfo *info = vr::slotByNad(e.nad);
            if (info && info->slot == 0x01 && e.command.size() > 1 &&
                std::find(ins.begin(), ins.end(), e.command[1]) != ins.end())
                out.push_back(at(1, vr::toHex(e.command)));
        }
        return out;
    }
    static Seq writes() { return commandsWith({0xDC, 0xD6}); }

    static std::string errorLine(long rc) {
        return "getErrorInf, code:" + std::to_string(rc) + ", error info " + errorText(static_cast<int>(rc)) + "\r\n";
    }
};

}  // namespace rwtest
