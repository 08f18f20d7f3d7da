// SPDX-License-Identifier: MIT
// Rows of the reader-handle API: a host's open, one slot call, and close.
// The result is the slot call's (or the open's, when that fails).
#include "fault_matrix.h"
#include "kestrel.h"

namespace faults {
namespace {

const vr::Bytes kSelect = vr::hex("00 A4 04 00 0F 73 78 31 2E 73 68 2E C9 E7 BB E1 B1 A3 D5 CF");

template <typename Body>
Outcome onReader(Body body) {
    long h = ICC_Reader_Open("USB1");
    if (h < 0) return Outcome{h, {}};
    Outcome o = body(h);
    ICC_Reader_Close(h);
    return o;
}

Outcome powerOn(unsigned char slot) {
    return onReader([slot](long h) {
        GuardedBuffer atr(50, 0);
        long rc = ICC_Reader_PowerOn(h, slot, atr.text());
        return Outcome{rc, {bytesOf(atr)}};
    });
}

// A slot call after powering the slot: the power-on's result is not used.
bool firstStep(size_t k, const std::vector<Step> &) { return k == 0; }

// Powering off sends the slot's status command and then the power-off,
// whose answer it does not use; a status other than "no card" or "reader
// error" lets it go ahead.
bool anyStep(size_t, const std::vector<Step> &) { return true; }

const Row kRows[] = {
    {"ICC_Reader_PowerOn_card", [] { return powerOn(0x01); }, TextRule::None, noOptionalStep},
    {"ICC_Reader_PowerOn_psam", [] { return powerOn(0x11); }, TextRule::None, noOptionalStep},
    {"ICC_Reader_PowerOn_module", [] { return powerOn(0x1B); }, TextRule::None, noOptionalStep},
    {"ICC_Reader_GetStatus",
     [] {
         return onReader([](long h) {
             GuardedBuffer atr(50, 0);
             ICC_Reader_PowerOn(h, 0x11, atr.text());
             return Outcome{ICC_Reader_GetStatus(h, 0x11), {}};
         });
     },
     TextRule::None, firstStep},
    {"ICC_Reader_PowerOff",
     [] { return onReader([](long h) { return Outcome{ICC_Reader_PowerOff(h, 0x1B), {}}; }); }, TextRule::None,
     anyStep},
    {"ICC_Reader_Application",
     [] {
         return onReader([](long h) {
             GuardedBuffer atr(50, 0), rsp(KESTREL_MAX_RESPONSE, 0);
             ICC_Reader_PowerOn(h, 0x01, atr.text());
             vr::Bytes cmd = kSelect;
             long rc = ICC_Reader_Application(h, 0x01, static_cast<long>(cmd.size()), cmd.data(), rsp.bytes());
             return Outcome{rc, {bytesOf(rsp)}};
         });
     },
     TextRule::None, firstStep, 0, true},
};

}  // namespace

FAULT_MATRIX_ROWS(Reader, kRows);

}  // namespace faults
