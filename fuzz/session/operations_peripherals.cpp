// SPDX-License-Identifier: MIT
// Entries of the scanner, stripe and device-information calls.  On success
// the scanner and stripe calls copy the module's answer without a NUL; the
// answer is at most KESTREL_SCAN_ANSWER_SIZE - 2 bytes, so the cleared
// buffer still ends in NULs.
#include "kestrel.h"
#include "operations.h"

using fuzzreader::broken;
using fuzzreader::expectTextWithin;
using fuzzreader::HostArgs;
using fuzzreader::Out;

namespace {

void module(HostArgs &host, const char *op, long (*call)(char *)) {
    Out out(KESTREL_SCAN_ANSWER_SIZE);
    long rc = call(out.text());
    if (rc > 0) broken(op, "positive result");
    if (out.bytes()[out.size() - 2] != 0) broken(op, "answer past KESTREL_SCAN_ANSWER_SIZE - 2");
    expectTextWithin(op, out);
    host.outcome(rc, {&out});
}

void moduleWithArgument(HostArgs &host, const char *op, int fallback, long (*call)(int, char *)) {
    int arg = host.integer(fallback);
    Out out(KESTREL_SCAN_ANSWER_SIZE);
    long rc = call(arg, out.text());
    if (rc > 0) broken(op, "positive result");
    if (out.bytes()[out.size() - 2] != 0) broken(op, "answer past KESTREL_SCAN_ANSWER_SIZE - 2");
    expectTextWithin(op, out);
    host.outcome(rc, {&out});
}

}  // namespace

KESTREL_FUZZ_OPERATION(Checkmod_Auto) { module(host, "Checkmod_Auto", Checkmod_Auto); }
KESTREL_FUZZ_OPERATION(Checkmod_Cmd) { module(host, "Checkmod_Cmd", Checkmod_Cmd); }
KESTREL_FUZZ_OPERATION(SendScanCmd) { module(host, "SendScanCmd", SendScanCmd); }
KESTREL_FUZZ_OPERATION(ReadMagInfo) { module(host, "ReadMagInfo", ReadMagInfo); }
KESTREL_FUZZ_OPERATION(iGetQRBase) { moduleWithArgument(host, "iGetQRBase", 8, iGetQRBase); }
KESTREL_FUZZ_OPERATION(iGetQRCode) { moduleWithArgument(host, "iGetQRCode", 8, iGetQRCode); }
KESTREL_FUZZ_OPERATION(SetScanLedMode) { moduleWithArgument(host, "SetScanLedMode", 2, SetScanLedMode); }
KESTREL_FUZZ_OPERATION(SetMagTrip) { moduleWithArgument(host, "SetMagTrip", 2, SetMagTrip); }

KESTREL_FUZZ_OPERATION(GetScanMode) {
    Out out(KESTREL_SCAN_MODE_SIZE);
    long rc = GetScanMode(out.text());
    if (rc > 0) broken("GetScanMode", "positive result");
    expectTextWithin("GetScanMode", out);
    host.outcome(rc, {&out});
}

KESTREL_FUZZ_OPERATION(iGetDeviceInfo) {
    Out out(KESTREL_DEVICE_INFO_SIZE);
    long rc = iGetDeviceInfo(out.text());
    if (rc != 0 && rc != -11) broken("iGetDeviceInfo", "a result other than 0 and -11");
    expectTextWithin("iGetDeviceInfo", out);
    host.outcome(rc, {&out});
}
