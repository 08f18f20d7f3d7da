// SPDX-License-Identifier: MIT
// The names vreader's trace gives the messages, by slot and command.
#include <string>

#include <gtest/gtest.h>

#include "apdu_names.h"
#include "bytes.h"

namespace {

TEST(ApduNames, ByCommandAndSlot) {
    const struct {
        uint8_t slot;
        const char *command;
        const char *name;  // null: no name
    } cases[] = {
        {0x01, "00 12 00 00 00", "POWER ON"},
        {0x1B, "00 12 00 00 00", "POWER ON"},
        {0x11, "00 13 00 00 00", "POWER OFF"},
        {0x02, "00 14 00 00 00", "CARD STATUS"},
        {0x14, "00 16 00 00 00", "PSAM STATUS"},
        {0x00, "00 12 00 00 00", nullptr},  // the reader is not powered
        {0x01, "00 12 00 00", nullptr},     // not the whole command
        {0x01, "80 17 00 59 01", "CATEGORY PROBE"},
        {0x00, "00 19 01 01 14", "DEVICE NUMBER"},
        {0x00, "80 F2 00 01 00", "ID READ SIGNAL"},
        {0x00, "00 F8 00 01 03 00 25 80", "KEYPAD PREPARE"},
        {0x00, "00 F9 00 00 03 1B 43 30", "KEYPAD RESET"},
        {0x00, "00 F9 08 3C 03 00 1B 49", "KEYPAD PIN ENTRY"},
        {0x00, "00 F9 08 3A 03 00 1B 45", "KEYPAD TEXT ENTRY"},
        {0x01, "00 A4 04 00 0F 73 78 31", "SELECT"},
        {0x11, "00 A4 00 00 02 00 16", "SELECT"},
        {0x01, "00 B2 01 04 12", "READ RECORD"},
        {0x11, "00 B0 96 00 06", "READ BINARY"},
        {0x01, "00 84 00 00 08", "GET CHALLENGE"},
        {0x01, "00 88 00 00 10", "INTERNAL AUTHENTICATE"},
        {0x02, "00 82 00 0A 10", "EXTERNAL AUTHENTICATE"},
        {0x01, "00 C0 00 00 10", "GET RESPONSE"},
        {0x01, "00 20 00 00 03 12 34 56", "VERIFY"},
        {0x01, "00 DC 2A 00 05", "UPDATE RECORD"},
        {0x01, "00 D6 00 00 04", "UPDATE BINARY"},
        {0x01, "80 5E 01 00 07", "CHANGE PIN"},
        {0x01, "84 24 00 01 0C", "PIN RELOAD"},
        {0x01, "84 24 00 00 04", "PIN UNBLOCK"},
        {0x01, "B0 28 01 01 13", "INITIALIZE PURCHASE"},
        {0x01, "B0 2C 01 00 0F", "PURCHASE"},
        {0x11, "BF DE 48 01 18", "PSAM KEY INIT"},
        {0x12, "80 FA 00 00 08", "PSAM ENCRYPT"},
        {0x13, "80 FA 05 00 10", "PSAM MAC"},
        {0x11, "80 70 01 00 2C", "PSAM PURCHASE MAC1"},
        {0x11, "80 72 00 00 04", "PSAM CHECK MAC2"},
        {0x01, "BF DE 48 01 18", nullptr},  // the PSAM's command, sent to a card
        {0x11, "80 17 00 59 01", nullptr},
        {0x02, "80 11 09 00 00", "M1 ACTIVATE"},
        {0x02, "80 11 02 00 08 00 00 5E 3A 91 C7 24 8B", "M1 AUTHENTICATE"},
        {0x02, "80 11 03 00 01 00", "M1 READ BLOCK"},
        {0x1B, "AA AA AA 96 69 00 03 12 FF EE", "ID RESET MODULE"},
        {0x1B, "AA AA AA 96 69 00 04 61 FF 78 E2", "ID FRAME SIZE"},
        {0x1B, "AA AA AA 96 69 00 03 20 01 22", "ID FIND CARD"},
        {0x1B, "AA AA AA 96 69 00 03 20 02 21", "ID SELECT CARD"},
        {0x1B, "AA AA AA 96 69 00 03 30 01 32", "ID READ TEXT PHOTO"},
        {0x1B, "AA AA AA 96 69 00 03 30 02 31", nullptr},
        {0x1B, "AA AA AA 96 69 00 03", nullptr},  // cut short before the command
        {0x1B, "AA AA AA 96 68 00 03 20 01 22", nullptr},
        {0x01, "AA AA AA 96 69 00 03 20 01 22", nullptr},
        {0x1A, "80 17 03 00 01", "STRIPE READ"},
        {0x1A, "80 17 03 06 00", "STRIPE SET TRACKS"},
        {0x1A, "00 19 06 01 00", "STRIPE CHANNEL"},
        {0x1A, "00 19 20 08 00", "STRIPE SWIPE"},
        {0x1A, "00 B0 05 00 00", "READ BINARY"},
        {0x1C, "80 17 03 00 00", "SCAN MODE AUTO"},
        {0x1C, "80 17 03 01 00", "SCAN MODE COMMAND"},
        {0x1C, "80 17 03 00 01", "SCAN MODE"},
        {0x1C, "B0 B0 00 08 00", "SCAN"},
        {0x1C, "B0 B0 03 10 00", "SCAN CODE"},
        {0x1C, "B0 17 00 23 01 02", "SCANNER LED"},
        {0x01, "", nullptr},
        {0x01, "00", nullptr},
        {0x01, "12 34 56 78 9A", nullptr},
    };
    for (const auto &c : cases) {
        vr::Bytes cmd = vr::hex(c.command);
        const char *name = vr::apduName(c.slot, cmd.data(), cmd.size());
        EXPECT_STREQ(name, c.name) << "slot " << int(c.slot) << ": " << c.command;
    }
    EXPECT_EQ(vr::apduName(0x01, nullptr, 5), nullptr);
}

TEST(ApduNames, EveryEntryNamesItsOwnPrefix) {
    // Each entry is reached by its own prefix in a slot of its group (no
    // earlier entry shadows it), and no name is longer than the trace's
    // column.
    for (size_t i = 0; i < vr::kApduNameCount; ++i) {
        const vr::ApduName &n = vr::kApduNames[i];
        EXPECT_LE(std::string(n.name).size(), 22u) << n.name;
        uint8_t slot = 0x01;
        switch (n.group) {
        case vr::SlotGroup::Any:
        case vr::SlotGroup::Slots:
        case vr::SlotGroup::UserCard: slot = 0x01; break;
        case vr::SlotGroup::Reader: slot = 0x00; break;
        case vr::SlotGroup::Psam: slot = 0x12; break;
        case vr::SlotGroup::Stripe: slot = 0x1A; break;
        case vr::SlotGroup::IdModule: slot = 0x1B; break;
        case vr::SlotGroup::Scanner: slot = 0x1C; break;
        }
        vr::Bytes cmd;
        if (n.group == vr::SlotGroup::IdModule) cmd = vr::hex("AA AA AA 96 69 00 03");
        cmd.insert(cmd.end(), n.prefix, n.prefix + n.prefixLen);
        cmd.push_back(0x00);
        EXPECT_STREQ(vr::apduName(slot, cmd.data(), cmd.size()), n.name) << "entry " << i;
    }
}

}  // namespace
