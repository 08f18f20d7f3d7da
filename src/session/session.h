/* SPDX-License-Identifier: MIT */
// Card and PSAM slot session: internal declarations.
#pragma once

#include "errors/errors.h"

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

// ---------------------------------------------------------------------------
// The session of a card-level call: check the card-type argument, open the
// reader, find and power the user card, power the PSAM and select its
// application, exchange APDUs with the T=0 follow-ups, close the reader.
// ---------------------------------------------------------------------------

// Size of the response area of one exchange: the largest response the
// reader link delivers, data and SW1 SW2 together.
constexpr unsigned int kT0ResponseArea = 4096;

// Status word that IccExchangeT0 returns when the exchange itself failed
// (no answer, reader error, handle not open) or the response was refused.
constexpr unsigned int kSwExchangeFailed = 0x6F00;

// Whether a status word from IccExchangeT0 stands for an answer that did
// not arrive whole rather than for the card's own verdict on the command:
// the exchange failed, the card still offered its data after the
// follow-up (61xx or 6Cxx), or the last two bytes that arrived are no
// status word at all (SW1 outside 62-6F and 90-9F, a garbled answer).
inline bool answerNotWhole(unsigned int sw) {
    const unsigned int sw1 = sw >> 8;
    const bool statusWord = (sw1 >= 0x62 && sw1 <= 0x6F) || (sw1 >= 0x90 && sw1 <= 0x9F);
    return sw == kSwExchangeFailed || sw1 == 0x6C || !statusWord;
}

// Card-type argument of the exported card functions: 1 contact, 2
// contactless, 3 contact then contactless, 4 contactless then contact.
// Returns 0 for 1 to 4, -14 otherwise.
long checkCardType(int type);

// Powers the user card on the slot(s) that `type` names, setting cardSlot
// before each attempt.  Returns 0 when a card answered (cardSlot names its
// slot), -2 when none did, -1 for a contactless memory card under type 2,
// or the power-on error of the contact slot under types 1 and 4.
long findAndOpenCard(long reader, int type);

// Card category probe (80 17 00 59 01), answered by the reader for the
// contact slot.  On slot 0x01: writes the category into category[0] (at
// least 50 bytes, cleared first; 3 social-security card, 1, 2, 7, or 9 for
// any other answer) and returns the answer length, or -11 when the probe
// was refused or answered without a category byte.  Any other slot:
// returns the slot number and leaves the category alone.
long ReadCardType(long reader, unsigned char slot, unsigned char *category);

// Powers the PSAM on psamSlot, falling back to slot 0x11, and selects the
// PSAM application of algorithm 2 or 3 (1 selects nothing).  Returns 0,
// -2201 when no PSAM answered, -2202 when the selection was refused.
long findAndOpenPSAM(long reader, int alg);

// SELECT of the PSAM application of algorithm 2 or 3 ("sx2.sh.社会保障",
// "sx3.sh.社会保障") on psamSlot; returns the status word.
unsigned int selectPsamApplication(long reader, int alg);

// One APDU to a slot with the T=0 follow-ups: after 61xx one GET RESPONSE
// (00 C0 00 00 xx); then after 6Cxx one resend of a five-byte command with
// its Le set to xx (written into the caller's command).  Returns the final
// status word with the response data (without SW1 SW2) in rsp and its
// length in *rspLen; returns kSwExchangeFailed, writing neither output,
// when an exchange failed or the response does not fit.
//
// rsp holds rspCapacity bytes.  The form without a capacity needs a
// response buffer of kT0ResponseArea - 2 bytes, since the card decides how
// much it sends.
unsigned int IccExchangeT0(long reader, unsigned char slot, unsigned int cmdLen, unsigned char *cmd,
                           unsigned int *rspLen, unsigned char *rsp, unsigned int rspCapacity);
unsigned int IccExchangeT0(long reader, unsigned char slot, unsigned int cmdLen, unsigned char *cmd,
                           unsigned int *rspLen, unsigned char *rsp);
// The same, with the status word of the command's own answer (before any
// follow-up) in *commandSw, or kSwExchangeFailed when that answer did not
// arrive: whether the card accepted a command whose data then got lost.
unsigned int IccExchangeT0(long reader, unsigned char slot, unsigned int cmdLen, unsigned char *cmd,
                           unsigned int *rspLen, unsigned char *rsp, unsigned int rspCapacity,
                           unsigned int *commandSw);

// Closes the reader (whatever the close returns), sets mHreader to -11 and
// clears m_pin_verified.
void closeReader(long reader);
