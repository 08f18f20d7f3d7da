/* SPDX-License-Identifier: MIT */
// Card security: selection of the social-security application with the
// card's algorithm and version, the PSAM services (key initialisation with
// the key-level check, encryption, MAC, external authentication), and card
// authentication (diversification data, internal authentication).
//
// Everything here keeps C++ linkage; the plain C exports of this layer
// (PSAMDes2, PSAMMAC2) are declared in kestrel.h.
#pragma once

#include "kestrel.h"

// ---------------------------------------------------------------------------
// Process-wide card state, plain globals with their load-time values.
// ---------------------------------------------------------------------------

// Algorithm indicator of the last card selected: 2 and 3 make the PSAM
// services work with 16-byte blocks and the PSAM application of that
// algorithm; any other value (1 at load) means 8-byte blocks.  A value
// taken from the card is stored unchanged.
extern int m_usercardAlg;

// Version of the last card selected (1, 2, 3), choosing the data item
// directory; -1 at load and for a card whose version is not recognised.
extern int m_usercardVer;

// Issuing-region code of the last card (the first 3 bytes of its card
// identification code), set by GetCardDivIndex; the PSAM key-level check
// compares it with the PSAM's region.
extern unsigned char usrCardCityCOde[3];

// ---------------------------------------------------------------------------
// Codes and sizes
// ---------------------------------------------------------------------------

// Start value that callers give the algorithm variable they pass to
// selectSSSE: a card whose tag 86 carries 00 leaves the variable as it is,
// and then declares no algorithm of its own, which is algorithm 1.
constexpr int kDefaultAlgorithm = 1;

// Diversification data: 8 bytes per key level, levels 1 to 3.
constexpr unsigned kDivDataSize = 24;
// The card identification code (record 1 of EF05).
constexpr unsigned kCardIdSize = 16;
// Buffers that receive an answer to reset from GetCardDivIndex or
// readDataForInternalVerify; a longer answer is refused.
constexpr unsigned kAtrBufferSize = 64;
// The PSAM's answer to an encryption lands in a buffer of this size
// (PSAMDes, PSAMDes2); a longer answer is refused.
constexpr unsigned kPsamAnswerSize = KESTREL_PSAM_ANSWER_SIZE;
// The longest MAC answer of the PSAM that PSAMMAC and PSAMMAC2 accept; a
// longer answer is refused.
constexpr unsigned kMacBufferSize = KESTREL_MAC_MAX;
// The reader's device number (query 00 19 01 01 14 to slot 0).
constexpr unsigned kDeviceNumberSize = 20;
// The PSAM's terminal number (file 0016).
constexpr unsigned kTerminalNumberSize = 6;

// Block size of the PSAM services for an algorithm indicator: 16 for 2
// and 3, 8 for anything else.
unsigned blockSizeFor(int alg);

// ---------------------------------------------------------------------------
// Application selection and card version
// ---------------------------------------------------------------------------

// Powers the card anew, selects the social-security application, takes
// the algorithm indicator from its file control information (9F0C of two
// bytes; else tag 86 inside 9F0C, whose 00 keeps the caller's *alg; else 2
// for region byte 0x11 and 1 for any other card) and the version from
// record 3 of EF05.  Writes 4 version characters (no NUL) into version,
// stores the indicator in *alg and m_usercardAlg and the version in
// m_usercardVer.  Returns 0, a translated status word, or -20 for an
// unreadable version record, a malformed identification code, and an
// unrecognised version when versionRequired is set (otherwise the text
// "0.00" and version -1 are accepted).  Leaves EF05 selected.
long selectSSSE(long handle, int *alg, char *version, bool versionRequired);

// The lighter selection of the card-type probe: power-on, application,
// EF05, card identification code.  *alg and m_usercardAlg become 2 for
// region byte 0x11 and 1 otherwise; regionCode receives the 3-byte
// issuing-region code.  version is not used.
long selectFKJG(long handle, int *alg, char *version, unsigned char *regionCode);

