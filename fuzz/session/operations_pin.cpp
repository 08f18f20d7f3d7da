// SPDX-License-Identifier: MIT
// Entries of the PIN operations and the host's own keypad entry.  The
// keypad's answers are the reader's like any other.
#include <cstring>

#include "kestrel.h"
#include "operations.h"

using fuzzreader::broken;
using fuzzreader::expectLogbufTerminated;
using fuzzreader::expectNoReaderOpen;
using fuzzreader::expectPinResult;
using fuzzreader::expectTextWithin;
using fuzzreader::HostArgs;
using fuzzreader::HostBytes;
using fuzzreader::Out;

namespace {

// The demonstration card's card-info text (the seeds' set-ups give their
// own card's).
constexpr const char kCardInfo[] = "430105D1560000050000000000000042|K43000042|";
constexpr size_t kMaxHostText = 4096;

// "PIN校验成功" and "PIN修改成功".
constexpr const char kVerified[] = "PIN\xD0\xA3\xD1\xE9\xB3\xC9\xB9\xA6";
constexpr const char kChanged[] = "PIN\xD0\xDE\xB8\xC4\xB3\xC9\xB9\xA6";

// The checks of every PIN call: its code and text, and on success the
// text the operation documents.
void expectPinCall(const char *op, long rc, const Out &out, const char *successText) {
    expectPinResult(op, rc, out);
    if (rc == 0 && strcmp(reinterpret_cast<const char *>(out.bytes()), successText) != 0)
        broken(op, "success without its text");
    expectLogbufTerminated(op);
    expectNoReaderOpen(op);
}

void withCardInfo(HostArgs &host, const char *op, long (*call)(int, char *, char *)) {
    int type = host.integer(1);
    HostBytes info = host.text(kCardInfo, kMaxHostText);
    Out out(KESTREL_PIN_OUT_SIZE);
    long rc = call(type, info.text(), out.text());
    expectPinCall(op, rc, out, "");
    host.outcome(rc, {&out});
}

}  // namespace

KESTREL_FUZZ_OPERATION(iVerifyPIN) {
    int type = host.integer(1);
    Out out(KESTREL_PIN_OUT_SIZE);
    long rc = iVerifyPIN(type, out.text());
    expectPinCall("iVerifyPIN", rc, out, kVerified);
    host.outcome(rc, {&out});
}

KESTREL_FUZZ_OPERATION(iChangePIN) {
    int type = host.integer(1);
    Out out(KESTREL_PIN_OUT_SIZE);
    long rc = iChangePIN(type, out.text());
    expectPinCall("iChangePIN", rc, out, kChanged);
    host.outcome(rc, {&out});
}

KESTREL_FUZZ_OPERATION(iReloadPIN) { withCardInfo(host, "iReloadPIN", iReloadPIN); }
KESTREL_FUZZ_OPERATION(iUnblockPIN) { withCardInfo(host, "iUnblockPIN", iUnblockPIN); }

KESTREL_FUZZ_OPERATION(iGetPassword) {
    int mode = host.integer(1);
    Out out(KESTREL_PASSWORD_SIZE);
    long rc = iGetPassword(mode, out.text());
    if (rc != 0 && rc != -6 && rc != -11 && rc != -14) broken("iGetPassword", "an undocumented result");
    expectTextWithin("iGetPassword", out);
    expectLogbufTerminated("iGetPassword");
    expectNoReaderOpen("iGetPassword");
    host.outcome(rc, {&out});
}
