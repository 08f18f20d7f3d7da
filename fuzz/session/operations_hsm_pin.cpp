// SPDX-License-Identifier: MIT
// Entries of the step sequences of the basic information, the PIN reload
// and the PIN unblock, whose cryptograms come from the host's security
// module: one entry per sequence, calling every step in turn as a
// host does, each later step with the module's answer to the text of the
// step before (from the host's bytes).  The steps are called even after a
// failed one: a later step must then find the sequence closed.
#include <vector>

#include "kestrel.h"
#include "operations.h"

using fuzzreader::broken;
using fuzzreader::expectCardResult;
using fuzzreader::expectLogbufTerminated;
using fuzzreader::expectNoReaderOpen;
using fuzzreader::HostArgs;
using fuzzreader::HostBytes;
using fuzzreader::Out;

namespace {

constexpr const char kCardInfo[] = "430105D1560000050000000000000042|K43000042|";
constexpr size_t kMaxHostText = 4096;
// Longer than any answer a step takes.
constexpr size_t kMaxAnswer = 300;
constexpr long kFirstReaderHandle = 1650;
constexpr long kLastReaderHandle = 1999;

// The checks after one step; `last` for the step that ends the sequence.
// Returns the sequence's result so far: its first failure, or 0.
long afterStep(const char *op, long rc, const Out &out, bool last, long soFar) {
    expectCardResult(op, rc, out);
    expectLogbufTerminated(op);
    if (rc != 0 || last) {
        expectNoReaderOpen(op);
    } else if (getHandler() < kFirstReaderHandle || getHandler() > kLastReaderHandle) {
        broken(op, "a step succeeded without leaving its reader open");
    }
    return soFar != 0 ? soFar : rc;
}

// The three steps of a PIN reload or unblock.
void pinSequence(HostArgs &host, const char *op, long (*step1)(int, char *, char *), long (*step2)(char *, char *),
                 long (*step3)(char *, char *)) {
    int type = host.integer(1);
    HostBytes info = host.text(kCardInfo, kMaxHostText);
    Out challenge(KESTREL_HSM_OUT_SIZE), request(KESTREL_HSM_OUT_SIZE), done(KESTREL_HSM_OUT_SIZE);
    long rc = afterStep(op, step1(type, info.text(), challenge.text()), challenge, false, 0);
    HostBytes cryptogram = host.hsmAnswer(challenge.text(), kMaxAnswer);
    rc = afterStep(op, step2(cryptogram.text(), request.text()), request, false, rc);
    HostBytes command = host.hsmAnswer(request.text(), kMaxAnswer);
    long last = step3(command.text(), done.text());
    rc = afterStep(op, last, done, true, rc);
    if (last == 0 && done.bytes()[0] != 0) broken(op, "success without the empty text");
    host.outcome(rc, {&challenge, &request, &done});
}

}  // namespace

KESTREL_FUZZ_OPERATION(iReadCardBas_HSM) {
    const char *op = "iReadCardBas_HSM";
    int type = host.integer(1);
    Out cardData(KESTREL_HSM_CARD_DATA_SIZE), info(KESTREL_BASEINFO_SIZE);
    long rc = afterStep(op, iReadCardBas_HSM_Step1(type, cardData.text()), cardData, false, 0);
    HostBytes answer = host.hsmAnswer(cardData.text(), kMaxAnswer);
    rc = afterStep(op, iReadCardBas_HSM_Step2(answer.text(), info.text()), info, true, rc);
    host.outcome(rc, {&cardData, &info});
}

KESTREL_FUZZ_OPERATION(iReloadPIN_HSM) {
    pinSequence(host, "iReloadPIN_HSM", iReloadPIN_HSM_Step1, iReloadPIN_HSM_Step2, iReloadPIN_HSM_Step3);
}

KESTREL_FUZZ_OPERATION(iUnblockPIN_HSM) {
    pinSequence(host, "iUnblockPIN_HSM", iUnblockPIN_HSM_Step1, iUnblockPIN_HSM_Step2, iUnblockPIN_HSM_Step3);
}