// ---------------------------------------------------------------------------
// PSAM services.  The PSAM must be powered (findAndOpenPSAM); each service
// powers it anew and selects what it needs.  Key references: keyType's top
// three bits are the diversification level n, of which the first 8 * n
// bytes of divData (kDivDataSize bytes) are sent; divLen is not used.
// ---------------------------------------------------------------------------

// 0 when a PSAM key of diversification `level` may serve a card of the
// issuing region `cityCode` (3 bytes) given the PSAM's terminal number
// (6 bytes, whose first 3 are its region): level 1 needs the whole region
// equal, level 2 its first byte, level 3 always passes, any other level
// never does.  Otherwise -24.
int VerifyKeyLevel(unsigned char level, unsigned char *cityCode, unsigned char *terminalNumber);

// Encrypts dataLen bytes with the card's key (key initialisation with the
// random data, falling back one level at a time while the PSAM lacks the
// key).  out (kPsamAnswerSize bytes) receives the PSAM's answer and
// *outLen its length.  Returns 0, -2202, -24, -14 for random data too long
// for the command, or a translated status word.
long PSAMDes(long handle, unsigned char keyType, unsigned char keyVersion, unsigned char *divData,
             unsigned char divLen, unsigned char *data, unsigned char dataLen, unsigned char *out,
             unsigned int *outLen, unsigned char *randomData, unsigned int randomLen);

// MAC over dataLen bytes padded with 80 00.. to the block size B, with B
// bytes of initial value iv.  mac receives exactly the PSAM's MAC: with
// B = 8 its answer as it came (4 to kMacBufferSize bytes), with B = 16 the
// 8 bytes of its 16-byte answer folded (random data then always 16 bytes:
// randomLen bytes of randomData filled up with zeros).  Returns 0, -2202,
// -24, -14 for data too long to pad into one command, or a translated
// status word.
long PSAMMAC(long handle, unsigned char keyType, unsigned char keyVersion, unsigned char *divData,
             unsigned char divLen, unsigned char *iv, unsigned char *data, long dataLen,
             unsigned char *mac, unsigned char *randomData, unsigned int randomLen);

// Authenticates the terminal to the card for key identifier kid: two card
// challenges, the first encrypted by the PSAM with the second as random
// data, then EXTERNAL AUTHENTICATE with the cryptogram and the first
// challenge.  Returns 0 when the card accepted it, else an error code.
long PSAMExterAuth(long handle, unsigned char kid, unsigned char keyType, unsigned char keyVersion,
                   unsigned char *divData, unsigned char divLen);

// Selects the DF dfId (skipped when dfId[1] is 0) and then the EF efId on
// the user card.  0 or a translated status word.
long selectDFEF(long handle, unsigned char *dfId, unsigned char *efId);
long selectEF(long handle, unsigned char *efId);

// ---------------------------------------------------------------------------
// Card authentication
// ---------------------------------------------------------------------------

// Powers the card anew (atr, kAtrBufferSize bytes, receives the answer to
// reset and *atrLen its length), selects the application and reads the
// card identification code; stores its first 3 bytes in usrCardCityCOde
// and builds the 24 bytes of diversification data into divData (*divLen
// becomes 24); traces "DivIndex: <48 hex digits>" into logbuf.
long GetCardDivIndex(long handle, unsigned char *atr, unsigned int *atrLen, unsigned char *divData,
                     unsigned char *divLen);

// Checks that the card holds its key: the PSAM encrypts the first of two
// card challenges (the second as random data) and the card's INTERNAL
// AUTHENTICATE over both must give the same 8 bytes.  0, -21 when they
// differ, or an error code.
long InternalAuth(long handle, unsigned char keyType, unsigned char keyVersion, unsigned char *divData,
                  unsigned char divLen);

