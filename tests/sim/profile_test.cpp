// SPDX-License-Identifier: MIT
// Card profiles: the shipped ones, what a profile puts into the models,
// and the refusal of malformed files with the line at fault.
#include "profile.h"

#include <fstream>
#include <iterator>

#include "cards/psam.h"
#include "cards/reader_device.h"
#include "reader.h"
#include "sim_test_util.h"

using namespace vr;

namespace simtest {
namespace {

Profile load(const std::string &file) {
    Profile p;
    std::string error;
    EXPECT_TRUE(loadProfile(std::string(KESTREL_PROFILE_DIR) + "/" + file, &p, &error)) << error;
    return p;
}

std::string parseError(const std::string &text) {
    Profile p;
    std::string error;
    EXPECT_FALSE(parseProfile(text, "t.profile", &p, &error)) << text;
    return error;
}

// The basic records a host reads, straight from the model.
struct Basic {
    Bytes code, version, issue, expiry, number, ssn, name, extension;
};
Basic basicOf(SsCard &card) {
    return {card.record(0, 0xEF05, 0x01), card.record(0, 0xEF05, 0x03), card.record(0, 0xEF05, 0x05),
            card.record(0, 0xEF05, 0x06), card.record(0, 0xEF05, 0x07), card.record(0, 0xEF06, 0x08),
            card.record(0, 0xEF06, 0x09), card.record(0, 0xEF06, 0x4E)};
}

TEST(Profile, DemoProfileIsAVersionTwoCardWithItsPsamAndReader) {
    Reader reader;
    insertProfile(reader, demoProfile());
    auto card = std::dynamic_pointer_cast<SsCard>(reader.slot(0x01).card);
    ASSERT_TRUE(card);
    EXPECT_EQ(card->version(), 2);
    EXPECT_EQ(card->algorithm(), 2);
    Basic b = basicOf(*card);
    EXPECT_EQ(b.code, hex("43 01 05 D1 56 00 00 05 00 00 00 00 00 00 00 42"));
    EXPECT_EQ(b.version, hex("32 2E 30 30"));
    EXPECT_EQ(b.issue, hex("20 24 03 01"));
    EXPECT_EQ(b.expiry, hex("20 34 03 01"));
    EXPECT_EQ(b.number, Bytes({'K', '4', '3', '0', '0', '0', '0', '4', '2'}));
    // 张三 in GB18030, padded to 30 bytes.
    EXPECT_EQ(b.name, concat(hex("D5 C5 C8 FD"), Bytes(26, 0x00)));
    EXPECT_EQ(b.extension, Bytes(20, 0x00));
    EXPECT_EQ(card->record(0, 0xEF06, 0x0D), hex("19 80 01 01"));
    EXPECT_EQ(card->record(0, 0xEF06, 0x0B), hex("01"));
    EXPECT_EQ(card->atr(), hex("3B 6D 00 00 81 4B 45 53 53 43 00 00 00 00 00 42"));

    auto psam = std::dynamic_pointer_cast<Psam>(reader.slot(0x11).card);
    ASSERT_TRUE(psam);
    EXPECT_EQ(psam->terminalNumber(), hex("43 01 05 00 00 07"));
    auto device = std::dynamic_pointer_cast<ReaderDevice>(reader.slot(0x00).card);
    ASSERT_TRUE(device);
    EXPECT_EQ(device->transmit(hex("00 19 01 01 14")),
              concat(Bytes({'K', 'V', 'R', '1', '-', '0', '0', '0', '0', '0', '0', '0', '0', '0', '0', '0', '0', '0', '4',
                            '2'}),
                     hex("90 00")));

    // The PSAM's keys are the card's: the key the application's files are
    // written with authenticates the terminal.
    card->reset();
    transact(*card, selectByName(ssApplicationName()));
    Bytes r1 = dataOf(transact(*card, "00 84 00 00 08")), r2 = dataOf(transact(*card, "00 84 00 00 08"));
    PsamSession s{*psam, 2};
    EXPECT_EQ(swOf(card->transmit(
                  externalAuthenticate(0x04, s.cryptogram({0x48, 0x12}, card->diversificationData(), r1, r2), r1))),
              0x9000);
}

TEST(Profile, ShippedProfilesOfEachVersion) {
    struct Case {
        const char *file;
        int version, algorithm;
        uint8_t psamSlot;
        bool terminalFile, deviceNumber;
        size_t nameBytes;
    } cases[] = {
        {"v1.profile", 1, 1, 0x11, true, true, 30},
        {"v2.profile", 2, 3, 0x12, false, false, 30},
        {"v3.profile", 3, 2, 0x11, true, true, 4},
        {"demo.profile", 2, 2, 0x11, true, true, 4},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.file);
        Profile p = load(c.file);
        ASSERT_TRUE(p.card);
        EXPECT_EQ(p.card->version, c.version);
        EXPECT_EQ(p.card->algorithm, c.algorithm);
        ASSERT_EQ(p.psams.size(), 1u);
        EXPECT_EQ(p.psams[0].slot, c.psamSlot);
        EXPECT_EQ(p.psams[0].terminalNumber.has_value(), c.terminalFile);
        EXPECT_EQ(p.deviceNumber.has_value(), c.deviceNumber);
        EXPECT_EQ(p.card->name.size(), c.nameBytes);
    }
    // The file shipped as demo.profile is the one built in.
    std::ifstream in(std::string(KESTREL_PROFILE_DIR) + "/demo.profile", std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text, demoProfileText());

