/* SPDX-License-Identifier: MIT */
// Reading and writing the card's data items by file address and item, one
// file address group at a time.  The exported iReadCard and iWriteCard are
// declared in kestrel.h.
//
// Rows are the fields of one group as unpackFromReceive leaves them: row 0
// the file address, rows 1 .. itemCount the item addresses (reading) or
// the values (writing).
#pragma once

#include <cstddef>

#include "kestrel.h"

// Bytes of the text of one group that ReadCard writes: the longest group
// text and its NUL.
constexpr size_t kReadGroupTextSize = KESTREL_READCARD_GROUP_SIZE + 1;

// Reads one group: selects its file (the DF first unless the address is
// "SSSE"), unlocks it as its read level asks (external authentication with
// the PSAM and the file's key for levels 2 and 4, the PIN from the keypad
// for 1 and 4 unless m_pin_verified is set, either for level 3 as authType
// 1 (PIN) or 2 (PSAM) chooses), then reads the items.  out (at least
// kReadGroupTextSize bytes) receives the group's text, "<file address>|"
// and each field with its "|", NUL-terminated; on failure the code's text
// (the retry text of a refused PIN).  divData and divLen are the card's
// diversification data.  Returns 0 or an error code.
long ReadCard(long handle, int authType, char rows[][KESTREL_ROW_SIZE], int itemCount, char *out, int cardVer,
              unsigned char *divData, unsigned char divLen);

// Writes one group: checks every value, powers the card anew for its
// diversification data, selects the file, authenticates the terminal with
// the PSAM and the file's write key (write level 2; level 0 needs nothing,
// any other level gives -27010), then writes the values.  addrRows holds
// the file address group, dataRows the values (row 0 the file address).
// The PSAM must be powered.  out (at least KESTREL_WRITECARD_OUT_SIZE
// bytes) receives the empty text, or the code's text on failure.
long WriteCard(long handle, char dataRows[][KESTREL_ROW_SIZE], char addrRows[][KESTREL_ROW_SIZE], int itemCount,
               char *out, int cardVer);

// ---------------------------------------------------------------------------
// The parts after the access conditions are met, shared with the steps in
// which a host's security module authenticates the terminal.
// ---------------------------------------------------------------------------

// Selects the file of a file address: its DF (none for "SSSE", the
// application itself) and then its EF.  0 or a translated status word.
long selectFileOf(long handle, const char *fileAddr);

// Record numbers named for cyclic files must lie from 01 to 1E: 0 or -23.
// text (KESTREL_ROW_SIZE bytes) and rows (5 rows) are scratch space.
long checkRecordNumbers(const char *fileAddr, int cardVer, char *text, char rows[][KESTREL_ROW_SIZE]);

// Reads the items of a group whose file is selected and unlocked, by the
// file's structure: each record item with READ RECORD by identifier (the
// n-th occurrence of a composite item), the cyclic records named or all up
// to the first the card lacks (at most 30), or a transparent file in
// chunks of 200 bytes up to its size or 6B00.  Writes the group's text as
// ReadCard does into out, which holds `capacity` bytes; never more.
long readGroupItems(long handle, char rows[][KESTREL_ROW_SIZE], int itemCount, char *out, size_t capacity,
                    int cardVer);

// What a group of a cyclic file writes: a record for each value, or one
// record, built from the first value.
enum class CyclicValues { EachValue, FirstValueOnly };

// Checks the values of a write group against the directory without
// sending anything: 0, -23 for a malformed item address, a missing value
// or one that does not convert or fit its item, -14 for more than one
// value for a transparent file, -25 for a file or item the directory of
// cardVer lacks.
long checkWriteGroup(char dataRows[][KESTREL_ROW_SIZE], char addrRows[][KESTREL_ROW_SIZE], int itemCount,
                     int cardVer, CyclicValues cyclic);

// Writes the values of a group whose file is selected and whose write
// condition is met: UPDATE RECORD by identifier (by record number for a
// repeated composite item on cards of version 2 and 3), the append of a
// cyclic record, or UPDATE BINARY in chunks of 200 bytes.  Checks as
// checkWriteGroup first.  Returns 0 or an error code; writes no text.
long writeGroupItems(long handle, char dataRows[][KESTREL_ROW_SIZE], char addrRows[][KESTREL_ROW_SIZE],
                     int itemCount, int cardVer, CyclicValues cyclic);
