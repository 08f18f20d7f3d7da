// SPDX-License-Identifier: MIT
// Reading and writing the card's data items by file address and item: the
// data item directory says how each file is structured and what unlocks
// it; the record codecs turn card bytes into the interface's text and back.
#include "operations/read_write.h"

#include <cstring>

#include "datamodel/datamodel.h"
#include "errors/errors.h"
#include "hsm/hsm.h"
#include "operations/pin.h"
#include "security/security.h"
#include "session/session.h"

using namespace kestrel::sec;
using kestrel::dm::kTypeComposite;

namespace {

constexpr int kMaxGroups = 5;
constexpr int kMaxFields = 5;
constexpr int kMaxItems = kMaxFields - 1;
constexpr size_t kAddressSize = 8;          // DF and EF names run together
constexpr unsigned kHeader = 5;             // CLA INS P1 P2 Lc/Le
constexpr unsigned kMaxLc = 255;
constexpr unsigned kRecordHeader = 2;       // tag and length before a record's value
constexpr unsigned kMaxRecord = 256;        // the most one READ RECORD delivers
constexpr unsigned kChunk = 200;            // bytes per READ BINARY and UPDATE BINARY
constexpr unsigned kMaxCyclicRecords = 30;  // records of a cyclic file read when none are named
constexpr size_t kErrorTextSize = 100;
constexpr unsigned int kSwEndOfFile = 0x6B00;
// Status 6982 (security condition not satisfied) negated: an item that
// this interface does not write.
constexpr long kErrNotWritable = -27010;
// A result that does not fit the caller's buffer.
constexpr long kErrNoRoom = kErrArgument;

// File structures of the directory.
constexpr unsigned kTransparent = 0;
constexpr unsigned kFixedRecords = 1;
constexpr unsigned kTlvRecords = 2;
constexpr unsigned kCyclicRecords = 3;

const char kApplicationName[] = "SSSE";

// ---------------------------------------------------------------------------
// Text into a caller's buffer of a known size.
// ---------------------------------------------------------------------------

struct Text {
    char *p;
    size_t capacity;  // bytes, the NUL included
    size_t len;
};

// Appends n characters, keeping room for the NUL; false when they do not fit.
bool append(Text &t, const void *s, size_t n) {
    if (n >= t.capacity - t.len) return false;
    memcpy(t.p + t.len, s, n);
    t.len += n;
    return true;
}

bool appendField(Text &t, const unsigned char *s, int n) {
    return append(t, s, n > 0 ? static_cast<size_t>(n) : 0) && append(t, "|", 1);
}

void copyText(char *out, size_t capacity, const char *text) {
    if (!out || capacity == 0) return;
    size_t n = strnlen(text, capacity - 1);
    memcpy(out, text, n);
    out[n] = '\0';
}

// Writes the text of code into out (capacity bytes) and returns the code.
long fail(long code, char *out, size_t capacity) {
    char text[kErrorTextSize];
    getErrorInf(static_cast<int>(code), text);
    copyText(out, capacity, text);
    return code;
}

// ---------------------------------------------------------------------------
// Addresses
// ---------------------------------------------------------------------------

// The DF and EF identifiers of a file address: DF01EF05 gives DF 01 and
// EF 05; "SSSE" gives DF 00, the application itself, which is not selected.
struct FileIds {
    unsigned char df[2];
    unsigned char ef[2];
};

bool inApplication(const char *addr) { return strncmp(addr, kApplicationName, 4) == 0; }

FileIds fileIds(const char *addr) {
    FileIds ids = {{0xDF, 0x00}, {0x00, 0x00}};
    if (!inApplication(addr)) CHexToBin(reinterpret_cast<char *>(ids.df), addr, 4);
    CHexToBin(reinterpret_cast<char *>(ids.ef), addr + 4, 4);
    return ids;
}

// The tag (or record number) of an item address: its first two characters.
unsigned char itemTag(const char *item) {
    char tag = 0;
    CHexToBin(&tag, item, 2);
    return static_cast<unsigned char>(tag);
}

// The occurrence that an item address names: "<tag>:<n>" the n-th (n from
// 1), "<tag>" the first of an item that is not composite.  0 when the
// address is malformed.
int occurrence(const char *item, int dataType) {
    size_t n = strnlen(item, 5);
    if (n == 2) return dataType == static_cast<int>(kTypeComposite) ? 0 : 1;
    if (n == 4 && item[2] == ':' && item[3] >= '1' && item[3] <= '9') return item[3] - '0';
    return 0;
}

// Copies a group (shorter than a row, as the request checks ensure) into
// text, KESTREL_ROW_SIZE bytes, and splits it into its fields; the rows
// after the last field are left empty.  Returns the number of fields.
int splitGroup(TextSpan group, char *text, char rows[][KESTREL_ROW_SIZE]) {
    size_t n = group.n < KESTREL_ROW_SIZE - 1 ? group.n : KESTREL_ROW_SIZE - 1;
    memcpy(text, group.p, n);
    text[n] = '\0';
    int fields = unpackFromReceive(text, rows, kMaxFields);
    for (int i = fields; i < kMaxFields; ++i) rows[i][0] = '\0';
    return fields;
}

int groupsOf(const char *text, TextSpan *groups) {
    int n = dollarGroups(text, groups, kMaxGroups);
    return n < kMaxGroups ? n : kMaxGroups;
}

// ---------------------------------------------------------------------------
// Reading
// ---------------------------------------------------------------------------

// Decoded values land here before they are appended: the longest text of
// the largest value that one command delivers (a cyclic record takes up to
// 3 characters per byte).
constexpr size_t kDecodedSize = 3 * kMaxRecord + 16;

unsigned capped(unsigned n, unsigned limit) { return n < limit ? n : limit; }

long readRecordItems(long handle, char rows[][KESTREL_ROW_SIZE], int itemCount, Text &t, int cardVer,
                     unsigned le) {
    FileIds ids = fileIds(rows[0]);
    unsigned char rsp[kT0ResponseArea - 2];
    unsigned char decoded[kDecodedSize];
    for (int i = 1; i <= itemCount; ++i) {
        // Selecting the file again sets its record position back, so the
        // occurrences are counted from the first.
        long r = selectEF(handle, ids.ef);
        if (r != 0) return r;
        int dataType = 0, length = 0;
        if ((r = findDataType(rows[0], rows[i], cardVer, &dataType, &length)) != 0) return r;
        const int count = occurrence(rows[i], dataType);
        if (count == 0) return kErrAddress;
        const unsigned char tag = itemTag(rows[i]);
        const unsigned char cmd[kHeader] = {0x00, 0xB2, tag, 0x02, static_cast<unsigned char>(le)};
        unsigned int len = 0;
        for (int k = 0; k < count; ++k) {
            unsigned int sw = exchange(handle, cardSlot, cmd, sizeof cmd, rsp, sizeof rsp, &len);
            if (sw != 0x9000) return apduErrTanslation(sw);
        }
        // The record's tag and length, then its value: read up to the
        // item's length, whatever the card sends.
        if (len < kRecordHeader) return malformedAnswer();
        unsigned n = capped(capped(len - kRecordHeader, static_cast<unsigned>(length)), kMaxRecord);
        int w = recordToAscTLV(decoded, rsp + kRecordHeader, n, dataType, tag, cardVer);
        if (!appendField(t, decoded, w)) return kErrNoRoom;
    }
    return 0;
}

// Reads record `number` of the selected cyclic file and appends its text;
// *sw receives the card's status word (nothing is appended unless 9000).
long readCyclicRecord(long handle, unsigned char number, unsigned le, unsigned length, char *addr, Text &t,
                      unsigned int *sw) {
    const unsigned char cmd[kHeader] = {0x00, 0xB2, number, 0x04, static_cast<unsigned char>(le)};
    unsigned char rsp[kT0ResponseArea - 2];
    unsigned int len = 0;
    *sw = exchange(handle, cardSlot, cmd, sizeof cmd, rsp, sizeof rsp, &len);
    if (*sw != 0x9000) return 0;
    unsigned char decoded[kDecodedSize];
    int w = recordToAscRR(decoded, rsp, capped(capped(len, length), kMaxRecord), 0, addr);
    return appendField(t, decoded, w) ? 0 : kErrNoRoom;
}

long readCyclicRecords(long handle, char rows[][KESTREL_ROW_SIZE], int itemCount, Text &t, int cardVer,
                       unsigned le) {
    // The file's single entry describes every record.
    int dataType = 0, length = 0;
    long r = findDataType(rows[0], itemCount ? rows[1] : "", cardVer, &dataType, &length);
    if (r != 0) return r;
    unsigned int sw = 0;
    if (itemCount == 0) {
        // Every record up to the first that the card does not have.
        for (unsigned n = 1; n <= kMaxCyclicRecords; ++n) {
            r = readCyclicRecord(handle, static_cast<unsigned char>(n), le, static_cast<unsigned>(length), rows[0], t,
                                 &sw);
            if (r != 0) return r;
            // The card's refusal ends the records; a lost answer says
            // nothing of the records after it.
            if (answerNotWhole(sw)) return apduErrTanslation(sw);
            if (sw != 0x9000) break;
        }
        return 0;
    }
    for (int i = 1; i <= itemCount; ++i) {
        r = readCyclicRecord(handle, itemTag(rows[i]), le, static_cast<unsigned>(length), rows[0], t, &sw);
        if (r != 0) return r;
        if (sw != 0x9000) return apduErrTanslation(sw);
    }
    return 0;
}

long readTransparent(long handle, char rows[][KESTREL_ROW_SIZE], int itemCount, Text &t, int cardVer) {
    int dataType = 0, length = 0;
    long r = findDataType(rows[0], itemCount ? rows[1] : "", cardVer, &dataType, &length);
    if (r != 0) return r;
    unsigned char rsp[kT0ResponseArea - 2];
    unsigned char decoded[kDecodedSize];
    const unsigned size = static_cast<unsigned>(length);
    for (unsigned offset = 0; offset < size; offset += kChunk) {
        const unsigned le = capped(size - offset, kChunk);
        const unsigned char cmd[kHeader] = {0x00, 0xB0, static_cast<unsigned char>(offset >> 8),
                                            static_cast<unsigned char>(offset), static_cast<unsigned char>(le)};
        unsigned int len = 0;
        unsigned int sw = exchange(handle, cardSlot, cmd, sizeof cmd, rsp, sizeof rsp, &len);
        if (sw == kSwEndOfFile) break;  // the card's file ends here
        if (sw != 0x9000) return apduErrTanslation(sw);
        int w = recordToAsc(decoded, rsp, capped(len, le), dataType);
        if (!append(t, decoded, w > 0 ? static_cast<size_t>(w) : 0)) return kErrNoRoom;
    }
    return append(t, "|", 1) ? 0 : kErrNoRoom;
}

long readItems(long handle, char rows[][KESTREL_ROW_SIZE], int itemCount, Text &t, int cardVer) {
    if (!rows || itemCount < 0 || itemCount > kMaxItems) return kErrArgument;
    // The file address as the directory knows it, its 8 characters.
    if (!append(t, rows[0], strnlen(rows[0], kAddressSize)) || !append(t, "|", 1)) return kErrNoRoom;
    unsigned file[2] = {0, 0};
    long r = findFileType(rows[0], file, cardVer);
    if (r != 0) return r;
    const unsigned le = file[1] & 0xFF;
    switch (file[0]) {
    case kFixedRecords:
    case kTlvRecords:
        return readRecordItems(handle, rows, itemCount, t, cardVer, le);
    case kCyclicRecords:
        return readCyclicRecords(handle, rows, itemCount, t, cardVer, le);
    case kTransparent:
        return readTransparent(handle, rows, itemCount, t, cardVer);
    default:
        return 0;  // a structure this interface does not read
    }
}

// Meets the read condition of the selected file: external authentication
// with its key (levels 2 and 4, and 3 when authType is 2; skipped for a
// file without key), the PIN (levels 1 and 4, and 3 when authType is 1),
// asked for once per call.  Writes the failure's text into out.
long unlockForReading(long handle, int authType, const unsigned char *key, int level, unsigned char *divData,
                      unsigned char divLen, char *out, size_t capacity) {
    const bool keyed = key[0] || key[1] || key[2];
    bool withKey = (level == 2 || level == 4) && keyed;
    bool withPin = level == 1 || level == 4;
    if (level == 3) {
        if (authType == 1)
            withPin = true;
        else if (authType == 2)
            withKey = keyed;
        else
            return fail(kErrArgument, out, capacity);
    }
    if (withKey) {
        long r = findAndOpenPSAM(handle, m_usercardAlg);
        if (r == 0) r = PSAMExterAuth(handle, key[0], key[1], key[2], divData, divLen);
        if (r != 0) return fail(r, out, capacity);
    }
    if (withPin && !m_pin_verified) {
        char text[KESTREL_PIN_OUT_SIZE];
        int r = VerifyPIN(handle, text);
        if (r != 0) {
            copyText(out, capacity, text);
            return r;
        }
        m_pin_verified = 1;
    }
    return 0;
}

// ReadCard into a buffer of `capacity` bytes.
long readGroup(long handle, int authType, char rows[][KESTREL_ROW_SIZE], int itemCount, char *out, size_t capacity,
               int cardVer, unsigned char *divData, unsigned char divLen) {
    if (!out || capacity == 0) return kErrArgument;
    if (!rows || itemCount < 0 || itemCount > kMaxItems) return fail(kErrArgument, out, capacity);
    const char *addr = rows[0];
    if (!findFileDFEF(addr, cardVer)) return fail(kErrNotInDirectory, out, capacity);
    long r = selectFileOf(handle, addr);
    if (r != 0) return fail(r, out, capacity);
    unsigned char key[3] = {0, 0, 0};
    int level = 0;
    if ((r = findReadKey(addr, key, &level, cardVer)) != 0) return fail(r, out, capacity);
    if ((r = unlockForReading(handle, authType, key, level, divData, divLen, out, capacity)) != 0) return r;
    return readGroupItems(handle, rows, itemCount, out, capacity, cardVer);
}

// ---------------------------------------------------------------------------
// Writing
// ---------------------------------------------------------------------------

long sendWrite(long handle, const unsigned char *cmd, unsigned len) {
    unsigned int sw = exchange(handle, cardSlot, cmd, len, nullptr, 0, nullptr);
    return sw == 0x9000 ? 0 : apduErrTanslation(sw);
}

long writeRecordItems(long handle, char dataRows[][KESTREL_ROW_SIZE], char addrRows[][KESTREL_ROW_SIZE],
                      int itemCount, int cardVer, bool send) {
    FileIds ids = fileIds(addrRows[0]);
    for (int i = 1; i <= itemCount; ++i) {
        long r;
        if (send && (r = selectEF(handle, ids.ef)) != 0) return r;
        int dataType = 0, length = 0;
        if ((r = findDataType(addrRows[0], addrRows[i], cardVer, &dataType, &length)) != 0) return r;
        const int occ = occurrence(addrRows[i], dataType);
        if (occ == 0 || length < 0 || length > static_cast<int>(kMaxLc - kRecordHeader)) return kErrAddress;
        const unsigned char tag = itemTag(addrRows[i]);
        // UPDATE RECORD of the record with this identifier; a repeated
        // composite item of a card of version 2 or 3 by its record number.
        unsigned char cmd[kHeader + kMaxLc] = {0x00, 0xDC, tag, 0x00};
        int n = ascToRecordTLV(cmd + kHeader + kRecordHeader, dataRows[i], static_cast<unsigned>(length), dataType,
                               tag, cardVer);
        if (n < 0 || n > length) return kErrAddress;
        if (dataType == static_cast<int>(kTypeComposite) && cardVer != 1) {
            cmd[2] = static_cast<unsigned char>(occ + findBtlvRecordOffset(tag));
            cmd[3] = 0x04;
        }
        cmd[4] = static_cast<unsigned char>(n + kRecordHeader);
        cmd[5] = tag;
        cmd[6] = static_cast<unsigned char>(n);
        if (send && (r = sendWrite(handle, cmd, kHeader + kRecordHeader + static_cast<unsigned>(n))) != 0) return r;
    }
    return 0;
}

long writeCyclicRecords(long handle, char dataRows[][KESTREL_ROW_SIZE], char addrRows[][KESTREL_ROW_SIZE],
                        int itemCount, int cardVer, CyclicValues cyclic, bool send) {
    if (itemCount == 0) return 0;  // no value, no record
    int dataType = 0, length = 0;
    long r = findDataType(addrRows[0], "", cardVer, &dataType, &length);
    if (r != 0) return r;
    if (length < 0 || length > static_cast<int>(kMaxLc)) return kErrAddress;
    const int values = cyclic == CyclicValues::FirstValueOnly ? 1 : itemCount;
    for (int v = 1; v <= values; ++v) {
        unsigned char cmd[kHeader + kMaxLc] = {0x00, 0xDC, 0x00, 0x03};
        int n = ascToRR(cmd + kHeader, dataRows[v], static_cast<unsigned>(length), dataType, addrRows[0]);
        if (n <= 0 || n > length) return kErrAddress;
        cmd[4] = static_cast<unsigned char>(n);
        if (send && (r = sendWrite(handle, cmd, kHeader + static_cast<unsigned>(n))) != 0) return r;
    }
    return 0;
}

long writeTransparent(long handle, char dataRows[][KESTREL_ROW_SIZE], char addrRows[][KESTREL_ROW_SIZE],
                      int itemCount, int cardVer, bool send) {
    if (itemCount == 0) return kErrAddress;
    // One content per file: a second value would never be written.
    if (itemCount > 1) return kErrArgument;
    int dataType = 0, length = 0;
    long r = findDataType(addrRows[0], "", cardVer, &dataType, &length);
    if (r != 0) return r;
    // A value of one row is at most half a row of bytes.
    unsigned char data[KESTREL_ROW_SIZE];
    const unsigned room = capped(static_cast<unsigned>(length), sizeof data);
    int n = ascToRecord(data, dataRows[1], room, dataType);
    if (n < 0 || n > length) return kErrAddress;
    if (!send) return 0;
    for (unsigned offset = 0; offset < static_cast<unsigned>(n); offset += kChunk) {
        const unsigned lc = capped(static_cast<unsigned>(n) - offset, kChunk);
        unsigned char cmd[kHeader + kChunk] = {0x00, 0xD6, static_cast<unsigned char>(offset >> 8),
                                               static_cast<unsigned char>(offset), static_cast<unsigned char>(lc)};
        memcpy(cmd + kHeader, data + offset, lc);
        if ((r = sendWrite(handle, cmd, kHeader + lc)) != 0) return r;
    }
    return 0;
}

// Converts every value of a group and, when send is set, writes them.
long writeItems(long handle, char dataRows[][KESTREL_ROW_SIZE], char addrRows[][KESTREL_ROW_SIZE], int itemCount,
                int cardVer, CyclicValues cyclic, bool send) {
    if (!dataRows || !addrRows || itemCount < 0 || itemCount > kMaxItems) return kErrArgument;
    unsigned file[2] = {0, 0};
    long r = findFileType(addrRows[0], file, cardVer);
    if (r != 0) return r;
    switch (file[0]) {
    case kFixedRecords:
    case kTlvRecords:
        return writeRecordItems(handle, dataRows, addrRows, itemCount, cardVer, send);
    case kCyclicRecords:
        return writeCyclicRecords(handle, dataRows, addrRows, itemCount, cardVer, cyclic, send);
    case kTransparent:
        return writeTransparent(handle, dataRows, addrRows, itemCount, cardVer, send);
    default:
        return 0;  // a structure this interface does not write
    }
}

long writeGroup(long handle, char dataRows[][KESTREL_ROW_SIZE], char addrRows[][KESTREL_ROW_SIZE], int itemCount,
                int cardVer) {
    if (!dataRows || !addrRows || itemCount < 0 || itemCount > kMaxItems) return kErrArgument;
    const char *addr = addrRows[0];
    if (!findFileDFEF(addr, cardVer)) return kErrNotInDirectory;
    // Nothing reaches the card for a group with a value it cannot take.
    long r = checkWriteGroup(dataRows, addrRows, itemCount, cardVer, CyclicValues::EachValue);
    if (r != 0) return r;
    unsigned char atr[kAtrBufferSize];
    unsigned int atrLen = 0;
    unsigned char divData[kDivDataSize] = {};
    unsigned char divLen = 0;
    if ((r = GetCardDivIndex(handle, atr, &atrLen, divData, &divLen)) != 0) return r;
    if ((r = selectFileOf(handle, addr)) != 0) return r;
    unsigned char key[3] = {0, 0, 0};
    int level = 0;
    if ((r = findWriteKey(addr, key, cardVer, &level)) != 0) return r;
    if (level == 2) {
        if ((r = PSAMExterAuth(handle, key[0], key[1], key[2], divData, divLen)) != 0) return r;
    } else if (level != 0) {
        return kErrNotWritable;  // the PIN never unlocks a write
    }
    return writeItems(handle, dataRows, addrRows, itemCount, cardVer, CyclicValues::EachValue, true);
}

// ---------------------------------------------------------------------------
// The exported calls' checks and group loops
// ---------------------------------------------------------------------------

// Every group of a write request, checked before anything is written: a
// file that this interface does not write, values that do not convert.
long checkWriteRequest(const char *addrText, const char *dataText, int cardVer, char *text,
                       char addrRows[][KESTREL_ROW_SIZE], char dataRows[][KESTREL_ROW_SIZE]) {
    TextSpan addr[kMaxGroups], data[kMaxGroups];
    const int n = groupsOf(addrText, addr);
    if (groupsOf(dataText, data) != n) return kErrArgument;
    for (int g = 0; g < n; ++g) {
        splitGroup(addr[g], text, addrRows);
        const int values = splitGroup(data[g], text, dataRows);
        unsigned char key[3];
        int level = 0;
        long r = findWriteKey(addrRows[0], key, cardVer, &level);
        if (r != 0) return r;
        if (level != 0 && level != 2) return kErrNotWritable;
        if ((r = checkWriteGroup(dataRows, addrRows, values - 1, cardVer, CyclicValues::EachValue)) != 0) return r;
    }
    return 0;
}

// Reads the groups of a checked file-address list into out
// (KESTREL_READCARD_OUT_SIZE bytes), each followed by "$".  On failure out
// holds the failure's text alone.
long readGroups(long handle, int authType, const char *fileAddr, char *out, unsigned char *divData,
                unsigned char divLen, char *text, char rows[][KESTREL_ROW_SIZE]) {
    TextSpan groups[kMaxGroups];
    const int n = groupsOf(fileAddr, groups);
    m_pin_verified = 0;
    size_t len = 0;
    bool inSubApplication = false;  // an earlier group selected a DF
    for (int g = 0; g < n; ++g) {
        const int fields = splitGroup(groups[g], text, rows);
        char *at = out + len;
        const size_t room = KESTREL_READCARD_OUT_SIZE - len - 1;  // one byte for its "$"
        if (room < kErrorTextSize) return fail(kErrNoRoom, out, KESTREL_READCARD_OUT_SIZE);
        const bool application = inApplication(rows[0]);
        long r = 0;
        // A file of the application itself after a sub-application's: the
        // application is selected again, so that its EF is not looked for
        // in the DF selected last.
        if (application && inSubApplication) {
            unsigned int sw = selectApplication(handle, nullptr, 0, nullptr);
            if (sw != 0x9000) r = fail(apduErrTanslation(sw), at, room);
        }
        if (r == 0) r = readGroup(handle, authType, rows, fields - 1, at, room, m_usercardVer, divData, divLen);
        if (r != 0) {
            // The results so far are dropped: the failure's text alone.
            size_t n = strnlen(at, room - 1);
            memmove(out, at, n);
            out[n] = '\0';
            return r;
        }
        len += strlen(at);
        out[len++] = '$';
        out[len] = '\0';
        inSubApplication = !application;
    }
    return 0;
}

long writeGroups(long handle, const char *addrText, const char *dataText, char *out, int cardVer, char *text,
                 char addrRows[][KESTREL_ROW_SIZE], char dataRows[][KESTREL_ROW_SIZE]) {
    TextSpan addr[kMaxGroups], data[kMaxGroups];
    const int n = groupsOf(addrText, addr);
    groupsOf(dataText, data);
    for (int g = 0; g < n; ++g) {
        splitGroup(addr[g], text, addrRows);
        const int values = splitGroup(data[g], text, dataRows);
        long r = WriteCard(handle, dataRows, addrRows, values - 1, out, cardVer);
        if (r != 0) return r;
    }
    return 0;
}

}  // namespace