    Profile v2 = load("v2.profile");
    auto card = buildCard(v2);
    Basic b = basicOf(*card);
    EXPECT_EQ(b.name.back(), 0xA6);  // the name fills all 30 bytes (…力 = C1 A6)
    Bytes ext;
    ASSERT_TRUE(utf8ToGb18030("克木江", &ext));
    EXPECT_EQ(b.extension, concat(ext, Bytes(20 - ext.size(), 0x00)));
}

TEST(Profile, DefaultsOfAMinimalCard) {
    Profile p;
    std::string error;
    ASSERT_TRUE(parseProfile("[card]\nversion = 3\n[psam]\n", "min", &p, &error)) << error;
    auto card = buildCard(p);
    EXPECT_EQ(card->record(0, 0xEF05, 0x03), hex("33 2E 30 30"));  // "3.00"
    EXPECT_EQ(card->record(0, 0xEF05, 0x01), hex("43 01 05 D1 56 00 00 05 00 00 00 00 00 00 00 01"));
    EXPECT_EQ(card->atr(), ssAtr());
    EXPECT_EQ(p.psams[0].terminalNumber, hex("43 01 05 00 00 01"));
    EXPECT_EQ(p.psams[0].applications, (std::vector<int>{2, 3}));
    EXPECT_FALSE(p.deviceNumber);
    // A reader without device number refuses the query.
    Reader reader;
    insertProfile(reader, p);
    EXPECT_EQ(reader.slot(0x00).card->transmit(hex("00 19 01 01 14")), hex("6D 00"));

    ASSERT_TRUE(parseProfile("# nothing but a comment\n", "empty", &p, &error)) << error;
    EXPECT_FALSE(p.card);
    EXPECT_TRUE(p.psams.empty());
}

TEST(Profile, ItemsKeysAndFciSettings) {
    const char *text =
        "[card]\n"
        "version = 2\n"
        "algorithm = 1\n"
        "fci = tag86\n"
        "fci-value = 0\n"
        "version-text = zeros\n"
        "region = 140102\n"
        "[keys]\n"
        "key 48 12 = 00112233445566778899AABBCCDDEEFF\n"
        "internal-key = 67 05\n"
        "tries = 5\n"
        "[items]\n"
        "DF01.EF05.21 = 长沙\n"
        "DF02.EF05.43:2 = 5A 07 41\n"
        "DF01.EF0A.39 = 2024\n"
        "SSSE.EF07 = 01 02\n"
        "DF04.EF15 = 00 01 41, 00 02 42\n"
        "[psam]\n"
        "slot = 13\n"
        "applications = none\n"
        "terminal-number = 14 01 02 00 00 09\n"
        "[psam]\n"
        "applications = 3\n";
    Profile p;
    std::string error;
    ASSERT_TRUE(parseProfile(text, "t", &p, &error)) << error;
    Reader reader;
    insertProfile(reader, p);
    auto card = std::dynamic_pointer_cast<SsCard>(reader.slot(0x01).card);
    ASSERT_TRUE(card);
    card->reset();
    EXPECT_EQ(dataOf(transact(*card, selectByName(ssApplicationName()))),
              buildFci(FciStyle::Tag86, 0, ssApplicationName()));
    EXPECT_EQ(card->record(0, 0xEF05, 0x03), Bytes(4, 0x00));
    EXPECT_EQ(card->record(0, 0xEF05, 0x01)[0], 0x14);
    Bytes place = card->record(0xDF01, 0xEF05, 0x21), second = card->record(0xDF02, 0xEF05, 0x43, 2);
    ASSERT_EQ(place.size(), 80u);
    EXPECT_EQ(Bytes(place.begin(), place.begin() + 5), hex("B3 A4 C9 B3 00"));
    ASSERT_EQ(second.size(), 108u);
    EXPECT_EQ(Bytes(second.begin(), second.begin() + 4), hex("5A 07 41 00"));
    EXPECT_EQ(card->record(0xDF01, 0xEF0A, 0x39), hex("20 24 FF FF"));
    EXPECT_EQ(card->file(0, 0xEF07)->content[1], 0x02);
    EXPECT_EQ(card->file(0xDF04, 0xEF15)->records, (std::vector<Bytes>{hex("00 01 41"), hex("00 02 42")}));
    EXPECT_EQ(card->internalKeyRef().typeByte, 0x67);
    EXPECT_EQ(card->externalKey(0, 0x04)->tries, 5);

    auto psam = std::dynamic_pointer_cast<Psam>(reader.slot(0x13).card);
    ASSERT_TRUE(psam);
    EXPECT_EQ(psam->keys().find(0x08, 0x12)->value, hex("00112233445566778899AABBCCDDEEFF"));
    ASSERT_TRUE(psam->keys().find(0x07, 0x05));
    EXPECT_TRUE(std::dynamic_pointer_cast<Psam>(reader.slot(0x11).card));
    // The card's key 04 comes from the explicit master key.
    EXPECT_EQ(card->externalKey(0, 0x04)->value,
              deriveCardKey(Cipher::Tdes, hex("00112233445566778899AABBCCDDEEFF"), 2, card->diversificationData()));
}

TEST(Profile, MalformedFilesAreRefusedWithTheLine) {
    struct Case {
        std::string text, error;
    } cases[] = {
        {"[cards]\n", "t.profile:1: unknown section [cards]"},
        {"\n\n[card]\nvesion = 2\n", "t.profile:4: unknown key 'vesion' in [card]"},
        {"[card]\nversion = 2\nversion = 3\n", "t.profile:3: 'version' given twice in [card] (first on line 2)"},
        {"[card]\n[reader]\n[card]\n", "t.profile:3: section [card] given twice (first on line 1)"},
        {"version = 2\n", "t.profile:1: 'version' before the first [section]"},
        {"[card]\nversion 2\n", "t.profile:2: expected 'key = value' or '[section]'"},
        {"[card\n", "t.profile:1: section header without closing ']'"},
        {"[ ]\n", "t.profile:1: section without a name"},
        {"[card]\n= 2\n", "t.profile:2: a value without a key"},
        {"[card]\nversion = 4\n", "t.profile:2: version: '4' is not a number from 1 to 3"},
        {"[card]\nalgorithm = two\n", "t.profile:2: algorithm: 'two' is not a number"},
        {"[card]\natr = 3B 6D 0\n", "t.profile:2: atr: not hexadecimal bytes"},
        {"[card]\natr = 3B 6D 00\n", "t.profile:2: atr: 3 bytes, expected 13 to 33"},
        {"[card]\nissue-date = 2024-03-01\n", "t.profile:2: issue-date: '2024-03-01' holds characters other than digits"},
        {"[card]\nexpiry-date = 203403\n", "t.profile:2: expiry-date: 6 digits, expected 8"},
        {"[card]\ninstitution = 1234567890123456789012345\n", "t.profile:2: institution: 25 digits, at most 24"},
        {"[card]\ncard-number = 1234567890\n", "t.profile:2: card-number: 10 bytes on the card, at most 9"},
        {"[card]\nslot = 03\n", "t.profile:2: slot: expected contact or contactless"},
        {"[card]\nfci = maybe\n", "t.profile:2: fci: expected indicator"},
        {"[card]\nversion-text = 2.0\n", "t.profile:2: version-text: expected 4 characters"},
        {"[card]\nregion = 430105\nidentification-code = 14010200000000000000000000000000\n",
         "t.profile:3: identification-code does not begin with the region 430105 (line 2)"},
        {"[holder]\nname = x\n", "t.profile:1: [holder] without a [card]"},
        {"[card]\n[holder]\nname = 一二三四五六七八九十甲乙丙丁戊己\n", "t.profile:3: name: 32 bytes on the card, at most 30"},
        {"[card]\n[holder]\nname = \xff\xfe\n", "t.profile:3: name: not UTF-8 text"},
        {"[card]\nversion = 1\n[holder]\nname-extension = x\n", "t.profile:4: name-extension: cards of version 1"},
        {"[reader]\ndevice-number = 123456789012345678901\n", "t.profile:2: device-number: more than 20 characters"},
        {"[reader]\ndevice-number = hex:00 11 22 33 44 55 66 77 88 99 00 11 22 33 44 55 66 77 88 99 00\n",
         "t.profile:2: device-number: 21 bytes, expected 1 to 20"},
        {"[keys]\ntries = 0\n", "t.profile:2: tries: '0' is not a number from 1 to 15"},
        {"[keys]\ninternal-key = 48\n", "t.profile:2: internal-key: expected a key type byte and a version byte"},
        {"[keys]\nkey 08 12 = 00112233445566778899AABBCCDDEEFF\n", "t.profile:2: key 08 12: the type byte's level"},
        {"[keys]\nkey 48 12 = 0011\n", "t.profile:2: key 48 12: 2 bytes, expected 16"},
        {"[psam]\nslot = 15\n", "t.profile:2: slot: expected 11, 12, 13 or 14"},
        {"[psam]\napplications = 1 2\n", "t.profile:2: applications: expected 2, 3 or none, not '1'"},
        {"[psam]\nterminal-number = 43 01 05\n", "t.profile:2: terminal-number: 3 bytes, expected 6"},
        {"[psam]\n[psam]\nslot = 11\n", "t.profile:2: two PSAMs in one slot"},
        {"[card]\n[items]\nDF05.EF05.01 = x\n", "t.profile:3: 'DF05.EF05.01': no such file on a card of version 2"},
        {"[card]\n[items]\nDF01.EF05.99 = x\n", "t.profile:3: 'DF01.EF05.99': no such item in that file"},
        {"[card]\n[items]\nDF02.EF05.43:3 = 00\n", "t.profile:3: 'DF02.EF05.43:3': the card holds 2 of that item"},
        {"[card]\n[items]\nDF01.EF05 = 00\n", "t.profile:3: 'DF01.EF05': only a transparent or cyclic file"},
        {"[card]\n[items]\nDF04.EF15 = 00 01 02, 00 01\n", "t.profile:3: DF04.EF15: 2 bytes, expected 3"},
        {"[card]\n[items]\nDF02.EF16 = " + std::string(36, '0') + "," + std::string(36, '0') + "\n",
         "t.profile:3: 'DF02.EF16': 2 records, the file holds at most 1"},
        {"[card]\n[items]\nDF01-EF05-21 = x\n", "t.profile:3: 'DF01-EF05-21': expected an item such as"},
        {"[card]\n[items]\nSSSE.EF07 = " + std::string(2 * 1025, '0') + "\n",
         "t.profile:3: SSSE.EF07: 1025 bytes, expected 0 to 1024"},
        {"[card]\n[items]\nDF04.EF08.01 = 00\n", "t.profile:3: 'DF04.EF08.01': no such item in that file"},
        {std::string("[card]\n\0\n", 9), "t.profile: file holds a NUL byte"},
        {"[card]\natr = " + std::string(kMaxProfileLine, '0') + "\n", "t.profile:2: line longer than"},
        {std::string(kMaxProfileSize + 1, '#'), "t.profile: file larger than"},
    };
    for (const Case &c : cases) {
        std::string error = parseError(c.text);
        EXPECT_EQ(error.compare(0, c.error.size(), c.error), 0) << "got:      " << error << "\nexpected: " << c.error;
    }
}

TEST(Profile, MissingFile) {
    Profile p;
    std::string error;
    EXPECT_FALSE(loadProfile("no-such-dir/none.profile", &p, &error));
    EXPECT_EQ(error, "no-such-dir/none.profile: No such file or directory");
}

}  // namespace
}  // namespace simtest
