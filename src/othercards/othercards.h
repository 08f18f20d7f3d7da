/* SPDX-License-Identifier: MIT */
// Other cards: the resident identity card read through the reader's
// identity-card module, its text conversion and the image helpers.
//
// iReadIdentityCard and iReadSFZ are plain C exports (kestrel.h); what is
// declared here keeps C++ linkage, IDC_ReadIDCard included: a host calls it
// as the C++ function  long IDC_ReadIDCard(char *, char *).
#pragma once

#include <cstddef>

#include "kestrel.h"

// ---------------------------------------------------------------------------
// Exported helpers (C++ symbols)
// ---------------------------------------------------------------------------

// Reads the identity card: the holder's text into pOutInfo (at least 4096
// bytes) as 11 fields, each followed by "|", not trimmed (fields keep the
// card's space padding), and the photo into pPhotoHex as upper-case
// hexadecimal, 2*P digits and a NUL.  pPhotoHex must hold
// KESTREL_ID_PHOTO_HEX_SIZE bytes (2 * 1024 + 1): a module answer that
// announces a longer photo is refused.
//
// Fields, by the card kind in the text block:
//
//   field  resident identity card   "J" residence permit    "I" permanent residence
//   1      name                     name                    name in Latin letters
//   2      sex text                 sex text                sex text
//   3      ethnic group             (empty)                 (empty)
//   4      date of birth            date of birth           date of birth
//   5      address                  address                 (empty)
//   6      identity number          identity number         card number
//   7      issuing authority        issuing authority       issuing authority code
//   8      valid from               valid from              valid from
//   9      valid to                 valid to                valid to
//   10     (empty)                  travel-permit number    nationality code
//   11     (empty)                  times issued            name in Chinese
//
// Returns 0, or -11 / -14 / the translated status of a refused step with
// its text in pOutInfo ("复位失败" when the module does not power up,
// "读身份证失败" when a module frame is refused).
long IDC_ReadIDCard(char *pOutInfo, char *pPhotoHex);

// Writes the GB18030 name of ethnic-group code `code` into `name` (19
// bytes), or the empty text for a code that has no name.
void getNation(int code, char *name);

// Converts inLen bytes of `in` from encoding fromCode to toCode with the
// system's iconv, into `out` (outLen bytes, cleared first).  Returns 0, or
// -1 after printing "code_convert cd open error" (unknown encoding) or
// "code_convert cd iconv error" (invalid or incomplete input, or `out` full)
// as a line on standard output; what was converted before the stop stays
// in `out`.  Nothing is written past outLen bytes, and no NUL is added:
// a caller that wants a C string passes one byte less than it has.
int code_convert(char *fromCode, char *toCode, char *in, unsigned long inLen, char *out,
                 unsigned long outLen);

// Base64 (RFC 4648 alphabet, "=" padding) of len bytes: writes 4 characters
// per started group of 3 bytes and a NUL, so `out` holds
// 4 * ((len + 2) / 3) + 1 bytes; returns the number of characters.
long Base64_Encode(char *out, const char *in, unsigned long len);

// The alphabet: 64 characters, then the padding "=" at index 64.
extern const char base64[66];

// base64[index] for an index of 0 to 64; NUL for any larger index.
char Encode_GetChar(unsigned char index);

// Placeholder of a photo conversion: writes nothing, returns 0.
long BMP2JPEG(unsigned char *bmp, unsigned long len, unsigned char *jpeg);

// ---------------------------------------------------------------------------
// Internal: the module's frames and the text block
// ---------------------------------------------------------------------------
namespace kestrel::idc {

// Slot of the identity-card module.
constexpr unsigned char kModuleSlot = 0x1B;

// Size of the caller's text buffer of the identity-card readers.
constexpr int kOutSize = 4096;

// The text block: 256 bytes of 16-bit characters, little-endian.
constexpr int kTextBlockSize = 256;

// The longest photo accepted: the module's compressed photo is 1024 bytes.
constexpr int kMaxPhoto = KESTREL_ID_MAX_PHOTO;

// Module frames: preamble, 2-byte length, then command, parameter, data
// and a checksum (XOR of the length bytes through the data).
constexpr unsigned char kPreamble[5] = {0xAA, 0xAA, 0xAA, 0x96, 0x69};
// An answer: preamble, length, 3 status bytes, data, checksum.  Byte 9 is
// the module's result: 0x90 done, 0x9F card found; anything else refused.
constexpr int kAnswerHeader = 10;
constexpr unsigned char kModuleOk = 0x90;
constexpr unsigned char kModuleCardFound = 0x9F;

// The card's text and photo out of the answer to the read frame.
struct IdRecord {
    unsigned char text[kTextBlockSize];  // the text block, zero past its length
    int textLen;                         // bytes of it the module sent (at most 256)
    const unsigned char *photo;          // into the answer
    int photoLen;                        // P
};

// True when `answer` (len bytes, the reader's status removed) is a whole
// module answer reporting success: preamble, a length that the bytes
// hold, a matching checksum and a success result.
bool moduleAnswerOk(const unsigned char *answer, std::size_t len);

// Takes the text block and the photo out of the answer to the read frame.
// False when the answer is not a successful module answer or announces
// more text (T) or photo (P) than it holds.
bool parseReadAnswer(const unsigned char *answer, std::size_t len, IdRecord *rec);

// Kinds of card the module reads, from the character at offset 248.
enum class CardKind { Resident, PermanentResidence /* "I" */, ResidencePermit /* "J" */ };
CardKind cardKind(const unsigned char *text);

// The outputs of the three readers from a text block; each writes at most
// a few hundred bytes and a NUL into `out` (kOutSize bytes) and returns the
// length written.
int formatIdentityCard(const unsigned char *text, char *out);
int formatSFZ(const unsigned char *text, char *out);
int formatIDC(const unsigned char *text, char *out);

// The photo as 2 * len upper-case hexadecimal digits and a NUL.
void photoHex(const unsigned char *photo, int len, char *out);

}  // namespace kestrel::idc
