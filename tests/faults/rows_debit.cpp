// SPDX-License-Identifier: MIT
// Rows of the debit, the transaction records and the PIN trial on the
// demonstration card (500.00 in its purse, two records, PIN 123456) and its
// PSAM.  The debit records the card's state: the balance with the newest
// transaction record on the card, and that record as iReadDebitRecord
// shows it.  A failure that leaves the card debited must say so in the
// call log (the "debit not confirmed" line).
#include <cstring>
#include <memory>

#include "cards/reader_device.h"
#include "cards/ss_card.h"
#include "fault_matrix.h"
#include "kestrel.h"
#include "virtual_reader.h"

namespace faults {
namespace {

const char kCardInfo[] = "430105D1560000050000000000000042|K43000042|";
const char kPayInfo[] = "12.50|3.00|20240401103000|";
const char kUnconfirmed[] = "debit not confirmed";

void typePin() {
    auto r = vr::VirtualReader::instance().reader();
    std::dynamic_pointer_cast<vr::ReaderDevice>(r->slot(0x00).card)->keypad().type("123456");
}

Outcome records() {
    typePin();
    GuardedBuffer out(KESTREL_DEBIT_RECORDS_SIZE, 0);
    long rc = iReadDebitRecord(1, out.text());
    return Outcome{rc, {bytesOf(out)}};
}

// Whether the last debit's call log owned up to a debit it could not
// confirm.
bool debitUnconfirmed = false;

Outcome debit() {
    typePin();
    std::string info = kCardInfo, pay = kPayInfo;
    GuardedBuffer out(KESTREL_DEBIT_OUT_SIZE, 0);
    long rc = iDoDebit(1, &info[0], &pay[0], out.text());
    debitUnconfirmed = strstr(logbuf, kUnconfirmed) != nullptr;
    return Outcome{rc, {bytesOf(out)}};
}

// The balance and the newest record as the card holds them.
std::vector<std::string> purseOnCard() {
    auto card = std::dynamic_pointer_cast<vr::SsCard>(vr::VirtualReader::instance().reader()->slot(0x01).card);
    if (!card) return {"no card"};
    const vr::CardFile *f = card->file(0xDF04, 0xEF08);
    const std::string newest = f && !f->records.empty() ? vr::toHex(f->records.front()) : "";
    return {std::to_string(card->balance()) + " " + newest};
}

// The newest record as a host reads it.
std::vector<std::string> newestRecordAsRead() {
    Outcome o = records();
    if (o.code != 0) return {"failed: " + std::to_string(o.code)};
    const std::string &text = o.outputs[0];
    return {text.substr(0, text.find('|'))};
}

// The card's refusal of a record after the first ends the records.
bool laterRecordRead(size_t k, const std::vector<Step> &s) {
    const vr::Bytes &c = s[k].command;
    return c.size() == 5 && c[0] == 0x00 && c[1] == 0xB2 && c[2] > 1 && c[3] == 0x04;
}

const Row kRows[] = {
    {"iDoDebit", debit, TextRule::PinTable, firstPsamPowerOn, 0, false,
     CardState{[] { freshCards(); }, purseOnCard, newestRecordAsRead, [] { return debitUnconfirmed; }}},
    {"iReadDebitRecord",
     [] {
         freshCards();
         return records();
     },
     TextRule::PinTable, laterRecordRead},
    {"iTryPIN",
     [] {
         freshCards();
         std::string pin = "123456";
         GuardedBuffer out(KESTREL_TRY_PIN_OUT_SIZE, 0);
         long rc = iTryPIN(1, &pin[0], out.text());
         return Outcome{rc, {bytesOf(out)}};
     },
     TextRule::PinTable, noOptionalStep},
};

}  // namespace

FAULT_MATRIX_ROWS(Debit, kRows);

}  // namespace faults
