// SPDX-License-Identifier: MIT
// Rows of the data-item read and write on the demonstration card
// (version 2), a file of every structure: record items, a fixed record, a
// composite item (which asks for the PIN), the cyclic records and a
// transparent file.  The write records the card's state: each item it
// writes, on the card and as iReadCard shows it.
#include <memory>

#include "cards/reader_device.h"
#include "cards/ss_card.h"
#include "fault_matrix.h"
#include "kestrel.h"
#include "virtual_reader.h"

namespace faults {
namespace {

const char kCardInfo[] = "430105D1560000050000000000000042|K43000042|";
const char kWriteAddresses[] = "SSSEEF05|02|05|$DF01EF07|29|$DF02EF05|43:2|$DF02EF07|$DF01EF16|$";
const char kWriteData[] =
    "SSSEEF05|XYZ|20251231|$DF01EF07|Y|$DF02EF05|ABC^1^XYZ^2024^Q^|$DF02EF07|ABC^20240101^20251231^XYZ^|$"
    "DF01EF16|A1B2|$";

Outcome read(const std::string &addresses) {
    std::string info = kCardInfo, addr = addresses;
    GuardedBuffer out(KESTREL_READCARD_OUT_SIZE, 0);
    long rc = iReadCard(1, 1, &info[0], &addr[0], out.text());
    return Outcome{rc, {bytesOf(out)}};
}

std::shared_ptr<vr::SsCard> theCard() {
    return std::dynamic_pointer_cast<vr::SsCard>(vr::VirtualReader::instance().reader()->slot(0x01).card);
}

// The written items on the card: the records of the items, every record
// of the cyclic file, the transparent file's content.
std::vector<std::string> writtenOnCard() {
    std::shared_ptr<vr::SsCard> card = theCard();
    if (!card) return {};
    std::string cyclic;
    for (const vr::Bytes &r : card->file(0xDF02, 0xEF07)->records) cyclic += vr::toHex(r) + ";";
    return {vr::toHex(card->record(0, 0xEF05, 0x02)),       vr::toHex(card->record(0, 0xEF05, 0x05)),
            vr::toHex(card->record(0xDF01, 0xEF07, 0x29)),  vr::toHex(card->record(0xDF02, 0xEF05, 0x43, 2)),
            cyclic,                                         vr::toHex(card->file(0xDF01, 0xEF16)->content)};
}

// The same items as a host reads them: the holder types the PIN for the
// composite item on the reader as it is, card and all.
std::vector<std::string> writtenAsRead() {
    {
        auto r = vr::VirtualReader::instance().reader();
        std::dynamic_pointer_cast<vr::ReaderDevice>(r->slot(0x00).card)->keypad().type("123456");
    }
    Outcome o = read("SSSEEF05|02|05|$DF01EF07|29|$DF02EF05|43:2|$DF02EF07|$DF01EF16|$");
    if (o.code != 0) return std::vector<std::string>(6, "failed: " + std::to_string(o.code));
    // The fields of the groups, without their file addresses.
    std::vector<std::string> fields;
    const std::string text = o.outputs[0].substr(0, o.outputs[0].find('\0'));
    size_t start = 0;
    for (size_t dollar; (dollar = text.find('$', start)) != std::string::npos; start = dollar + 1) {
        const std::string group = text.substr(start, dollar - start);
        const size_t first = group.find('|') + 1;
        if (group.compare(0, 8, "DF02EF07") == 0) {
            fields.push_back(group.substr(first));  // every record: one part
            continue;
        }
        for (size_t from = first, bar; (bar = group.find('|', from)) != std::string::npos; from = bar + 1)
            fields.push_back(group.substr(from, bar - from));
    }
    return fields;
}

// The card's refusal of a cyclic record ends the records, the first
// among them (a file without records reads as an empty group).
bool cyclicRecordRead(size_t k, const std::vector<Step> &s) {
    const vr::Bytes &c = s[k].command;
    return c.size() == 5 && c[0] == 0x00 && c[1] == 0xB2 && c[3] == 0x04 && c[4] == 0x1C;
}

const Row kRows[] = {
    {"iReadCard",
     [] {
         freshCards({"123456"});
         return read("SSSEEF05|07|$DF01EF07|29|$DF02EF05|43:1|$DF04EF08|$DF01EF16|$");
     },
     TextRule::PinTable, cyclicRecordRead},
    {"iWriteCard",
     [] {
         std::string info = kCardInfo, addr = kWriteAddresses, data = kWriteData;
         GuardedBuffer out(KESTREL_WRITECARD_OUT_SIZE, 0);
         long rc = iWriteCard(1, &info[0], &addr[0], &data[0], out.text());
         return Outcome{rc, {bytesOf(out)}};
     },
     TextRule::CardTable, firstPsamPowerOn, 0, false, CardState{[] { freshCards(); }, writtenOnCard, writtenAsRead}},
};

}  // namespace

FAULT_MATRIX_ROWS(ReadWrite, kRows);

}  // namespace faults
