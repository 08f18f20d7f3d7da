/* SPDX-License-Identifier: MIT */
// Card data model: the data item directory, value conversions, record and
// TLV codecs, interface text helpers and request checks.
//
// The functions with plain C names are declared in kestrel.h; the ones
// below keep C++ linkage (their symbols encode the parameter types).
#ifndef KESTREL_DATAMODEL_H
#define KESTREL_DATAMODEL_H

#include "errors/errors.h"
#include "kestrel.h"

#include <cstddef>
#include <cstdint>

static_assert(sizeof(FileTableEntry) == 64, "directory entries are 64 bytes");
static_assert(offsetof(FileTableEntry, tag) == 10, "entry layout");
static_assert(offsetof(FileTableEntry, length) == 12, "entry layout");
static_assert(offsetof(FileTableEntry, occurrences) == 28, "entry layout");
static_assert(offsetof(FileTableEntry, readKey) == 36, "entry layout");
static_assert(offsetof(FileTableEntry, readLevel) == 44, "entry layout");
static_assert(offsetof(FileTableEntry, writeKey) == 52, "entry layout");
static_assert(offsetof(FileTableEntry, writeLevel) == 60, "entry layout");

namespace kestrel::dm {
// The negated status word 6A88 (key or referenced data not found).
constexpr int kErrNoAccessEntry = -27272;  // status 6A88 negated

// Data type codes of FileTableEntry::dataType.
constexpr unsigned kTypeCyclicRecord = 0;
constexpr unsigned kTypeText = 1;
constexpr unsigned kTypeComposite = 2;
constexpr unsigned kTypeCn = 15;
constexpr unsigned kTypeMoneyCn = 16;
constexpr unsigned kTypeMoneyB = 17;
constexpr unsigned kTypeBinary = 255;

constexpr int kRowSize = KESTREL_ROW_SIZE;
constexpr int kMaxChildren = KESTREL_MAX_CHILDREN;
}  // namespace kestrel::dm

// ---- Directory tables (constant data) -------------------------------
extern "C" {
extern const FileTableEntry fileTableV1[93];
extern const FileTableEntry fileTableV2[128];
extern const FileTableEntry fileTableV3[128];
extern const FileTableEntry childTableV1[7];
extern const FileTableEntry childTableV2[27];
extern const FileTableEntry childTableV3[27];
extern const FileTableEntry childTablerr[18];
extern const unsigned char btlvOffTable[12];
}

// ---- Value conversions ----------------------------------------------
// Hexadecimal text of n bytes, cut at the first non-digit; returns the
// number of digits kept.  dst holds 2*n + 1 bytes.
int moneycnRemoveNonnumchar(unsigned char *dst, unsigned char *src, unsigned n);

// ---- Record and TLV codecs ------------------------------------------
// Decoders write NUL-terminated text and return its length; a record that
// does not match its layout (or runs past len) yields the empty text and 0.
// Output sizes: recordToAsc and tlvToAsc need 2*len + 1 bytes (at least
// 16), recordToAscRR 3*len + 1 (at least 16).
int recordToAsc(unsigned char *out, unsigned char *data, unsigned len, int dataType);
int tlvToAsc(unsigned char *out, unsigned char *data, unsigned len, unsigned char parentTag,
             int cardVer);
int recordToAscTLV(unsigned char *out, unsigned char *data, unsigned len, int dataType,
                   unsigned char tag, int cardVer);
int recordToAscRR(unsigned char *out, unsigned char *data, unsigned len, int dataType,
                  char *fileAddr);

// Encoders return the number of bytes written to out, never more than the
// value's layout length (len, or the composite/record length of the
// directory); -1 (ascToRecord) or -23 (the others) for unacceptable text.
int ascToRecord(unsigned char *out, char *text, unsigned len, int dataType);
int ascToTLV(unsigned char *out, char *text, unsigned len, int dataType, unsigned char parentTag,
             int cardVer);
int ascToRecordTLV(unsigned char *out, char *text, unsigned len, int dataType, unsigned char tag,
                   int cardVer);
int ascToRR(unsigned char *out, char *text, unsigned len, int dataType, char *fileAddr);

// ---- Interface texts ------------------------------------------------
// A piece of a text, not NUL-terminated.
struct TextSpan {
    const char *p;
    size_t n;
};
// The groups of a text as splitWithDollar finds them, in place: at most
// maxGroups are stored in out; returns how many the text holds.
int dollarGroups(const char *text, TextSpan *out, int maxGroups);

int unpackFromReceive(char *text, char rows[][KESTREL_ROW_SIZE], int maxRows);
void packForResponse(unsigned char *src, int len, char *out, int *count);
void packWithDelimiter(unsigned char *src, int len, char *out, int *count, char ch);

int checkfileaddr(char *text, int cardVer);
int checkEFFile(char *group, int cardVer);
int checkWriteData(char *addrText, char *dataText);
long checkdouble(char *text);
long checkPayInfo(char *text);

#endif  // KESTREL_DATAMODEL_H
