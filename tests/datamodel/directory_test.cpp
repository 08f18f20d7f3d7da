// SPDX-License-Identifier: MIT
// The data item directory: invariants that every table must keep, spot
// checks against the card layout, and the lookups.
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <utility>

#include "datamodel/datamodel.h"

namespace {

struct TableRef {
    const char *name;
    const FileTableEntry *entries;
    int count;
    int cardVer;
};

const TableRef kItemTables[] = {
    {"V1", fileTableV1, 93, 1},
    {"V2", fileTableV2, 128, 2},
    {"V3", fileTableV3, 128, 3},
};

std::string fileOf(const FileTableEntry &e) {
    return std::string(e.dfName, strnlen(e.dfName, 5)) + std::string(e.efName, strnlen(e.efName, 5));
}

bool sameReadGroup(const FileTableEntry &a, const FileTableEntry &b) {
    return a.readKeyAddr == b.readKeyAddr && !memcmp(a.readKey, b.readKey, 3) &&
           a.readLevel == b.readLevel && a.readKeyAux == b.readKeyAux;
}
bool sameWriteGroup(const FileTableEntry &a, const FileTableEntry &b) {
    return a.writeKeyAddr == b.writeKeyAddr && !memcmp(a.writeKey, b.writeKey, 3) &&
           a.writeLevel == b.writeLevel && a.writeKeyAux == b.writeKeyAux;
}
bool noKey(const unsigned char *k) { return k[0] == 0 && k[1] == 0 && k[2] == 0; }

TEST(DirectoryTables, EntryCountsAndLayout) {
    EXPECT_EQ(sizeof(FileTableEntry), 64u);
    EXPECT_EQ(sizeof fileTableV1 / sizeof fileTableV1[0], 93u);
    EXPECT_EQ(sizeof fileTableV2 / sizeof fileTableV2[0], 128u);
    EXPECT_EQ(sizeof fileTableV3 / sizeof fileTableV3[0], 128u);
    EXPECT_EQ(sizeof childTableV1 / sizeof childTableV1[0], 7u);
    EXPECT_EQ(sizeof childTableV2 / sizeof childTableV2[0], 27u);
    EXPECT_EQ(sizeof childTableV3 / sizeof childTableV3[0], 27u);
    EXPECT_EQ(sizeof childTablerr / sizeof childTablerr[0], 18u);
    // Byte 10 is the tag, bytes 12-15 the length, little-endian.
    const unsigned char *raw = reinterpret_cast<const unsigned char *>(&fileTableV1[0]);
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(raw), 10), std::string("SSSE\0EF05\0", 10));
    EXPECT_EQ(raw[10], 0x01);
    EXPECT_EQ(raw[12], 16);
    EXPECT_EQ(raw[13], 0);
}

TEST(DirectoryTables, FilesAreContiguousAndShareTheirGroups) {
    for (const TableRef &t : kItemTables) {
        SCOPED_TRACE(t.name);
        std::set<std::string> closed;
        for (int i = 0; i < t.count; ++i) {
            const FileTableEntry &e = t.entries[i];
            const std::string f = fileOf(e);
            EXPECT_EQ(f.size(), 8u) << i;
            EXPECT_EQ(e.reserved0 | e.reserved1 | e.reserved2, 0) << f;
            if (i > 0 && fileOf(t.entries[i - 1]) == f) {
                const FileTableEntry &first = *findFileDFEF(f.c_str(), t.cardVer);
                EXPECT_EQ(e.fileType, first.fileType) << f;
                EXPECT_TRUE(sameReadGroup(e, first)) << f;
                EXPECT_TRUE(sameWriteGroup(e, first)) << f;
                if (e.fileType != 1) {
                    EXPECT_EQ(e.recordLength, first.recordLength) << f;
                }
            } else {
                EXPECT_TRUE(closed.insert(f).second) << f << " appears twice";
            }
        }
    }
}

