// SPDX-License-Identifier: MIT
// Entries of the debit, the transaction records and the PIN trial.  The
// holder's PIN comes from the keypad (the reader's answers) for the debit
// and the records, from the host for the trial.
#include <cstring>

#include "kestrel.h"
#include "operations.h"

using fuzzreader::broken;
using fuzzreader::expectLogbufTerminated;
using fuzzreader::expectNoReaderOpen;
using fuzzreader::expectPinResult;
using fuzzreader::HostBytes;
using fuzzreader::Out;

namespace {

constexpr const char kCardInfo[] = "430105D1560000050000000000000042|K43000042|";
constexpr size_t kMaxHostText = 4096;
// "alg|00B5|AAAAAAAABBBBBBBB|32|terminal|serial|YYYYMMDDhhmmss|TAC|".
constexpr size_t kDebitTextLength = 74;
constexpr int kDebitTextFields = 8;

void expectCommon(const char *op) {
    expectLogbufTerminated(op);
    expectNoReaderOpen(op);
}

}  // namespace

KESTREL_FUZZ_OPERATION(iDoDebit) {
    int type = host.integer(1);
    HostBytes info = host.text(kCardInfo, kMaxHostText);
    HostBytes pay = host.text("12.50|3.00|20240401103000|", kMaxHostText);
    Out out(KESTREL_DEBIT_OUT_SIZE);
    long rc = iDoDebit(type, info.text(), pay.text(), out.text());
    expectPinResult("iDoDebit", rc, out);
    if (rc == 0) {
        const char *text = out.text();
        int bars = 0;
        for (const char *c = text; *c; c++) bars += *c == '|';
        if (strlen(text) != kDebitTextLength || bars != kDebitTextFields) broken("iDoDebit", "success without its text");
    }
    expectCommon("iDoDebit");
    host.outcome(rc, {&out});
}

KESTREL_FUZZ_OPERATION(iReadDebitRecord) {
    int type = host.integer(1);
    Out out(KESTREL_DEBIT_RECORDS_SIZE);
    long rc = iReadDebitRecord(type, out.text());
    expectPinResult("iReadDebitRecord", rc, out);
    if (rc == 0) {
        // One field or more, each of five parts ending in "^", then "|".
        const char *text = out.text();
        const size_t n = strlen(text);
        if (n == 0 || text[n - 1] != '|') broken("iReadDebitRecord", "success without a record");
        int carets = 0;
        for (const char *c = text; *c; c++) {
            if (*c == '^') carets++;
            if (*c != '|') continue;
            if (carets != 5) broken("iReadDebitRecord", "a record of another shape");
            carets = 0;
        }
    }
    expectCommon("iReadDebitRecord");
    host.outcome(rc, {&out});
}

KESTREL_FUZZ_OPERATION(iTryPIN) {
    int type = host.integer(1);
    HostBytes pin = host.text("123456", kMaxHostText);
    Out out(KESTREL_TRY_PIN_OUT_SIZE);
    long rc = iTryPIN(type, pin.text(), out.text());
    expectPinResult("iTryPIN", rc, out);
    if (rc == 0 && out.bytes()[0] != 0) broken("iTryPIN", "success without the empty text");
    expectCommon("iTryPIN");
    host.outcome(rc, {&out});
}
