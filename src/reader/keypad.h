/* SPDX-License-Identifier: MIT */
// The reader's PIN keypad (slot 0x00): the holder types the PIN on the
// reader, so that its digits never pass through the host application.
// iGetPassword, the host's own keypad entry, is declared in kestrel.h.
#pragma once

#include "kestrel.h"

// Prompt codes of a PIN entry: what the keypad asks the holder for.
constexpr int kPromptPin = 0x1B49;          // the PIN to verify
constexpr int kPromptOldPin = 0x1B69;       // the PIN being changed
constexpr int kPromptNewPin = 0x1B65;       // the new PIN
constexpr int kPromptNewPinAgain = 0x1B45;  // the new PIN once more

// The PIN text buffer of IputPIN: at most 16 digits (an odd count padded
// with F) and the NUL; the longest error text (16 bytes) fits as well.
constexpr unsigned kPinTextSize = 17;

// One PIN entry on the keypad of an opened reader: prepares and resets the
// keypad, asks for the entry with `prompt` (high byte first) and writes the
// keyed digits into pin (kPinTextSize bytes), with an F appended to an odd
// count.  Returns 0, or -32 (keypad not ready, entry refused or timed out)
// or -33 (fewer than 4 or more than 16 keys, or keys other than digits)
// with that code's text in pin; after a failed entry the keypad is reset
// once more.  -14 for a null buffer.  The reader is neither opened nor
// closed here.
int IputPIN(long handle, char *pin, int prompt);

// ---------------------------------------------------------------------------
// The keypad's answer to an entry: one leading byte, the keyed characters,
// one trailing byte.
// ---------------------------------------------------------------------------

// The PIN text of an answer of len data bytes: 4 to 16 digits, an odd
// count padded with F, NUL-terminated into pin (kPinTextSize bytes).
// Returns 0, or -33 for any other answer (pin untouched).
int keypadPinText(const unsigned char *data, unsigned len, char *pin);

// The keyed text of an answer of len data bytes, as it came and
// NUL-terminated, into out (capacity bytes).  Returns its length, or -1
// for an answer without its two framing bytes or a text that does not fit
// (out untouched).
int keypadText(const unsigned char *data, unsigned len, char *out, unsigned capacity);
