/* SPDX-License-Identifier: MIT */
// Names of the messages the reader receives, for the trace of vreader:
// the reader's own commands, the ISO/IEC 7816-4 commands of the cards, the
// PSAM's services, the identity-card module's frames and the commands of
// the side modules and of the contactless memory card.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vr {

// Where a message goes: the same bytes mean different things in different
// slots.
enum class SlotGroup : uint8_t {
    Any,         // every slot
    Slots,       // every slot but the reader itself (its power and status commands)
    Reader,      // slot 0x00
    UserCard,    // 0x01 contact, 0x02 contactless
    Psam,        // 0x11 to 0x14
    Stripe,      // 0x1A
    IdModule,    // 0x1B: matched on the frame's command and parameter
    Scanner,     // 0x1C
};

struct ApduName {
    SlotGroup group;
    uint8_t prefix[5];
    uint8_t prefixLen;
    const char *name;
};

// The table, most specific entries first.
extern const ApduName kApduNames[];
extern const size_t kApduNameCount;

// The name of a message sent to `slot` (a slot number, not a NAD), or null
// when the table does not know it.
const char *apduName(uint8_t slot, const uint8_t *command, size_t len);

}  // namespace vr