TEST(DirectoryTables, EntriesFollowTheirFileType) {
    for (const TableRef &t : kItemTables) {
        SCOPED_TRACE(t.name);
        std::set<std::pair<std::string, int>> tags;
        for (int i = 0; i < t.count; ++i) {
            const FileTableEntry &e = t.entries[i];
            const std::string f = fileOf(e);
            EXPECT_TRUE(tags.insert({f, e.tag}).second) << f << " tag " << int(e.tag);
            switch (e.fileType) {
            case 0:  // transparent: one whole-file entry
                EXPECT_EQ(e.tag, 0) << f;
                EXPECT_EQ(e.recordLength, e.length) << f;
                EXPECT_EQ(e.dataType, 255u) << f;
                break;
            case 1:
                EXPECT_NE(e.tag, 0) << f;
                if (f == "DF01EF08" && t.cardVer != 1) {
                    EXPECT_EQ(e.recordLength, 0u);
                } else {
                    EXPECT_EQ(e.recordLength, e.length) << f;
                }
                break;
            case 2:
                EXPECT_NE(e.tag, 0) << f;
                EXPECT_EQ(e.recordLength, 0u) << f;
                break;
            case 3:  // cyclic: one entry describing the record
                EXPECT_EQ(e.tag, 0) << f;
                EXPECT_EQ(e.dataType, 0u) << f;
                EXPECT_EQ(e.recordLength, e.length) << f;
                break;
            default:
                ADD_FAILURE() << f << " fileType " << e.fileType;
            }
            if (e.dataType != 2 && e.fileType != 3) {
                EXPECT_EQ(e.occurrences, 1) << f;
            }
            if (noKey(e.readKey)) {
                EXPECT_EQ(e.readKeyAux, 0u) << f;
            }
            EXPECT_EQ(noKey(e.readKey), e.readKeyAddr == 0) << f;
            EXPECT_EQ(e.writeKeyAux, noKey(e.writeKey) ? 0u : 2u) << f;
            EXPECT_EQ(noKey(e.writeKey), e.writeKeyAddr == 0) << f;
            if (e.writeLevel == 2) {
                EXPECT_FALSE(noKey(e.writeKey)) << f;
            }
            if (!noKey(e.readKey)) {
                bool v1Df0102 = t.cardVer == 1 && (f.compare(0, 4, "DF01") == 0 ||
                                                   f.compare(0, 4, "DF02") == 0);
                EXPECT_EQ(e.readKeyAux, v1Df0102 ? 2u : 1u) << f;
            }
        }
    }
}

TEST(DirectoryTables, CompositeLengthIsTheSumOfItsChildTlvs) {
    int composites = 0;
    for (const TableRef &t : kItemTables) {
        for (int i = 0; i < t.count; ++i) {
            const FileTableEntry &e = t.entries[i];
            if (e.dataType != 2) continue;
            ++composites;
            const FileTableEntry *kids[KESTREL_MAX_CHILDREN];
            int n = findAllChildByRecord(e.tag, t.cardVer, kids);
            ASSERT_GT(n, 0) << t.name << " parent " << std::hex << int(e.tag);
            unsigned sum = 0;
            for (int k = 0; k < n; ++k) {
                sum += 2 + kids[k]->length;
                EXPECT_EQ(std::string(kids[k]->efName), std::string(e.efName));
                EXPECT_EQ(kids[k]->fileType, 2u);
                EXPECT_EQ(kids[k]->recordLength, 0u);
                EXPECT_EQ(kids[k]->occurrences, 1);
                EXPECT_TRUE(sameWriteGroup(*kids[k], e));
            }
            EXPECT_EQ(sum, e.length) << t.name << " parent " << std::hex << int(e.tag);
        }
    }
    EXPECT_EQ(composites, 4 + 2 * 6);
    for (int i = 0; i < 27; ++i)
        EXPECT_EQ(memcmp(&childTableV2[i], &childTableV3[i], sizeof(FileTableEntry)), 0) << i;
}

