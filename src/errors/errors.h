/* SPDX-License-Identifier: MIT */
// Error codes, their texts and the call log: internal declarations.
//
// Everything here keeps C++ linkage; the plain C exports of this layer
// (logbuf, Addlog, getHandler) are declared in kestrel.h.
#pragma once

#include <cstddef>

#include "kestrel.h"

// ---------------------------------------------------------------------------
// Error table
// ---------------------------------------------------------------------------

// One row of the error table: a code and its GB18030 text, NUL-terminated
// and zero-padded to the field's 100 bytes.
struct ErrorEntry {
    int code;
    char text[100];
};

constexpr std::size_t kErrorTableRows = 50;

// The codes that the layers return themselves (the others are negated
// status words).  Their texts are in errortable.
constexpr long kErrWrongCardType = -1;
constexpr long kErrNoCard = -2;
constexpr long kErrNotPowered = -3;
constexpr long kErrNoAnswer = -4;
constexpr long kErrReader = -11;
constexpr long kErrNotOpen = -12;
constexpr long kErrArgument = -14;
constexpr long kErrVersion = -20;          // identification code or version malformed
constexpr long kErrInternalAuth = -21;     // the card's answer is not the PSAM's
constexpr long kErrCardMismatch = -22;     // the card is not the one the host names
constexpr long kErrAddress = -23;          // malformed address or value text
constexpr long kErrKeyLevel = -24;         // key level refused or no key down to level 1
constexpr long kErrNotInDirectory = -25;   // file or item unknown for this card version
constexpr long kErrPinEntry = -32;         // keypad not ready, entry refused or timed out
constexpr long kErrPinLength = -33;        // keyed PIN of the wrong length or not digits
constexpr long kErrPinRepeat = -34;        // new PIN and its repetition differ
constexpr long kErrInitialPinTrade = -35;  // the initial PIN cannot serve a debit
constexpr long kErrInitialPinChange = -36; // a change may not set the initial PIN
constexpr long kErrWrongPin = -51;         // PIN refused, tries left
constexpr long kErrPinBlocked = -52;
constexpr long kErrNoPsam = -2201;
constexpr long kErrPsamApplication = -2202;

// The codes and texts, in their stored order.  Nothing writes it.
extern const ErrorEntry errortable[kErrorTableRows];

// "未知错误": the text of a code that has no row (GB18030, 8 bytes).
namespace kestrel {
extern const char kUnknownErrorText[];
}

// Text of `code`: its row's text, or kestrel::kUnknownErrorText.  Never null.
const char *errorText(int code);

// Card status word (SW1*256 + SW2) to error code.  SW1 0x63 gives the
// external-authentication codes by the tries left in SW2 (0xC2 and up:
// -25536, 0xC1: -25537, anything else: -25538); every other status word
// gives its own negation, and so a code that has no row when the status
// word is not in the table.  The result is always negative: the status
// word 0x0000, which no card sends and whose negation would read as
// success, is treated as the failed exchange 0x6F00.
long apduErrTanslation(unsigned int sw);

// Writes the text of `code` into `out` (at least 100 bytes; nothing is
// written when `out` is null) and replaces the call log line with
// "getErrorInf, code:<code>, error info <text>\r\n".
void getErrorInf(int code, char *out);

// ---------------------------------------------------------------------------
// Call log
//
// Each helper formats one line into logbuf from its first byte, replacing
// the previous line.  A line longer than logbuf is cut to fit (a line that
// ends in CR LF keeps its CR LF); a null text argument is logged as an
// empty text.  Arguments may point into logbuf itself.
// ---------------------------------------------------------------------------

// In-para lines, written first by every exported card function:
// "\r\n\r\n<name>, in para: <args separated by ", ">".
void logInPara(const char *name, int a);
void logInPara(const char *name, const char *s);
void logInPara(const char *name, int a, const char *s);
void logInPara(const char *name, int a, const char *s1, const char *s2);
void logInPara(const char *name, int a, const char *s1, const char *s2, const char *s3);
void logInPara(const char *name, int a, int b, const char *s1, const char *s2);
void logInPara(const char *name, const char *s1, const char *s2);

// Out-para lines, written just before a successful return:
// "<name>, out para: <text>\r\n" and "<name>, out para: <code>, <text>\r\n".
void logOutPara(const char *name, const char *text);
void logOutPara(const char *name, int code, const char *text);

// Trace of the diversification data: "DivIndex: " and the upper-case
// hexadecimal digits of `len` bytes.
void logDivIndex(const unsigned char *data, std::size_t len);

// Trace of the internal-authentication check: "des1: <16 hex>, Des2: <16 hex>"
// for two 8-byte values.
void logDes(const unsigned char *des1, const unsigned char *des2);

// Any other line, printf-style.
void logLine(const char *fmt, ...) __attribute__((format(printf, 1, 2)));

// Takes a format text and any arguments and does nothing.
void log(char *fmt, ...);
