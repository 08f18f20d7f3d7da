/* SPDX-License-Identifier: MIT */
// HSM-assisted operations: internal declarations.  The exported step
// functions are declared in kestrel.h.
//
// An HSM-assisted operation runs in two or three exported steps.  Step 1
// opens the reader, prepares the card and writes what the host's security
// module needs; the host hands that text to its module and passes the
// module's answer to the next step, which continues on the reader that
// Step 1 left open (mHreader).  Any card-level call closes the reader and
// so ends a pending sequence (mHreader becomes -11).
#pragma once

#include "kestrel.h"

// ---------------------------------------------------------------------------
// Card identity check, shared with the card operations that act on a card
// the host names (PIN reload and unblock, data items, debit).
// ---------------------------------------------------------------------------

// The card number: record 7 of EF05.
constexpr unsigned kCardNumberSize = 9;

// A card-info text that the calls naming their card accept: exactly two
// "|", and each field short enough for its row (a longer one would be
// compared cut short).
bool acceptableCardInfo(const char *cardInfo);

// Checks that the card in the user slot is the one the host names: cardId
// must equal the card identification code (EF05 record 1) written as 32
// upper-case hexadecimal digits, and cardNo the card number (EF05 record
// 7, up to its first NUL byte), both exactly.  Expects the application
// selected.  Returns 0, -22 for another card, -14 for a null text, -20 for
// an identification record shorter than the code, or a translated status
// word.
long checkCardInfo(long handle, char *cardId, char *cardNo);

// ---------------------------------------------------------------------------
// State kept from one step to the next (plain globals; mHreader, the open
// reader, is the session's).  A later step does not check which
// operation's Step 1 left them: it runs with what is there.
// ---------------------------------------------------------------------------

constexpr unsigned kHsmKeyRefSize = 3;
constexpr unsigned kHsmKeptRequestSize = 1024;
constexpr unsigned kHsmCardAnswerSize = 8;
constexpr unsigned kHsmAtrSize = 64;

// The key reference of the pending authentication: byte 0 the card's key
// identifier (P2 of EXTERNAL AUTHENTICATE), bytes 1 and 2 the PSAM key
// type and version of the same key, which the HSM steps do not send.
extern unsigned char mKeys[kHsmKeyRefSize];
// Access level of the pending data item.
extern int mAuthType;
// Request text that a Step 1 keeps for its Step 2, NUL-terminated.
extern char inParaBuffer1[kHsmKeptRequestSize];
// The basic-information read: the card's answer to INTERNAL AUTHENTICATE,
// and its answer to reset with its length.
extern unsigned char des[kHsmCardAnswerSize];
extern unsigned char mATR[kHsmAtrSize];
extern int mATRLen;

// ---------------------------------------------------------------------------
// Texts exchanged with the host's module
// ---------------------------------------------------------------------------

// The cryptogram a module answers to a challenge block: 32 hexadecimal
// digits, the 16 bytes of EXTERNAL AUTHENTICATE.
constexpr unsigned kHsmCryptogramDigits = 32;
// The two challenges of a challenge block, second one first.
constexpr unsigned kHsmChallengeSize = 16;

// 0 when key is exactly 32 characters long, else -14 (a null key too).
// The characters themselves are not looked at.
long checkHSMKey(char *key);

// Fetches two challenges from the card, R1 then R2, and writes R2 to
// random bytes 0-7 and R1 to bytes 8-15 (16 bytes, no NUL): the card
// keeps the last one, R2, which the module's cryptogram must answer.
// Returns 0 or the code of the GET CHALLENGE that failed.
long HsmExterAuthStep1(long handle, char *random);

// EXTERNAL AUTHENTICATE with key identifier keyId and the 16 bytes of the
// 8 at part1 and the 8 at part2.  out is not used.  Returns 0 or the
// translated status word (63Cx: the external-authentication codes).
long HsmExterAuthStep2(long handle, unsigned char keyId, unsigned char *part1, unsigned char *part2, char *out);

// ---------------------------------------------------------------------------
// The course of the steps.  Every helper that fails writes the code's text
// into out (KESTREL_HSM_OUT_SIZE bytes or more) and, once a reader is
// open, closes it; the caller returns the code.  In-para and out-para log
// lines are the step's own.
// ---------------------------------------------------------------------------

// The two fields of a card-info text, as the identity check takes them.
struct HsmCardInfo {
    char rows[2][KESTREL_ROW_SIZE];
    char *cardId() { return rows[0]; }
    char *cardNo() { return rows[1]; }
};

// The arguments of a Step 1, before the reader is touched: splits cardInfo
// into *fields (when cardInfo is not null), checks iType and, when
// namesCard, that cardInfo is acceptable.  0 or -14.
long hsmCheckStep1(int iType, char *cardInfo, bool namesCard, HsmCardInfo *fields, char *out);

// Opens the reader on "USB1", powers the card for iType and selects the
// application (versionRequired: a card of unknown version is refused with
// -20).  *handle receives the open reader.  0, -11, or the failing code.
long hsmOpenCard(int iType, bool versionRequired, char *out, long *handle);

// The identity check of a Step 1 (checkCardInfo with the two fields).
long hsmIdentify(long handle, HsmCardInfo *fields, char *out);

// The common opening of a Step 1 that names its card: the argument
// checks, the reader and the card, and the identity check.
long hsmStep1Card(int iType, char *cardInfo, bool versionRequired, char *out, long *handle);

// Writes the challenge block of the 16 bytes of HsmExterAuthStep1 into
// out: the algorithm field ("%02x" of m_usercardAlg), the key address (4
// upper-case digits), random part 1 (bytes 0-7) and part 2 (bytes 8-15).
void hsmChallengeText(const unsigned char *random, unsigned keyAddress, char *out);

// Fetches the card's challenge (HsmExterAuthStep1) and writes its
// challenge block.
long hsmChallengeBlock(long handle, unsigned keyAddress, char *out);

// Ends a successful Step 1: the sequence is open on handle, the out-para
// line "<name>, out para: 0, <out>" is logged.  Returns 0.
long hsmStep1Done(const char *name, long handle, const char *out);

// The reader of the open sequence into *handle; -11 with its text when
// none is open (nothing is closed then).
long hsmSequence(long *handle, char *out);

// Writes the text of code, closes the reader, returns code.
long hsmFail(long handle, long code, char *out);

// True for exactly `digits` hexadecimal digits (either case).
bool hsmHexField(const char *text, unsigned digits);

// 0 for a module cryptogram of 32 hexadecimal digits (checkHSMKey, and
// the digits themselves), else -14.  Nothing is written or closed.
long hsmCheckCryptogram(char *cryptogram);

// The module's cryptogram for the pending challenge, checked (-14 before
// anything reaches the card) and sent with key identifier mKeys[0].
long hsmAuthenticate(long handle, char *cryptogram, char *out);

// Appends the algorithm field ("%02x" of m_usercardAlg, "|") to text.
void hsmPackAlgorithm(char *text, int *count);
// Appends a key address field (4 upper-case hexadecimal digits, "|").
void hsmPackKeyAddress(unsigned keyAddress, char *text, int *count);
// Appends n bytes as upper-case hexadecimal digits and "|" (n <= 16).
void hsmPackHex(const unsigned char *bytes, unsigned n, char *text, int *count);
