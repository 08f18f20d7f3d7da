// SPDX-License-Identifier: MIT
// Entries of the data-item read and write.  The default request names a
// file of every structure on the demonstration card (version 2): a record
// file, a fixed record, a composite item, the cyclic debit records and a
// transparent file; the composite item and the debit records ask for the
// PIN on the keypad.
#include <cstring>

#include "kestrel.h"
#include "operations.h"

using fuzzreader::broken;
using fuzzreader::expectCardResult;
using fuzzreader::expectLogbufTerminated;
using fuzzreader::expectNoReaderOpen;
using fuzzreader::expectPinResult;
using fuzzreader::HostBytes;
using fuzzreader::Out;

namespace {

constexpr const char kCardInfo[] = "430105D1560000050000000000000042|K43000042|";
// Longer than any request the checks let through, so that the fuzzer
// reaches the bounds of the splitting too.
constexpr size_t kMaxHostText = 2 * KESTREL_ROW_SIZE;

}  // namespace

KESTREL_FUZZ_OPERATION(iReadCard) {
    int type = host.integer(1);
    int authType = host.integer(1);
    HostBytes info = host.text(kCardInfo, kMaxHostText);
    HostBytes addresses = host.text("SSSEEF05|07|$DF01EF07|29|$DF02EF05|43:1|$DF04EF08|$DF01EF16|$", kMaxHostText);
    Out out(KESTREL_READCARD_OUT_SIZE);
    long rc = iReadCard(type, authType, info.text(), addresses.text(), out.text());
    expectPinResult("iReadCard", rc, out);
    expectLogbufTerminated("iReadCard");
    expectNoReaderOpen("iReadCard");
    host.outcome(rc, {&out});
}

KESTREL_FUZZ_OPERATION(iWriteCard) {
    int type = host.integer(1);
    HostBytes info = host.text(kCardInfo, kMaxHostText);
    HostBytes addresses = host.text("SSSEEF05|02|05|$DF01EF07|29|$DF02EF05|43:2|$DF02EF07|$DF01EF16|$", kMaxHostText);
    HostBytes data = host.text(
        "SSSEEF05|XYZ|2024030112|$DF01EF07|Y|$DF02EF05|ABC^1^XYZ^2024^Q^|$DF02EF07|ABC^20240101^20251231^XYZ^|$"
        "DF01EF16|A1B2|$",
        kMaxHostText);
    Out out(KESTREL_WRITECARD_OUT_SIZE);
    long rc = iWriteCard(type, info.text(), addresses.text(), data.text(), out.text());
    expectCardResult("iWriteCard", rc, out);
    if (rc == 0 && out.bytes()[0] != 0) broken("iWriteCard", "success without the empty text");
    expectLogbufTerminated("iWriteCard");
    expectNoReaderOpen("iWriteCard");
    host.outcome(rc, {&out});
}