TEST(DirectoryTables, RepeatedCompositesStartAtTheirRecordOffset) {
    // Occurrence n of a repeated item is record offset + n: the offset is
    // the number of records that the file holds before the item.
    for (const TableRef &t : {kItemTables[1], kItemTables[2]}) {
        for (int i = 0; i < t.count; ++i) {
            const FileTableEntry &e = t.entries[i];
            if (e.dataType != 2) continue;
            int before = 0;
            for (const FileTableEntry *p = findFileDFEF(fileOf(e).c_str(), t.cardVer); p != &e; ++p)
                before += p->occurrences;
            EXPECT_EQ(findBtlvRecordOffset(e.tag), before) << std::hex << int(e.tag);
        }
    }
}

TEST(DirectoryTables, CyclicRecordSizeIsTheSumOfItsFields) {
    for (const TableRef &t : kItemTables) {
        for (int i = 0; i < t.count; ++i) {
            const FileTableEntry &e = t.entries[i];
            if (e.fileType != 3) continue;
            const FileTableEntry *fields[KESTREL_MAX_CHILDREN];
            std::string f = fileOf(e);
            int n = findChildRR(f.c_str(), fields);
            ASSERT_GT(n, 0) << t.name << " " << f;
            unsigned sum = 0;
            for (int k = 0; k < n; ++k) {
                EXPECT_EQ(fields[k]->tag, k + 1) << f;
                EXPECT_EQ(fields[k]->fileType, 3u) << f;
                sum += fields[k]->length;
            }
            EXPECT_EQ(sum, e.length) << t.name << " " << f;
        }
    }
}

TEST(DirectoryTables, Version3DiffersFromVersion2InThreeFilesOnly) {
    for (int i = 0; i < 128; ++i) {
        FileTableEntry v2 = fileTableV2[i];
        const FileTableEntry &v3 = fileTableV3[i];
        const std::string f = fileOf(v2);
        if (f == "SSSEEF06") {
            EXPECT_EQ(v3.readKeyAddr, 0x004Cu);
            EXPECT_EQ(v3.readKey[0], 0x0A);
            EXPECT_EQ(v3.readKey[1], 0x67);
            EXPECT_EQ(v3.readKey[2], 0x0A);
            EXPECT_EQ(v3.readLevel, 2u);
            v2.readKeyAddr = v3.readKeyAddr;
            memcpy(v2.readKey, v3.readKey, 3);
            v2.readLevel = v3.readLevel;
            v2.readKeyAux = v3.readKeyAux;
        } else if (f == "SSSEEF07") {
            EXPECT_EQ(v2.length, 1024u);
            EXPECT_EQ(v3.length, 4096u);
            v2.length = v2.recordLength = 4096;
        } else if (f == "SSSEEF08") {
            EXPECT_EQ(v2.length, 4096u);
            EXPECT_EQ(v3.length, 8192u);
            v2.length = v2.recordLength = 8192;
        }
        EXPECT_EQ(memcmp(&v2, &v3, sizeof v2), 0) << f << " entry " << i;
    }
}

// Entries checked one by one against the card layout, written in its
// notation: DF EF tag/length/dataType, fileType, recordLength, occurrences,
// read group, write group.
struct Spot {
    int ver;
    const char *file;
    const char *item;
    unsigned length, dataType, fileType, recordLength;
    int occurrences;
    unsigned readAddr;
    unsigned char readKey[3];
    unsigned readLevel, writeAddr;
    unsigned char writeKey[3];
    unsigned writeLevel;
};

