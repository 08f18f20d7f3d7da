/* SPDX-License-Identifier: MIT */
// The file layout of the social-security card, per card version: which
// sub-applications (DF01 ... DF07) and elementary files the card carries,
// how each file is structured, which records it holds (tag, length, kind of
// value) and which access conditions and keys guard it.  The card model
// builds its files from this; the library has its own copy of the same
// knowledge, and the two are kept apart on purpose, so that a slip in one
// shows against the other.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vr {

// How the bytes of an item are encoded (the codes the card's data item
// directory uses).
enum ItemKind : int {
    kItemText = 1,        // text bytes, padded with 00
    kItemComposite = 2,   // a sequence of child TLVs
    kItemCn = 15,         // decimal digits, two per byte, padded with F
    kItemMoneyCn = 16,    // an amount as cn, 4 bytes
    kItemMoneyB = 17,     // an amount as a 32-bit binary
    kItemBinary = 255,
    kItemCyclicRecord = 0,
};

// File structures.
enum FileStructure : int {
    kTransparent = 0,
    kFixedRecords = 1,
    kTlvRecords = 2,
    kCyclicRecords = 3,
};

// A key reference of the directory: the key's identifier on the card and
// the PSAM key (type byte, version byte) that it is diversified from.
struct DirKey {
    uint8_t kid = 0, type = 0, version = 0;
    bool none() const { return kid == 0 && type == 0 && version == 0; }
};

// Access levels: 0 free, 1 cardholder PIN, 2 external authentication with
// the key, 3 either, 4 both; 5 never (writing only).  A group with a key
// has the key address under which a host's security module holds the
// key's master (0 for none).
struct DirAccess {
    DirKey key;
    int level = 0;
    uint16_t address = 0;
};

struct DirItem {
    uint8_t tag = 0;   // 00 for a whole transparent or cyclic file
    int length = 0;    // value length; file size or record size for tag 00
    int kind = kItemText;
    int occurrences = 1;
};

struct DirFile {
    uint16_t df = 0;   // 0000 for the application itself ("SSSE"), else DF01 ...
    uint16_t ef = 0;   // EF05 ...
    int structure = kTlvRecords;
    DirAccess read, write;
    std::vector<DirItem> items;
};

// The files of a card of version 1, 2 or 3 (any other value: version 2).
const std::vector<DirFile> &cardDirectory(int version);

// The children of a composite item (tag, length, kind), or an empty list.
std::vector<DirItem> compositeChildren(int version, uint8_t parentTag);

// The default value of an item: 00 for text and binary, FF for digits and
// amounts, the children's TLVs with their defaults for a composite.
std::vector<uint8_t> defaultItemValue(int version, const DirItem &item);

}  // namespace vr
