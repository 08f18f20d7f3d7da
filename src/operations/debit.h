/* SPDX-License-Identifier: MIT */
// Debit on the card's debit application, its transaction records and the
// PIN trial.  The exported iDoDebit, iReadDebitRecord and iTryPIN are
// declared in kestrel.h.
//
// The card's two steps of a debit (initialize for debit, then the debit
// with MAC1) and the result text are shared by the debit whose MAC1 the
// PSAM computes (DoDebit) and the one whose cryptograms come from the
// host's security module.
#pragma once

#include "kestrel.h"

// Amounts and date-time of a debit in the card's encodings: 4-byte
// big-endian fen for the first, second and third amount, and the 14
// digits of the date and time packed two to a byte.
struct DebitInputs {
    unsigned char amounts[3][4];
    unsigned char dateTime[7];
};

// Converts three money texts and a date-time of 14 decimal digits.
// Returns 0, or -14 for an amount that checkdouble refuses or a date-time
// of another form (nothing converted then).
long debitInputs(const char *firstAmount, const char *secondAmount, const char *thirdAmount, const char *dateTime,
                 DebitInputs *in);

// What the card's initialize-for-debit answer gives the transaction.
struct DebitInit {
    unsigned char serial[2];      // the card's transaction serial
    unsigned char keyVersion;
    unsigned char algorithmId;    // as the card answered
    unsigned char random[4];      // pseudo-random number
};

// SELECT of the debit application DF04 on the card.  0 or the translated
// status word.
long selectDebitApplication(long handle);

// Initialize for debit, B0 28 01 01 13: key index 01, the three amounts
// and the 6-byte terminal number.  Returns 0 with init filled in, the
// translated status word, or the code of a failed exchange for an answer
// shorter than its 22 bytes.
long initializeForDebit(long handle, const DebitInputs &in, const unsigned char *terminal, DebitInit *init);

// READ BINARY 00 B0 00 00 06 of the PSAM's terminal file (0016), once
// selected: the 6-byte terminal number.  0, the translated status word,
// or the code of a failed exchange for a shorter answer.
long readTerminalNumber(long handle, unsigned char *terminal);

// The debit, B0 2C 01 00 0F: terminal transaction serial (4), date and
// time (7), MAC1 (4).  Returns 0 with the TAC and MAC2 (4 bytes each), or
// an error code; *maybeDebited tells whether the card may have debited
// all the same: its answer did not arrive whole (a failed exchange, 61xx
// or 6Cxx left, or fewer than 8 bytes), rather than a refusal.
long debitCard(long handle, const unsigned char *terminalSerial, const unsigned char *dateTime,
               const unsigned char *mac1, unsigned char *tac, unsigned char *mac2, bool *maybeDebited);

// The fields of the debit result text, each NUL-terminated.
struct DebitResult {
    char algorithm[3];         // m_usercardAlg as "%02x"
    char amounts[17];          // second and third amount, 8 hex digits each
    char terminal[13];         // terminal number
    char terminalSerial[9];    // terminal transaction serial
    char dateTime[15];
    char tac[9];
};

// After a failure once the card may have debited: appends to logbuf the
// line "<name>, debit not confirmed: serial S, terminal serial T, TAC X"
// with the card's transaction serial, the terminal transaction serial and
// the TAC (empty when the card's answer did not arrive), so that the host
// can look for the transaction among the card's records.
void logUnconfirmedDebit(const char *name, const char *serial, const char *terminalSerial, const char *tac);

// Upper-case hexadecimal of n bytes into dst (2 * n + 1 bytes).
void debitHex(char *dst, const unsigned char *src, unsigned n);

// Writes "alg|00B5|amounts|32|terminal|terminal serial|date-time|TAC|" (74
// characters and the NUL when every field is full) into out, which holds
// KESTREL_DEBIT_OUT_SIZE bytes.
void writeDebitResult(const DebitResult &r, char *out);

// The debit of a card that is powered, has the application selected and
// a PSAM powered: diversification data, the transaction PIN from the
// keypad (the initial PIN refused), DF04, the PSAM's terminal number, the
// initialize, MAC1 from the PSAM (key level 2, falling back to 1), the
// debit and the PSAM's check of MAC2.  Writes the result text into out
// (KESTREL_DEBIT_OUT_SIZE bytes) and returns 0, or writes the code's text
// and returns it.  After a failure once the debit was sent, the call log
// says which transaction to look for (see kestrel.h).
long DoDebit(long handle, char *firstAmount, char *secondAmount, char *thirdAmount, char *dateTime, char *out);

// A transaction record of DF04 EF08, and the longest text of one:
// "serial^terminal^date-time^amount^amount^|", 4 + 12 + 14 hexadecimal
// digits, two amounts of at most 11 characters (42949672.94), five "^"
// and the "|".
constexpr unsigned kDebitRecordSize = 28;
constexpr unsigned kMaxDebitRecordText = 4 + 12 + 14 + 2 * 11 + 5 + 1;

// The text of a 28-byte record, one "|"-terminated field of "^"-terminated
// parts: bytes 0-1, 3-8 and 9-15 in upper-case hexadecimal, then the
// amounts of bytes 20-23 and 24-27 as money text (empty for FF FF FF FF).
// Written to out without a NUL (at most kMaxDebitRecordText characters);
// returns the number written.
int debitRecordText(const unsigned char *record, char *out);

// Reads the transaction records of DF04 EF08 after verifying the keypad
// PIN: records 1 to 30 up to the first the card does not give, each as
// "serial^terminal^date-time^amount^amount^|", from the start of out
// (KESTREL_DEBIT_RECORDS_SIZE bytes).  0, or the code with its text (the
// status of the first READ RECORD when there is no record).
int ReadDebit(long handle, char *out);