long selectFileOf(long handle, const char *fileAddr) {
    if (!fileAddr) return kErrArgument;
    FileIds ids = fileIds(fileAddr);
    return selectDFEF(handle, ids.df, ids.ef);
}

long checkRecordNumbers(const char *fileAddr, int cardVer, char *text, char rows[][KESTREL_ROW_SIZE]) {
    TextSpan groups[kMaxGroups];
    const int n = groupsOf(fileAddr, groups);
    for (int g = 0; g < n; ++g) {
        const int fields = splitGroup(groups[g], text, rows);
        unsigned file[2] = {0, 0};
        if (findFileType(rows[0], file, cardVer) != 0 || file[0] != kCyclicRecords) continue;
        for (int i = 1; i < fields; ++i) {
            unsigned number = itemTag(rows[i]);
            if (number < 1 || number > kMaxCyclicRecords) return kErrAddress;
        }
    }
    return 0;
}

long readGroupItems(long handle, char rows[][KESTREL_ROW_SIZE], int itemCount, char *out, size_t capacity,
                    int cardVer) {
    if (!out || capacity == 0) return kErrArgument;
    Text t = {out, capacity, 0};
    long r = readItems(handle, rows, itemCount, t, cardVer);
    if (r != 0) return fail(r, out, capacity);
    out[t.len] = '\0';
    return 0;
}

