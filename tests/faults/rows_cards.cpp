// SPDX-License-Identifier: MIT
// Rows of the social-security card's reads, the bank-card number, the
// card-type probe and the PSAM's encryption for hosts.
#include "fault_matrix.h"
#include "kestrel.h"

namespace faults {
namespace {

bool isSelect(const vr::Bytes &c) { return c.size() >= 4 && c[0] == 0x00 && c[1] == 0xA4 && c[2] == 0x04; }
bool isReadRecord(const vr::Bytes &c) { return c.size() == 5 && c[0] == 0x00 && c[1] == 0xB2; }

// The basic information shows the PSAM's terminal number as zeros without
// a PSAM and the device number as an empty field without one.
bool basicInfoOptional(size_t k, const std::vector<Step> &s) {
    return (s[k].slot >= 0x11 && s[k].slot <= 0x14) || s[k].slot == 0x00;
}

// The record search of the bank-card number passes over records that
// cannot be read: every READ RECORD after the application's selection.
bool recordSearch(size_t k, const std::vector<Step> &s) {
    if (!isReadRecord(s[k].command)) return false;
    for (size_t i = 0; i < k; i++)
        if (isSelect(s[i].command) && s[i].command.size() > 5 && s[i].command[5] != '1') return true;
    return false;
}

// PSAMDes2 on a reader the host opened.  It returns the PSAM's status word
// itself (a positive value) on a refusal; the matrix reads failures as
// negative codes, so that word is negated here.
Outcome psamDes2() {
    long h = ICC_Reader_Open("USB1");
    if (h < 0) return Outcome{h, {}};
    std::vector<unsigned char> div(24, 0x11), data(8, 0x22), random(8, 0x33);
    GuardedBuffer out(256, 0);
    unsigned int len = 0;
    long rc = PSAMDes2(h, 0x48, 0x01, div.data(), 24, data.data(), 8, out.bytes(), &len, random.data(), 8);
    ICC_Reader_Close(h);
    return Outcome{rc > 0 ? -rc : rc, {bytesOf(out), std::to_string(len)}};
}

const Row kRows[] = {
    {"PSAMDes2", psamDes2, TextRule::None, noOptionalStep},
    {"iReadCardBas",
     [] {
         GuardedBuffer out(KESTREL_BASEINFO_SIZE);
         long rc = iReadCardBas(1, out.text());
         return Outcome{rc, {bytesOf(out)}};
     },
     TextRule::CardTable, basicInfoOptional},
    {"iReadBankNo",
     [] {
         GuardedBuffer out(KESTREL_BANKNO_SIZE, 0);
         long rc = iReadBankNo(1, out.text());
         return Outcome{rc, {bytesOf(out)}};
     },
     TextRule::OwnText, recordSearch},
    {"iReadCardType",
     [] {
         GuardedBuffer type(6, 0), region(7, 0), version(100, 0);
         long rc = iReadCardType(type.text(), region.text(), version.text());
         return Outcome{rc, {bytesOf(type), bytesOf(region), bytesOf(version)}};
     },
     TextRule::CardTable, noOptionalStep, 2},
};

}  // namespace

FAULT_MATRIX_ROWS(Cards, kRows);

}  // namespace faults
