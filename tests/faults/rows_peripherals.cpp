// SPDX-License-Identifier: MIT
// Rows of the scanner, stripe and device-information calls.  Their
// buffers are cleared first, as the header asks of callers.
#include "fault_matrix.h"
#include "kestrel.h"

namespace faults {
namespace {

template <long (*Call)(char *), size_t Size = KESTREL_SCAN_ANSWER_SIZE>
Outcome module() {
    GuardedBuffer out(Size, 0);
    long rc = Call(out.text());
    return Outcome{rc, {bytesOf(out)}};
}

template <long (*Call)(int, char *), int Arg>
Outcome moduleWith() {
    GuardedBuffer out(KESTREL_SCAN_ANSWER_SIZE, 0);
    long rc = Call(Arg, out.text());
    return Outcome{rc, {bytesOf(out)}};
}

// The device information leaves out what it cannot get: every step.
bool anyStep(size_t, const std::vector<Step> &) { return true; }

const Row kRows[] = {
    {"Checkmod_Auto", module<Checkmod_Auto>, TextRule::OwnText, noOptionalStep},
    {"Checkmod_Cmd", module<Checkmod_Cmd>, TextRule::OwnText, noOptionalStep},
    {"SendScanCmd", module<SendScanCmd>, TextRule::OwnText, noOptionalStep},
    {"GetScanMode", module<GetScanMode, KESTREL_SCAN_MODE_SIZE>, TextRule::OwnText, noOptionalStep},
    {"ReadMagInfo", module<ReadMagInfo>, TextRule::OwnText, noOptionalStep},
    {"iGetQRBase", moduleWith<iGetQRBase, 8>, TextRule::OwnText, noOptionalStep},
    {"iGetQRCode", moduleWith<iGetQRCode, 8>, TextRule::OwnText, noOptionalStep},
    {"SetScanLedMode", moduleWith<SetScanLedMode, 2>, TextRule::OwnText, noOptionalStep},
    {"SetMagTrip", moduleWith<SetMagTrip, 2>, TextRule::OwnText, noOptionalStep},
    {"iGetDeviceInfo", module<iGetDeviceInfo, KESTREL_DEVICE_INFO_SIZE>, TextRule::CardTable, anyStep},
};

}  // namespace

FAULT_MATRIX_ROWS(Peripherals, kRows);

}  // namespace faults