long ReadCard(long handle, int authType, char rows[][KESTREL_ROW_SIZE], int itemCount, char *out, int cardVer,
              unsigned char *divData, unsigned char divLen) {
    return readGroup(handle, authType, rows, itemCount, out, kReadGroupTextSize, cardVer, divData, divLen);
}

long checkWriteGroup(char dataRows[][KESTREL_ROW_SIZE], char addrRows[][KESTREL_ROW_SIZE], int itemCount,
                     int cardVer, CyclicValues cyclic) {
    return writeItems(0, dataRows, addrRows, itemCount, cardVer, cyclic, false);
}

long writeGroupItems(long handle, char dataRows[][KESTREL_ROW_SIZE], char addrRows[][KESTREL_ROW_SIZE],
                     int itemCount, int cardVer, CyclicValues cyclic) {
    long r = checkWriteGroup(dataRows, addrRows, itemCount, cardVer, cyclic);
    if (r != 0) return r;
    return writeItems(handle, dataRows, addrRows, itemCount, cardVer, cyclic, true);
}

long WriteCard(long handle, char dataRows[][KESTREL_ROW_SIZE], char addrRows[][KESTREL_ROW_SIZE], int itemCount,
               char *out, int cardVer) {
    long r = writeGroup(handle, dataRows, addrRows, itemCount, cardVer);
    if (r != 0) return fail(r, out, out ? KESTREL_WRITECARD_OUT_SIZE : 0);
    if (out) out[0] = '\0';
    return 0;
}

