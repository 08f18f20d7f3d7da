// SPDX-License-Identifier: MIT
#include "apdu_names.h"

#include <cstring>

namespace vr {

namespace {
using G = SlotGroup;
constexpr uint8_t kPreamble[] = {0xAA, 0xAA, 0xAA, 0x96, 0x69};
// A module frame's command and parameter follow the preamble and length.
constexpr size_t kFrameCommandAt = 7;
}  // namespace

const ApduName kApduNames[] = {
    // The reader's own commands to a slot.
    {G::Slots, {0x00, 0x12, 0x00, 0x00, 0x00}, 5, "POWER ON"},
    {G::Slots, {0x00, 0x13, 0x00, 0x00, 0x00}, 5, "POWER OFF"},
    {G::Slots, {0x00, 0x14, 0x00, 0x00, 0x00}, 5, "CARD STATUS"},
    {G::Slots, {0x00, 0x16, 0x00, 0x00, 0x00}, 5, "PSAM STATUS"},
    // The reader itself.
    {G::Reader, {0x00, 0x19, 0x01, 0x01, 0x14}, 5, "DEVICE NUMBER"},
    {G::Reader, {0x00, 0xF8, 0x00, 0x01}, 4, "KEYPAD PREPARE"},
    {G::Reader, {0x00, 0xF9, 0x00, 0x00}, 4, "KEYPAD RESET"},
    {G::Reader, {0x00, 0xF9, 0x08, 0x3C}, 4, "KEYPAD PIN ENTRY"},
    {G::Reader, {0x00, 0xF9, 0x08, 0x3A}, 4, "KEYPAD TEXT ENTRY"},
    {G::Reader, {0x80, 0xF2, 0x00, 0x01}, 4, "ID READ SIGNAL"},
    // The identity-card module's frames, by command and parameter.
    {G::IdModule, {0x12, 0xFF}, 2, "ID RESET MODULE"},
    {G::IdModule, {0x61, 0xFF}, 2, "ID FRAME SIZE"},
    {G::IdModule, {0x20, 0x01}, 2, "ID FIND CARD"},
    {G::IdModule, {0x20, 0x02}, 2, "ID SELECT CARD"},
    {G::IdModule, {0x30, 0x01}, 2, "ID READ TEXT PHOTO"},
    // The contactless memory card, driven by the reader.
    {G::UserCard, {0x80, 0x11, 0x09}, 3, "M1 ACTIVATE"},
    {G::UserCard, {0x80, 0x11, 0x02}, 3, "M1 AUTHENTICATE"},
    {G::UserCard, {0x80, 0x11, 0x03}, 3, "M1 READ BLOCK"},
    {G::UserCard, {0x80, 0x17, 0x00, 0x59, 0x01}, 5, "CATEGORY PROBE"},
    // The user card's payment and PIN commands.
    {G::UserCard, {0x80, 0x5E}, 2, "CHANGE PIN"},
    {G::UserCard, {0x84, 0x24, 0x00, 0x01}, 4, "PIN RELOAD"},
    {G::UserCard, {0x84, 0x24, 0x00, 0x00}, 4, "PIN UNBLOCK"},
    {G::UserCard, {0xB0, 0x28}, 2, "INITIALIZE PURCHASE"},
    {G::UserCard, {0xB0, 0x2C}, 2, "PURCHASE"},
    // The PSAM's services.
    {G::Psam, {0xBF, 0xDE}, 2, "PSAM KEY INIT"},
    {G::Psam, {0x80, 0xFA, 0x00}, 3, "PSAM ENCRYPT"},
    {G::Psam, {0x80, 0xFA, 0x05}, 3, "PSAM MAC"},
    {G::Psam, {0x80, 0x70}, 2, "PSAM PURCHASE MAC1"},
    {G::Psam, {0x80, 0x72}, 2, "PSAM CHECK MAC2"},
    // Magnetic stripe.
    {G::Stripe, {0x80, 0x17, 0x03, 0x00, 0x01}, 5, "STRIPE READ"},
    {G::Stripe, {0x80, 0x17, 0x03}, 3, "STRIPE SET TRACKS"},
    {G::Stripe, {0x00, 0x19, 0x06, 0x01}, 4, "STRIPE CHANNEL"},
    {G::Stripe, {0x00, 0x19, 0x20, 0x08}, 4, "STRIPE SWIPE"},
    // QR scanner.
    {G::Scanner, {0x80, 0x17, 0x03, 0x00, 0x00}, 5, "SCAN MODE AUTO"},
    {G::Scanner, {0x80, 0x17, 0x03, 0x01, 0x00}, 5, "SCAN MODE COMMAND"},
    {G::Scanner, {0x80, 0x17, 0x03, 0x00, 0x01}, 5, "SCAN MODE"},
    {G::Scanner, {0xB0, 0xB0, 0x03}, 3, "SCAN CODE"},
    {G::Scanner, {0xB0, 0xB0}, 2, "SCAN"},
    {G::Scanner, {0xB0, 0x17, 0x00, 0x23}, 4, "SCANNER LED"},
    // ISO/IEC 7816-4, wherever they go.
    {G::Any, {0x00, 0xA4}, 2, "SELECT"},
    {G::Any, {0x00, 0xB2}, 2, "READ RECORD"},
    {G::Any, {0x00, 0xB0}, 2, "READ BINARY"},
    {G::Any, {0x00, 0xDC}, 2, "UPDATE RECORD"},
    {G::Any, {0x00, 0xD6}, 2, "UPDATE BINARY"},
    {G::Any, {0x00, 0x84}, 2, "GET CHALLENGE"},
    {G::Any, {0x00, 0x88}, 2, "INTERNAL AUTHENTICATE"},
    {G::Any, {0x00, 0x82}, 2, "EXTERNAL AUTHENTICATE"},
    {G::Any, {0x00, 0xC0}, 2, "GET RESPONSE"},
    {G::Any, {0x00, 0x20}, 2, "VERIFY"},
};
const size_t kApduNameCount = sizeof kApduNames / sizeof kApduNames[0];

namespace {

bool inGroup(SlotGroup g, uint8_t slot) {
    switch (g) {
    case G::Any: return true;
    case G::Slots: return slot != 0x00;
    case G::Reader: return slot == 0x00;
    case G::UserCard: return slot == 0x01 || slot == 0x02;
    case G::Psam: return slot >= 0x11 && slot <= 0x14;
    case G::Stripe: return slot == 0x1A;
    case G::IdModule: return slot == 0x1B;
    case G::Scanner: return slot == 0x1C;
    }
    return false;
}

bool isModuleFrame(const uint8_t *command, size_t len) {
    return len >= kFrameCommandAt + 2 && std::memcmp(command, kPreamble, sizeof kPreamble) == 0;
}

}  // namespace

const char *apduName(uint8_t slot, const uint8_t *command, size_t len) {
    if (!command) return nullptr;
    const bool frame = slot == 0x1B && isModuleFrame(command, len);
    for (const ApduName &n : kApduNames) {
        if (!inGroup(n.group, slot)) continue;
        const uint8_t *bytes = command;
        size_t avail = len;
        if (n.group == G::IdModule) {
            if (!frame) continue;
            bytes = command + kFrameCommandAt;
            avail = len - kFrameCommandAt;
        }
        if (avail >= n.prefixLen && std::memcmp(bytes, n.prefix, n.prefixLen) == 0) return n.name;
    }
    return nullptr;
}

}  // namespace vr
