/* SPDX-License-Identifier: MIT */
// Social-security card operations: internal declarations.  The exported
// functions (iReadCardBas, ...) are declared in kestrel.h.
#pragma once

#include "kestrel.h"

// Size of the text of iReadCardBas and ReadBaseinf: the longest one, 193
// characters, 11 "|" and the NUL.
constexpr unsigned kBaseInfoTextSize = KESTREL_BASEINFO_SIZE;

// Reads the basic card items (EF05 and EF06 records), the PSAM's terminal
// number and the reader's device number and writes them as eleven
// "|"-terminated fields into out (kBaseInfoTextSize bytes), only on
// success.  Expects the application selected and m_usercardVer set; atr
// and atrLen are the card's answer to reset, of which the last 13 bytes
// are shown.  Returns 0 or an error code and writes no error text.
long ReadBaseinf(long handle, char *out, unsigned char *atr, unsigned int atrLen);