extern "C" {

long iReadCard(int iType, int iAuthType, char *pCardInfo, char *pFileAddr, char *pOutInfo) {
    static const char kName[] = "iReadCard";
    logInPara(kName, iType, iAuthType, pCardInfo, pFileAddr);
    long r = checkCardType(iType);
    if (r == 0 && (!pOutInfo || !pFileAddr || (iAuthType != 1 && iAuthType != 2) || !acceptableCardInfo(pCardInfo)))
        r = kErrArgument;
    if (r != 0) {
        getErrorInf(static_cast<int>(r), pOutInfo);
        return r;
    }
    char card[2][KESTREL_ROW_SIZE];
    unpackFromReceive(pCardInfo, card, 2);
    long handle = ICC_Reader_Open("USB1");
    if (handle < 0) {
        getErrorInf(static_cast<int>(kErrReader), pOutInfo);
        return kErrReader;
    }

    char text[KESTREL_ROW_SIZE];
    char rows[kMaxFields][KESTREL_ROW_SIZE];
    int alg = kDefaultAlgorithm;
    char version[5] = {};
    unsigned char atr[kAtrBufferSize];
    unsigned int atrLen = 0;
    unsigned char divData[kDivDataSize] = {};
    unsigned char divLen = 0;
    r = findAndOpenCard(handle, iType);
    if (r == 0) r = selectSSSE(handle, &alg, version, true);
    if (r == 0) r = checkfileaddr(pFileAddr, m_usercardVer);
    if (r == 0) r = checkRecordNumbers(pFileAddr, m_usercardVer, text, rows);
    if (r == 0) r = checkCardInfo(handle, card[0], card[1]);
    if (r == 0) r = GetCardDivIndex(handle, atr, &atrLen, divData, &divLen);
    if (r != 0) {
        getErrorInf(static_cast<int>(r), pOutInfo);
        closeReader(handle);
        return r;
    }
    r = readGroups(handle, iAuthType, pFileAddr, pOutInfo, divData, divLen, text, rows);
    closeReader(handle);
    if (r != 0) return r;
    logOutPara(kName, pOutInfo);
    return 0;
}

long iWriteCard(int iType, char *pCardInfo, char *pFileAddr, char *pWriteData, char *pOutInfo) {
    logInPara("iWriteCard", iType, pCardInfo, pFileAddr, pWriteData);
    long r = checkCardType(iType);
    if (r == 0 && (!pOutInfo || !pFileAddr || !pWriteData || !acceptableCardInfo(pCardInfo))) r = kErrArgument;
    if (r == 0) r = checkWriteData(pFileAddr, pWriteData);
    if (r != 0) {
        getErrorInf(static_cast<int>(r), pOutInfo);
        return r;
    }
    char card[2][KESTREL_ROW_SIZE];
    unpackFromReceive(pCardInfo, card, 2);
    long handle = ICC_Reader_Open("USB1");
    if (handle < 0) {
        getErrorInf(static_cast<int>(kErrReader), pOutInfo);
        return kErrReader;
    }

    char text[KESTREL_ROW_SIZE];
    char addrRows[kMaxFields][KESTREL_ROW_SIZE];
    char dataRows[kMaxFields][KESTREL_ROW_SIZE];
    int alg = kDefaultAlgorithm;
    char version[5] = {};
    r = findAndOpenCard(handle, iType);
    if (r == 0) r = selectSSSE(handle, &alg, version, true);
    if (r == 0) r = findAndOpenPSAM(handle, alg);
    if (r == 0) r = checkfileaddr(pFileAddr, m_usercardVer);
    if (r == 0) r = checkWriteRequest(pFileAddr, pWriteData, m_usercardVer, text, addrRows, dataRows);
    if (r == 0) r = checkCardInfo(handle, card[0], card[1]);
    if (r == 0) r = writeGroups(handle, pFileAddr, pWriteData, pOutInfo, m_usercardVer, text, addrRows, dataRows);
    if (r != 0) {
        getErrorInf(static_cast<int>(r), pOutInfo);
        closeReader(handle);
        return r;
    }
    closeReader(handle);
    pOutInfo[0] = '\0';
    return 0;
}

}  // extern "C"
