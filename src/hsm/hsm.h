// HSM-assisted operations: internal declarations.  The exported step
// functions are declared in kestrel.h.
#pragma once

#include "kestrel.h"

// ---------------------------------------------------------------------------
// Card identity check, shared with the card operations that act on a card
// the host names (PIN reload and unblock, data items, debit).
// ---------------------------------------------------------------------------

// The card number: record 7 of EF05.
constexpr unsigned kCardNumberSize = 9;

// Checks that the card in the user slot is the one the host names: cardId
// must equal the card identification code (EF05 record 1) written as 32
// upper-case hexadecimal digits, and cardNo the card number (EF05 record
// 7, up to its first NUL byte), both exactly.  Expects the application
// selected.  Returns 0, -22 for another card, -14 for a null text, -20 for
// an identification record shorter than the code, or a translated status
// word.
long checkCardInfo(long handle, char *cardId, char *cardNo);

// A card-info text that an operation accepts: exactly two "|", and each
// field short enough for its row (a longer one would be compared cut
// short).  False for a null text.
bool cardInfoAcceptable(const char *cardInfo);