// Collects what a host's security module needs to check the card itself:
// writes the text "region|atr13|alg|cardId|R2|R1|R4|R3|device|" into out
// (at least 170 bytes; R4 and R3 only for version-3 cards), the card's
// 8-byte answer into cardAnswer and the answer to reset into atr
// (kAtrBufferSize bytes) and *atrLen.  The device number is its 20 bytes
// as the reader gave them, or 20 zero bytes.  0, -21 when the card's
// internal-authentication answer is shorter than 8 bytes, or an error
// code.
long readDataForInternalVerify(long handle, char *out, unsigned char *cardAnswer, unsigned char *atr,
                               int *atrLen);

// ---------------------------------------------------------------------------
// Helpers shared by the files of this layer and by the operations.
// ---------------------------------------------------------------------------
namespace kestrel::sec {

// Sends one command to a slot and keeps at most `capacity` bytes of the
// answer; returns the status word (0x6F00 when the exchange failed or the
// answer does not fit).
unsigned int exchange(long handle, unsigned char slot, const unsigned char *cmd, unsigned int cmdLen,
                      unsigned char *rsp, unsigned int capacity, unsigned int *rspLen);

// Power-on command to the slot (00 12 00 00 00) sent as an exchange; the
// answer to reset goes into atr (capacity bytes) when atr is not null.
unsigned int powerOnCommand(long handle, unsigned char slot, unsigned char *atr, unsigned int capacity,
                            unsigned int *atrLen);

// SELECT of the social-security application "sx1.sh.社会保障" on the card.
unsigned int selectApplication(long handle, unsigned char *fci, unsigned int capacity, unsigned int *fciLen);

// SELECT of EF05 on the card.
unsigned int selectEF05(long handle);

// Reads record 1 of EF05 and copies the 16-byte card identification code
// into id.  Returns 0, the translated status word, or -20 when the record
// is shorter than the code.
long readCardId(long handle, unsigned char *id);

// Powers the card anew (its answer to reset into atr, kAtrBufferSize
// bytes, unless atr is null) and selects the application and EF05, then
// reads the card identification code into id.  Returns 0 or the code of
// the first step that failed.
long powerAndIdentify(long handle, unsigned char *atr, unsigned int *atrLen, unsigned char *id);

// GET CHALLENGE of 8 bytes into r.  Returns 0, the translated status
// word, or the code of a failed exchange when the card sends fewer bytes.
long getChallenge(long handle, unsigned char *r);

// Takes two challenges from the card, R1 then R2, and has the PSAM
// encrypt R1 (padded with zeros to a block) under the key it derives for
// R2: the cryptogram with which the terminal authenticates itself, or
// which the card's internal authentication must match.  r1 and r2 receive
// the challenges (8 bytes), cryptogram the result folded to 8 bytes.
// Returns 0, or the code of the first step that failed.
long challengeCryptogram(long handle, unsigned char keyType, unsigned char keyVersion, unsigned char *divData,
                         unsigned char divLen, unsigned char *r1, unsigned char *r2, unsigned char *cryptogram);

// The reader's device number (00 19 01 01 14 to slot 0), kDeviceNumberSize
// bytes, zero-filled when the reader gives none or fewer.
void readDeviceNumber(long handle, unsigned char *number);

// Error code of a malformed answer: that of a failed exchange.
long malformedAnswer();

// What the file control information of the application declares about
// the card's algorithm: an indicator (*indicator set), tag 86 with 00
// (keep the caller's value), or nothing (the region byte decides).
// Looks for 6F { A5 { 9F0C } }: a 9F0C of two bytes gives its second
// byte; otherwise tag 86 inside 9F0C gives its first value byte.  An FCI
// without 6F, A5 or 9F0C declares nothing.
enum class FciAlgorithm { Indicator, KeepCallers, NotDeclared };
FciAlgorithm algorithmFromFci(const unsigned char *fci, unsigned fciLen, int *indicator);

}  // namespace kestrel::sec
