// Rows of the step sequences with the host's security module, played by
// the software module of the reader's profile.  A row is a whole sequence
// as a host runs it; the text of a failure is in the output of the step
// that failed.  The write row also checks what the card holds after each
// call: the value asked for when the host was told of success, and
// otherwise the old value or the new one (the host, told of a failure,
// reads the item back to know which), never anything else.
#include <memory>

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

const Row kRows[] = {
    {"iReadCard_HSM", [] { return itemSequence(false, ""); }, TextRule::CardTable, noOptionalStep},
    {"iWriteCard_HSM", writeItem, TextRule::CardTable, noOptionalStep},
};

}  // namespace

FAULT_MATRIX_ROWS(Hsm, kRows);

}  // namespace faults
