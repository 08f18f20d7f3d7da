// SPDX-License-Identifier: MIT
// Rows of the identity-card reads.
#include "fault_matrix.h"
#include "kestrel.h"
#include "othercards/othercards.h"

namespace faults {
namespace {

// The signal that the card has been read (80 F2 00 01 00 to the reader):
// its answer is not used.
bool readDone(size_t k, const std::vector<Step> &s) { return s[k].slot == 0x00; }

// IDC_ReadIDCard asks for the module's status and does not use the
// answer.
bool moduleStatus(size_t k, const std::vector<Step> &s) { return s[k].command == vr::hex("00 14 00 00 00"); }

const Row kRows[] = {
    {"iReadIdentityCard",
     [] {
         GuardedBuffer out(KESTREL_ID_OUT_SIZE);
         long rc = iReadIdentityCard(out.text());
         return Outcome{rc, {bytesOf(out)}};
     },
     TextRule::OwnText, readDone},
    {"iReadSFZ",
     [] {
         GuardedBuffer out(KESTREL_ID_OUT_SIZE);
         long rc = iReadSFZ(out.text());
         return Outcome{rc, {bytesOf(out)}};
     },
     TextRule::OwnText, readDone},
    {"IDC_ReadIDCard",
     [] {
         GuardedBuffer out(KESTREL_ID_OUT_SIZE), photo(KESTREL_ID_PHOTO_HEX_SIZE);
         long rc = IDC_ReadIDCard(out.text(), photo.text());
         return Outcome{rc, {bytesOf(out), bytesOf(photo)}};
     },
     TextRule::OwnText, moduleStatus},
};

}  // namespace

FAULT_MATRIX_ROWS(IdCard, kRows);

}  // namespace faults