const Spot kSpots[] = {
    {1, "SSSEEF05", "01", 16, 255, 2, 0, 1, 0, {0, 0, 0}, 0, 0x94, {0x04, 0x48, 0x12}, 2},
    {1, "SSSEEF07", "00", 768, 255, 0, 768, 1, 0, {0, 0, 0}, 0, 0x94, {0x04, 0x48, 0x12}, 2},
    {1, "DF01EF07", "2A", 1, 15, 1, 1, 1, 0x9A, {0x84, 0x48, 0x43}, 3, 0x9A, {0x84, 0x48, 0x43}, 2},
    {1, "DF02EF05", "43", 29, 2, 2, 0, 1, 0, {0, 0, 0}, 1, 0x187, {0x83, 0x47, 0x26}, 2},
    {1, "DF02EF06", "3A", 7, 1, 1, 7, 1, 0xA0, {0x84, 0x48, 0x45}, 3, 0xA0, {0x84, 0x48, 0x45}, 2},
    {1, "DF02EF07", "07", 85, 0, 3, 85, 4, 0xA3, {0x85, 0x48, 0x46}, 3, 0xA3, {0x85, 0x48, 0x46}, 2},
    {1, "DF03EF07", "73", 4, 15, 2, 0, 1, 0x193, {0x84, 0x67, 0x2B}, 4, 0xA9, {0x88, 0x48, 0x48}, 2},
    {1, "DF04EF05", "8F", 1, 1, 2, 0, 1, 0, {0, 0, 0}, 1, 0xAC, {0x85, 0x48, 0x49}, 2},
    {1, "DF04EF08", "01", 28, 0, 3, 28, 10, 0, {0, 0, 0}, 1, 0, {0, 0, 0}, 5},
    {2, "SSSEEF06", "4E", 20, 1, 2, 0, 1, 0, {0, 0, 0}, 0, 0x94, {0x04, 0x48, 0x12}, 2},
    {2, "SSSEEF08", "", 4096, 255, 0, 4096, 1, 0x4C, {0x0A, 0x67, 0x0A}, 2, 0x94, {0x04, 0x48, 0x12}, 2},
    {2, "DF01EF08", "2B", 1, 1, 1, 0, 1, 0x4F, {0x88, 0x67, 0x2E}, 3, 0x176, {0x85, 0x47, 0x24}, 2},
    {2, "DF01EF15", "40", 52, 2, 2, 0, 3, 0x4F, {0x88, 0x67, 0x2E}, 3, 0x52, {0x89, 0x47, 0x2F}, 2},
    {2, "DF01EF1A", "", 296, 255, 0, 296, 1, 0, {0, 0, 0}, 0, 0x61, {0x8E, 0x47, 0x34}, 2},
    {2, "DF02EF05", "44", 101, 2, 2, 0, 2, 0x64, {0x88, 0x67, 0x35}, 3, 0x187, {0x83, 0x47, 0x26}, 2},
    {2, "DF02EF15", "1f", 3, 15, 2, 0, 1, 0x64, {0x88, 0x67, 0x35}, 3, 0x18D, {0x87, 0x47, 0x28}, 2},
    {2, "DF02EF16", "05", 18, 0, 3, 18, 1, 0x64, {0x88, 0x67, 0x35}, 3, 0x67, {0x89, 0x47, 0x36}, 2},
    {2, "DF03EF06", "4A", 97, 2, 2, 0, 3, 0x193, {0x84, 0x67, 0x2B}, 3, 0x190, {0x87, 0x47, 0x29}, 2},
    {2, "DF03EF19", "79", 39, 2, 2, 0, 4, 0x193, {0x84, 0x67, 0x2B}, 3, 0x76, {0x8D, 0x47, 0x3B}, 2},
    {2, "DF04EF05", "8E", 9, 1, 2, 0, 1, 0x182, {0x84, 0x67, 0x2D}, 3, 0xAC, {0x85, 0x48, 0x49}, 2},
    {2, "DF04EF06", "92", 4, 16, 2, 0, 1, 0x182, {0x84, 0x67, 0x2D}, 4, 0x17C, {0x86, 0x47, 0x2A}, 2},
    {2, "DF04EF08", "1E", 28, 0, 3, 28, 30, 0, {0, 0, 0}, 1, 0, {0, 0, 0}, 5},
    {2, "DF04EF15", "08", 3, 0, 3, 3, 8, 0x182, {0x84, 0x67, 0x2D}, 3, 0x17C, {0x86, 0x47, 0x2A}, 2},
    {2, "DF07EF06", "F7", 70, 1, 2, 0, 1, 0x80, {0x84, 0x67, 0x3F}, 2, 0x83, {0x87, 0x47, 0xB0}, 2},
    {2, "DF07EF07", "f9", 1, 1, 2, 0, 1, 0x86, {0x85, 0x67, 0xB1}, 2, 0x89, {0x88, 0x47, 0xB2}, 2},
    {3, "SSSEEF07", "01", 4096, 255, 0, 4096, 1, 0x4C, {0x0A, 0x67, 0x0A}, 2, 0x94, {0x04, 0x48, 0x12}, 2},
    {-1, "DF03EF17", "3F", 60, 1, 2, 0, 1, 0x193, {0x84, 0x67, 0x2B}, 3, 0x70, {0x8B, 0x47, 0x39}, 2},
};

