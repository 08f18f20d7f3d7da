// SPDX-License-Identifier: MIT
// Rows of the step sequences with the host's security module, played by
// the software module of the reader's profile.  A row is a whole sequence
// as a host runs it; the text of a failure is in the output of the step
// that failed.  The write row also checks what the card holds after each
// call: the value asked for when the host was told of success, and
// otherwise the old value or the new one (the host, told of a failure,
// reads the item back to know which), never anything else.
#include <memory>

#include "cards/reader_device.h"
#include "cards/ss_card.h"
#include "fault_matrix.h"
#include "kestrel.h"
#include "profile.h"
#include "soft_hsm.h"
#include "virtual_reader.h"

namespace faults {
namespace {

const char kCardInfo[] = "430105D1560000050000000000000042|K43000042|";

// The module's answer to a request; empty when it has none (a request
// spoilt by a fault), which the next step refuses.
std::string moduleAnswer(const char *request) {
    static const vr::SoftHsm module = vr::softHsmFor(vr::demoProfile());
    std::string reply, error;
    return module.answer(request, &reply, &error) ? reply : std::string();
}

std::shared_ptr<vr::SsCard> cardInReader() {
    auto r = vr::VirtualReader::instance().reader();
    return std::dynamic_pointer_cast<vr::SsCard>(r->slot(0x01).card);
}

// Step 1 of a data-item sequence, then its Step 2 with the module's
// answer; the outcome holds the output of the step that ended it.
Outcome itemSequence(bool write, const std::string &data) {
    std::string info = kCardInfo, addr = "DF01EF05|20|$";
    GuardedBuffer out1(KESTREL_HSM_OUT_SIZE);
    long rc = (write ? iWriteCard_HSM_Step1 : iReadCard_HSM_Step1)(1, &info[0], &addr[0], out1.text());
    if (rc != 0) return Outcome{rc, {bytesOf(out1)}};
    std::string answer = moduleAnswer(out1.text());
    std::string values = data;
    GuardedBuffer out2(write ? KESTREL_HSM_OUT_SIZE : KESTREL_HSM_READ_OUT_SIZE);
    rc = write ? iWriteCard_HSM_Step2(&answer[0], &values[0], out2.text())
               : iReadCard_HSM_Step2(&answer[0], out2.text());
    return Outcome{rc, {bytesOf(out2)}};
}

Outcome writeItem() {
    auto card = cardInReader();
    const vr::Bytes before = card ? card->record(0xDF01, 0xEF05, 0x20) : vr::Bytes();
    // Each call writes the other of two values, so that a write shows.
    const vr::Bytes wanted = before == vr::Bytes{'A', 'A'} ? vr::Bytes{'B', 'B'} : vr::Bytes{'A', 'A'};
    Outcome o = itemSequence(true, "DF01EF05|" + std::string(wanted.begin(), wanted.end()) + "|$");
    if (card) {
        const vr::Bytes after = card->record(0xDF01, 0xEF05, 0x20);
        if (o.code == 0)
            EXPECT_EQ(after, wanted) << "success reported without the write";
        else
            EXPECT_TRUE(after == before || after == wanted) << "the item left neither old nor new";
    }
    return o;
}

// Step 1 of the debit (the holder typing the PIN), then Step 2 with the
// module's answer.  A failed Step 2 may come with a debited card; the host
// then looks among the card's records for the transaction serial of Step
// 1's request, and the row checks that this tells it the truth: a record
// of that serial exactly when the balance is lower, by the amount.  The
// outcome leaves out what differs from one debit to the next (the MAC2 and
// TAC of the result).
Outcome debitSequence() {
    auto card = cardInReader();
    auto device = std::dynamic_pointer_cast<vr::ReaderDevice>(vr::VirtualReader::instance().reader()->slot(0x00).card);
    if (device && device->keypad().pending() == 0) device->keypad().type("123456");
    const uint32_t before = card ? card->balance() : 0;
    std::string info = kCardInfo, pay = "0|0.01|20240401103000|";
    GuardedBuffer out1(KESTREL_HSM_OUT_SIZE);
    long rc = iDoDebit_HSM_Step1(1, &info[0], &pay[0], out1.text());
    if (card) {
        EXPECT_EQ(card->balance(), before) << "Step 1 changed the balance";
    }
    if (rc != 0) return Outcome{rc, {bytesOf(out1)}};
    const std::string request = out1.text();
    std::string answer = moduleAnswer(out1.text());
    GuardedBuffer out2(KESTREL_HSM_OUT_SIZE);
    rc = iDoDebit_HSM_Step2(&answer[0], out2.text());
    std::string text = out2.text();
    if (card) {
        const bool debited = card->balance() != before;
        if (debited) {
            EXPECT_EQ(card->balance(), before - 1) << "the balance moved by another amount";
        }
        const std::vector<vr::Bytes> records = card->purseRecords();
        // alg|017F|random|serial|...
        const std::string serial = request.substr(17, 4);
        const bool recorded = !records.empty() && records[0].size() >= 2 && vr::hex(serial) == vr::Bytes(records[0].begin(), records[0].begin() + 2);
        EXPECT_EQ(recorded, debited) << "the record of serial " << serial << " tells another story";
        EXPECT_TRUE(rc != 0 || debited) << "success reported without the debit";
    }
    if (rc == 0 && text.size() > 9) text = text.substr(9, text.size() - 18);  // without MAC2 and TAC
    return Outcome{rc, {rc == 0 ? text : bytesOf(out2)}};
}

// The PSAM gives the debit its terminal number; a PSAM that cannot be
// powered and prepared, or has no terminal file, leaves it zero and the
// debit goes on.  Only the reading of the file fails the debit.
bool psamPreparation(size_t k, const std::vector<Step> &session) {
    const Step &s = session[k];
    return s.slot >= 0x11 && s.slot <= 0x14 && !(s.command.size() > 1 && s.command[1] == 0xB0);
}

const Row kRows[] = {
    {"iReadCard_HSM", [] { return itemSequence(false, ""); }, TextRule::CardTable, noOptionalStep},
    {"iWriteCard_HSM", writeItem, TextRule::CardTable, noOptionalStep},
    {"iDoDebit_HSM", debitSequence, TextRule::CardTable, psamPreparation},
};

}  // namespace

FAULT_MATRIX_ROWS(Hsm, kRows);

}  // namespace faults
