// SPDX-License-Identifier: MIT
// Lookups in the data item directory.  Every lookup is a linear scan in
// table order; the first matching entry wins (the entries of one file are
// contiguous and the first carries the values the whole file shares).
#include "datamodel/datamodel.h"

#include <cstring>

using namespace kestrel::dm;

namespace {

struct Table {
    const FileTableEntry *entries;
    int count;
};

Table itemTable(int cardVer) {
    if (cardVer == 1) return {fileTableV1, 93};
    if (cardVer == 3) return {fileTableV3, 128};
    return {fileTableV2, 128};
}

Table childTable(int cardVer) {
    if (cardVer == 1) return {childTableV1, 7};
    if (cardVer == 3) return {childTableV3, 27};
    return {childTableV2, 27};
}

constexpr Table kRecordTable = {childTablerr, 18};

// Compares the 4 characters of a name with the address from `at`, byte for
// byte; a shorter address (NUL) does not match and is not read past.
bool sameName(const char *addr, const char *name) {
    for (int i = 0; i < 4; ++i)
        if (addr[i] == 0 || addr[i] != name[i]) return false;
    return true;
}

bool sameFile(const char *fileAddr, const FileTableEntry &e) {
    return sameName(fileAddr, e.dfName) && sameName(fileAddr + 4, e.efName);
}

const FileTableEntry *firstOfFile(const char *fileAddr, Table t) {
    if (!fileAddr) return nullptr;
    for (int i = 0; i < t.count; ++i)
        if (sameFile(fileAddr, t.entries[i])) return &t.entries[i];
    return nullptr;
}

// The tag that an item text names: its first two characters as hexadecimal
// (either case), converted as CHexToBin does; nothing is read past a NUL.
unsigned char itemTag(const char *item) {
    char tag = 0;
    if (item) CHexToBin(&tag, item, 2);
    return static_cast<unsigned char>(tag);
}

// Whether the parent list of a composite-child entry (the bytes of dfName
// before its NUL) names the parent tag.
bool hasParent(const FileTableEntry &e, unsigned char parentTag) {
    for (int i = 0; i < 5 && e.dfName[i] != 0; ++i)
        if (static_cast<unsigned char>(e.dfName[i]) == parentTag) return true;
    return false;
}

}  // namespace

extern "C" {

const FileTableEntry *findFileDFEF(const char *fileAddr, int cardVer) {
    return firstOfFile(fileAddr, itemTable(cardVer));
}

const FileTableEntry *findFile(const char *fileAddr, const char *item, int cardVer) {
    if (!fileAddr) return nullptr;
    Table t = itemTable(cardVer);
    for (int i = 0; i < t.count; ++i) {
        const FileTableEntry &e = t.entries[i];
        if (!sameFile(fileAddr, e)) continue;
        // A whole-file entry (transparent or cyclic file) matches every item.
        if (e.tag == 0 || e.tag == itemTag(item)) return &e;
    }
    return nullptr;
}

int findFileType(const char *fileAddr, unsigned *out, int cardVer) {
    const FileTableEntry *e = findFileDFEF(fileAddr, cardVer);
    if (!e) return kErrNotInDirectory;
    if (out) {
        out[0] = e->fileType;
        out[1] = e->recordLength;
    }
    return 0;
}

int findDataType(const char *fileAddr, const char *item, int cardVer, int *dataType, int *length) {
    const FileTableEntry *e = findFile(fileAddr, item, cardVer);
    if (!e) return kErrNotInDirectory;
    if (dataType) *dataType = static_cast<int>(e->dataType);
    if (length) *length = static_cast<int>(e->length);
    return 0;
}

int findReadKey(const char *fileAddr, unsigned char *key, int *level, int cardVer) {
    const FileTableEntry *e = findFileDFEF(fileAddr, cardVer);
    if (!e) return kErrNoAccessEntry;
    if (key) std::memcpy(key, e->readKey, 3);
    if (level) *level = static_cast<int>(e->readLevel);
    return 0;
}

int findWriteKey(const char *fileAddr, unsigned char *key, int cardVer, int *level) {
    const FileTableEntry *e = findFileDFEF(fileAddr, cardVer);
    if (!e) return kErrNoAccessEntry;
    if (key) std::memcpy(key, e->writeKey, 3);
    if (level) *level = static_cast<int>(e->writeLevel);
    return 0;
}

int findReadKeyAddr(const char *fileAddr, unsigned *keyAddr, int cardVer) {
    const FileTableEntry *e = findFileDFEF(fileAddr, cardVer);
    if (!e) return kErrNoAccessEntry;
    if (keyAddr) *keyAddr = e->readKeyAddr;
    return 0;
}

int findWriteKeyAddr(const char *fileAddr, unsigned *keyAddr, int cardVer) {
    const FileTableEntry *e = findFileDFEF(fileAddr, cardVer);
    if (!e) return kErrNoAccessEntry;
    if (keyAddr) *keyAddr = e->writeKeyAddr;
    return 0;
}

const FileTableEntry *findChildRecord(unsigned char childTag, unsigned char parentTag,
                                      int cardVer) {
    Table t = childTable(cardVer);
    for (int i = 0; i < t.count; ++i)
        if (t.entries[i].tag == childTag && hasParent(t.entries[i], parentTag))
            return &t.entries[i];
    return nullptr;
}

int findAllChildByRecord(unsigned char parentTag, int cardVer, const FileTableEntry **out) {
    // Only the parent tags count, not the NUL padding after them: tag 0x00
    // names no composite item and must not collect every child.
    Table t = childTable(cardVer);
    int n = 0;
    for (int i = 0; i < t.count && n < kMaxChildren; ++i) {
        if (!hasParent(t.entries[i], parentTag)) continue;
        if (out) out[n] = &t.entries[i];
        ++n;
    }
    return n;
}

int findChildRR(const char *fileAddr, const FileTableEntry **out) {
    if (!fileAddr) return 0;
    int n = 0;
    for (int i = 0; i < kRecordTable.count && n < kMaxChildren; ++i) {
        if (!sameFile(fileAddr, kRecordTable.entries[i])) continue;
        if (out) out[n] = &kRecordTable.entries[i];
        ++n;
    }
    return n;
}

int findBtlvRecordOffset(unsigned char tag) {
    for (unsigned i = 0; i + 1 < sizeof btlvOffTable; i += 2)
        if (btlvOffTable[i] == tag) return btlvOffTable[i + 1];
    return 0;
}

}  // extern "C"