TEST(DirectoryLookups, SpotChecksAgainstTheCardLayout) {
    for (const Spot &s : kSpots) {
        SCOPED_TRACE(std::string(s.file) + " " + s.item + " v" + std::to_string(s.ver));
        const FileTableEntry *e = findFile(s.file, s.item, s.ver);
        ASSERT_NE(e, nullptr);
        EXPECT_EQ(e->length, s.length);
        EXPECT_EQ(e->dataType, s.dataType);
        EXPECT_EQ(e->fileType, s.fileType);
        EXPECT_EQ(e->recordLength, s.recordLength);
        EXPECT_EQ(e->occurrences, s.occurrences);

        unsigned addr = 99;
        unsigned char key[3];
        int level = -1;
        ASSERT_EQ(findReadKey(s.file, key, &level, s.ver), 0);
        EXPECT_EQ(memcmp(key, s.readKey, 3), 0);
        EXPECT_EQ(level, int(s.readLevel));
        ASSERT_EQ(findReadKeyAddr(s.file, &addr, s.ver), 0);
        EXPECT_EQ(addr, s.readAddr);
        ASSERT_EQ(findWriteKey(s.file, key, s.ver, &level), 0);
        EXPECT_EQ(memcmp(key, s.writeKey, 3), 0);
        EXPECT_EQ(level, int(s.writeLevel));
        ASSERT_EQ(findWriteKeyAddr(s.file, &addr, s.ver), 0);
        EXPECT_EQ(addr, s.writeAddr);

        int dataType = -1, length = -1;
        ASSERT_EQ(findDataType(s.file, s.item, s.ver, &dataType, &length), 0);
        EXPECT_EQ(dataType, int(s.dataType));
        EXPECT_EQ(length, int(s.length));
        unsigned ft[2] = {99, 99};
        ASSERT_EQ(findFileType(s.file, ft, s.ver), 0);
        EXPECT_EQ(ft[0], s.fileType);
    }
}

TEST(DirectoryLookups, VersionSelectsTheTable) {
    // Every version other than 1 and 3 reads the version-2 tables.
    for (int ver : {2, -1, 0, 4, 1000})
        EXPECT_EQ(findFileDFEF("DF07EF05", ver), &fileTableV2[118]) << ver;
    EXPECT_EQ(findFileDFEF("DF07EF05", 1), nullptr);
    EXPECT_EQ(findFileDFEF("DF07EF05", 3), &fileTableV3[118]);
    EXPECT_EQ(findChildRecord(0x57, 0x40, -1), &childTableV2[0]);

    unsigned char key[3] = {9, 9, 9};
    int level = -1;
    ASSERT_EQ(findReadKey("SSSEEF06", key, &level, 2), 0);
    EXPECT_EQ(level, 0);
    EXPECT_EQ(key[0] | key[1] | key[2], 0);
    ASSERT_EQ(findReadKey("SSSEEF06", key, &level, 3), 0);
    EXPECT_EQ(level, 2);
    EXPECT_EQ(key[0], 0x0A);
    EXPECT_EQ(key[1], 0x67);
    EXPECT_EQ(key[2], 0x0A);
}

