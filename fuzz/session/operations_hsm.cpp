// SPDX-License-Identifier: MIT
// Entries of the step sequences in which the host's security module
// computes the cryptograms: each entry runs one sequence as a host does,
// Step 1, then the later step with the module's answer, which comes from
// the host (the fuzzer's input) like every other argument; the seeds have
// the software module's answer to the request Step 1 wrote.
#include "kestrel.h"
#include "operations.h"

using fuzzreader::broken;
using fuzzreader::expectCardResult;
using fuzzreader::expectLogbufTerminated;
using fuzzreader::HostBytes;
using fuzzreader::Out;

namespace {

constexpr size_t kMaxText = 4096;
const char kCardInfo[] = "430105D1560000050000000000000042|K43000042|";

// A step that left a sequence open: the handle that getHandler reports.
void expectOpen(const char *op, long code) {
    if (code == 0 && getHandler() < 0) broken(op, "Step 1 succeeded without an open sequence");
    if (code != 0 && getHandler() != -11 && getHandler() != 0) broken(op, "a failed step left a sequence open");
}

// A refused PIN (a file that needs the PIN as well) writes its retry text,
// not the table's.
void expectStepResult(const char *op, long code, const Out &out) {
    if (code == -51)
        fuzzreader::expectTextWithin(op, out);
    else
        expectCardResult(op, code, out);
}

}  // namespace

KESTREL_FUZZ_OPERATION(iReadCard_HSM) {
    int type = host.integer(1);
    HostBytes info = host.text(kCardInfo, kMaxText);
    HostBytes addr = host.text("DF01EF05|20|$", kMaxText);
    Out step1(KESTREL_HSM_OUT_SIZE);
    long rc = iReadCard_HSM_Step1(type, info.text(), addr.text(), step1.text());
    expectStepResult("iReadCard_HSM_Step1", rc, step1);
    expectOpen("iReadCard_HSM_Step1", rc);
    HostBytes answer = host.hsmAnswer(step1.text(), kMaxText);
    Out step2(KESTREL_HSM_READ_OUT_SIZE);
    long rc2 = iReadCard_HSM_Step2(answer.text(), step2.text());
    expectCardResult("iReadCard_HSM_Step2", rc2, step2);
    if (getHandler() != -11) broken("iReadCard_HSM_Step2", "the last step left the reader open");
    expectLogbufTerminated("iReadCard_HSM");
    host.outcome(rc != 0 ? rc : rc2, {&step1, &step2});
}

KESTREL_FUZZ_OPERATION(iWriteCard_HSM) {
    int type = host.integer(1);
    HostBytes info = host.text(kCardInfo, kMaxText);
    HostBytes addr = host.text("DF01EF05|20|$", kMaxText);
    HostBytes data = host.text("DF01EF05|AB|$", kMaxText);
    Out step1(KESTREL_HSM_OUT_SIZE);
    long rc = iWriteCard_HSM_Step1(type, info.text(), addr.text(), step1.text());
    expectCardResult("iWriteCard_HSM_Step1", rc, step1);
    expectOpen("iWriteCard_HSM_Step1", rc);
    HostBytes answer = host.hsmAnswer(step1.text(), kMaxText);
    Out step2(KESTREL_HSM_OUT_SIZE);
    long rc2 = iWriteCard_HSM_Step2(answer.text(), data.text(), step2.text());
    expectCardResult("iWriteCard_HSM_Step2", rc2, step2);
    if (getHandler() != -11) broken("iWriteCard_HSM_Step2", "the last step left the reader open");
    expectLogbufTerminated("iWriteCard_HSM");
    host.outcome(rc != 0 ? rc : rc2, {&step1, &step2});
}

// The holder's PIN comes from the keypad, whose answers are the reader's.
KESTREL_FUZZ_OPERATION(iDoDebit_HSM) {
    int type = host.integer(1);
    HostBytes info = host.text(kCardInfo, kMaxText);
    HostBytes pay = host.text("12.50|3.00|20240401103000|", kMaxText);
    Out step1(KESTREL_HSM_OUT_SIZE);
    long rc = iDoDebit_HSM_Step1(type, info.text(), pay.text(), step1.text());
    expectStepResult("iDoDebit_HSM_Step1", rc, step1);
    expectOpen("iDoDebit_HSM_Step1", rc);
    HostBytes answer = host.hsmAnswer(step1.text(), kMaxText);
    Out step2(KESTREL_HSM_OUT_SIZE);
    long rc2 = iDoDebit_HSM_Step2(answer.text(), step2.text());
    expectCardResult("iDoDebit_HSM_Step2", rc2, step2);
    if (getHandler() != -11) broken("iDoDebit_HSM_Step2", "the last step left the reader open");
    expectLogbufTerminated("iDoDebit_HSM");
    host.outcome(rc != 0 ? rc : rc2, {&step1, &step2});
}
