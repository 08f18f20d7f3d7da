// Card and PSAM slot session: internal declarations.
#pragma once

// Process-wide session state, plain globals with their load-time values.
// One session at a time; nothing here is locked.

// Slot of the user card: 0x01 contact, 0x02 contactless.  Set by the card
// search before each power-on attempt; card APDUs go to this slot.
extern unsigned char cardSlot;

// Slot of the PSAM (0x11 to 0x14); PSAM APDUs go to this slot.
extern unsigned char psamSlot;

// Reader handle that the steps of an HSM-assisted operation keep open
// between calls: 0 at load, -11 once a card-level call has closed it.
extern long mHreader;

// Non-zero once the cardholder PIN has been verified in this session;
// cleared when the reader is closed.
extern unsigned char m_pin_verified;