TEST(DirectoryLookups, FileAddressesMatchTheirFirstEightCharactersExactly) {
    EXPECT_EQ(findFileDFEF("DF01EF05", 2), &fileTableV2[16]);
    EXPECT_EQ(findFileDFEF("DF01EF05|20|21|", 2), &fileTableV2[16]);  // rest ignored
    EXPECT_EQ(findFileDFEF("df01ef05", 2), nullptr);                  // byte for byte
    EXPECT_EQ(findFileDFEF("DF01EF0", 2), nullptr);  // short: not read past its NUL
    EXPECT_EQ(findFileDFEF("", 2), nullptr);
    EXPECT_EQ(findFileDFEF(nullptr, 2), nullptr);

    unsigned out[2];
    unsigned char key[3];
    int level;
    unsigned addr;
    EXPECT_EQ(findFileType("DF09EF05", out, 2), -25);
    EXPECT_EQ(findDataType("DF01EF05", "99", 2, &level, &level), -25);
    EXPECT_EQ(findReadKey("DF09EF05", key, &level, 2), -27272);
    EXPECT_EQ(findWriteKey("DF09EF05", key, 2, &level), -27272);
    EXPECT_EQ(findReadKeyAddr("DF09EF05", &addr, 2), -27272);
    EXPECT_EQ(findWriteKeyAddr("DF09EF05", &addr, 2), -27272);
}

TEST(DirectoryLookups, ItemsAndWholeFileEntries) {
    // The single entry of a cyclic or transparent file matches any item.
    int dataType = -1, length = -1;
    ASSERT_EQ(findDataType("DF02EF07", "07", 1, &dataType, &length), 0);
    EXPECT_EQ(dataType, 0);
    EXPECT_EQ(length, 85);
    EXPECT_EQ(findFile("DF01EF16", nullptr, 2), &fileTableV2[34]);
    // Tags are read from the first two hexadecimal digits, either case.
    EXPECT_EQ(findFile("DF03EF06", "4a:2", 2)->tag, 0x4A);
    EXPECT_EQ(findFile("DF03EF06", "4A", 2)->tag, 0x4A);
    EXPECT_EQ(findFile("DF03EF06", "4", 2), nullptr);
    EXPECT_EQ(findFile("DF03EF06", "", 2), nullptr);
}

TEST(DirectoryLookups, ChildrenOfComposites) {
    // Version 1 lists two parents per child; version 2 one.
    EXPECT_EQ(findChildRecord(0x57, 0x41, 1), &childTableV1[0]);
    EXPECT_EQ(findChildRecord(0x57, 0x41, 2), nullptr);
    EXPECT_EQ(findChildRecord(0x5D, 0x44, 1), &childTableV1[6]);
    EXPECT_EQ(findChildRecord(0x5D, 0x40, 1), nullptr);
    EXPECT_EQ(findChildRecord(0x57, 0x00, 1), nullptr);

    const FileTableEntry *kids[KESTREL_MAX_CHILDREN];
    ASSERT_EQ(findAllChildByRecord(0x79, 3, kids), 7);
    for (int i = 0; i < 7; ++i) EXPECT_EQ(kids[i], &childTableV3[20 + i]);
    EXPECT_EQ(findAllChildByRecord(0x44, 1, kids), 4);
    EXPECT_EQ(kids[0]->tag, 0x5A);
    EXPECT_EQ(findAllChildByRecord(0x42, 2, kids), 0);
    // Tag 00 names no composite: it must not collect every child (which
    // would also overrun a 7-entry array).
    EXPECT_EQ(findAllChildByRecord(0x00, 2, kids), 0);
    EXPECT_EQ(findAllChildByRecord(0x00, 1, kids), 0);

    ASSERT_EQ(findChildRR("DF04EF08|01|", kids), 7);
    EXPECT_EQ(kids[4]->dataType, 17u);
    EXPECT_EQ(findChildRR("DF04EF15", kids), 2);
    EXPECT_EQ(findChildRR("DF02EF05", kids), 0);
    EXPECT_EQ(findChildRR("DF04", kids), 0);

    EXPECT_EQ(findBtlvRecordOffset(0x43), 2);
    EXPECT_EQ(findBtlvRecordOffset(0x4A), 7);
    EXPECT_EQ(findBtlvRecordOffset(0x42), 0);
}

}  // namespace
