// SPDX-License-Identifier: MIT
// Entries of the identity-card reads.
#include "kestrel.h"
#include "operations.h"
#include "othercards/othercards.h"

using fuzzreader::broken;
using fuzzreader::expectTextWithin;
using fuzzreader::Out;

KESTREL_FUZZ_OPERATION(iReadIdentityCard) {
    Out out(KESTREL_ID_OUT_SIZE);
    long rc = iReadIdentityCard(out.text());
    if (rc > 0) broken("iReadIdentityCard", "positive result");
    expectTextWithin("iReadIdentityCard", out);
    host.outcome(rc, {&out});
}

KESTREL_FUZZ_OPERATION(iReadSFZ) {
    Out out(KESTREL_ID_OUT_SIZE);
    long rc = iReadSFZ(out.text());
    if (rc > 0) broken("iReadSFZ", "positive result");
    expectTextWithin("iReadSFZ", out);
    host.outcome(rc, {&out});
}

KESTREL_FUZZ_OPERATION(IDC_ReadIDCard) {
    Out out(KESTREL_ID_OUT_SIZE), photo(KESTREL_ID_PHOTO_HEX_SIZE);
    long rc = IDC_ReadIDCard(out.text(), photo.text());
    if (rc > 0) broken("IDC_ReadIDCard", "positive result");
    expectTextWithin("IDC_ReadIDCard", out);
    if (rc == 0) expectTextWithin("IDC_ReadIDCard", photo);
    host.outcome(rc, {&out, &photo});
}
