// SPDX-License-Identifier: MIT
// The keypad and the card's PIN in the virtual reader: keypad scripts and
// what the keypad answers, the profile keys, and the PIN commands in cases
// the library never produces (a reload block that does not read as one, a
// reload without authentication, a blocked PIN across a power-on).
#include "cards/reader_device.h"
#include "profile.h"
#include "reader.h"
#include "sim_test_util.h"

using namespace vr;

namespace simtest {
namespace {

TEST(Keypad, Scripts) {
    struct Row {
        const char *script;
        std::vector<std::string> answers;  // data + SW1 SW2 of each entry
    };
    const Row good[] = {
        {"123456", {"06 31 32 33 34 35 36 0D 90 00"}},
        {" 12,A* ", {"02 31 32 0D 90 00", "02 41 2A 0D 90 00"}},
        {"timeout status:6a81", {"69 02", "6A 81"}},
        {"hex: hex:0131", {"90 00", "01 31 90 00"}},
        {"", {}},
    };
    for (const Row &row : good) {
        SCOPED_TRACE(row.script);
        std::vector<KeypadEntry> entries;
        std::string error;
        ASSERT_TRUE(parseKeypadScript(row.script, &entries, &error)) << error;
        std::vector<std::string> answers;
        for (const KeypadEntry &e : entries) answers.push_back(toHex(withStatus(e.data, e.sw)));
        EXPECT_EQ(answers, row.answers);
    }
    for (const std::string &bad : std::vector<std::string>{"status:69", "status:zz02", "hex:1", "hex:zz", "\xEF\xBC\x91",
                                  std::string(kMaxKeypadEntry + 1, '1'), "hex:" + std::string(502, '0')}) {
        SCOPED_TRACE(bad.substr(0, 20));
        std::vector<KeypadEntry> entries;
        std::string error;
        EXPECT_FALSE(parseKeypadScript("123456 " + bad, &entries, &error));
        EXPECT_FALSE(error.empty());
        EXPECT_TRUE(entries.empty());
    }
}

TEST(Keypad, Answers) {
    ReaderDevice reader;
    Keypad &k = reader.keypad();
    k.type("42");
    const std::string entry = "00 F9 08 3C 03 00 1B 49";
    EXPECT_EQ(toHex(reader.transmit(hex("00 F8 00 01 03 00 25 80"))), "90 00");
    EXPECT_EQ(toHex(reader.transmit(hex("00 F9 00 00 03 1B 43 30"))), "90 00");
    EXPECT_EQ(toHex(reader.transmit(hex("00 F9 08 3A 03 00 1B 65"))), "02 34 32 0D 90 00");
    EXPECT_EQ(toHex(reader.transmit(hex(entry))), "69 02");  // nothing left: the keypad's time-out
    EXPECT_EQ(toHex(reader.transmit(hex("00 F9 08 3A 03 00 1B 00"))), "6A 86");
    k.setPreparationStatus(0x6901);
    EXPECT_EQ(toHex(reader.transmit(hex("00 F8 00 01 03 00 25 80"))), "69 01");
}

TEST(Keypad, ProfileKeys) {
    Profile p;
    std::string error;
    ASSERT_TRUE(parseProfile("[card]\npin = 12345\npin-tries = 5\npin-tries-left = 0\n[keypad]\nentries = 12345 timeout\n",
                             "t.profile", &p, &error))
        << error;
    Reader reader;
    insertProfile(reader, p);
    auto card = std::dynamic_pointer_cast<SsCard>(reader.slot(0x01).card);
    ASSERT_TRUE(card);
    EXPECT_EQ(card->pin(), "12345");
    EXPECT_EQ(card->pinTriesLeft(), 0);
    auto device = std::dynamic_pointer_cast<ReaderDevice>(reader.slot(0x00).card);
    ASSERT_TRUE(device);
    EXPECT_EQ(device->keypad().pending(), 2u);

    const std::pair<const char *, const char *> bad[] = {
        {"[card]\npin = 123\n", "t.profile:2: pin: expected 4 to 16 digits"},
        {"[card]\npin = 12345678901234567\n", "t.profile:2: pin:"},
        {"[card]\npin = 12a456\n", "t.profile:2: pin:"},
        {"[card]\npin-tries = 0\n", "t.profile:2: pin-tries:"},
        {"[card]\npin-tries-left = 4\npin-tries = 3\n", "t.profile:2: pin-tries-left: more than the 3 tries"},
        {"[keypad]\nentries = 1234 status:1\n", "t.profile:2: entries: 'status:1'"},
        {"[keypad]\nkeys = 1234\n", "t.profile:2: unknown key 'keys' in [keypad]"},
    };
    for (const auto &b : bad) {
        SCOPED_TRACE(b.first);
        EXPECT_FALSE(parseProfile(b.first, "t.profile", &p, &error));
        EXPECT_EQ(error.rfind(b.second, 0), 0u) << error;
    }
}

class CardPin : public ::testing::Test {
protected:
    void SetUp() override {
        card = std::make_shared<SsCard>(2, 1);  // triple DES: 8-byte blocks
        card->setPin("123456");
        psam = Psam::withApplications({2, 3});
        pairWithPsam(*card, *psam, keysFromSeed("pin", *card));
        card->reset();
        ASSERT_EQ(swOf(transact(*card, selectByName(ssApplicationName()))), 0x9000);
    }
    // The terminal authenticated with key 06, as before a reload.
    void authenticate() {
        Bytes r1 = dataOf(transact(*card, "00 84 00 00 08")), r2 = dataOf(transact(*card, "00 84 00 00 08"));
        PsamSession s{*psam, 1};
        Bytes e = s.cryptogram({0x48, 0x10}, card->diversificationData(), r1, r2);
        ASSERT_EQ(swOf(card->transmit(externalAuthenticate(0x06, e, r1))), 0x9000);
    }
    // A reload whose first `encrypted` bytes of `block` the PSAM encrypts
    // and whose MAC it computes, as a terminal does.
    int reload(const Bytes &block, size_t encrypted) {
        Bytes challenge = dataOf(transact(*card, "00 84 00 00 08"));
        PsamSession s{*psam, 1};
        EXPECT_EQ(s.initialise({0x48, 0x09}, card->diversificationData(), challenge), 0x9000);
        Bytes enc = dataOf(s.encrypt(Bytes(block.begin(), block.begin() + static_cast<long>(encrypted))));
        Bytes cmd = concat({0x84, 0x24, 0x00, 0x01, static_cast<uint8_t>(enc.size() + 4)}, enc);
        Bytes mac = dataOf(s.mac(Bytes(8, 0x00), padIso(cmd, 8)));
        return swOf(card->transmit(concat(cmd, Bytes(mac.begin(), mac.begin() + 4))));
    }

    std::shared_ptr<SsCard> card;
    std::shared_ptr<Psam> psam;
};

TEST_F(CardPin, ReloadBlockMustReadAsOne) {
    // A PIN of 14 digits makes a 9-byte block: its first 8 bytes alone
    // are no block, both halves of 16 are.
    const Bytes block = hex("07 12 34 56 78 90 12 34 80 00 00 00 00 00 00 00");
    authenticate();
    EXPECT_EQ(reload(block, 8), 0x6A80);
    EXPECT_EQ(card->pin(), "123456");
    EXPECT_EQ(reload(block, 16), 0x9000);
    EXPECT_EQ(card->pin(), "12345678901234");
}

TEST_F(CardPin, CommandsRefused) {
    const std::pair<const char *, int> rows[] = {
        {"84 24 00 01 0C 00 00 00 00 00 00 00 00 00 00 00 00", 0x6982},  // no authentication
        {"80 24 00 00 04 00 00 00 00", 0x6982},                          // no MAC
        {"84 24 00 01 09 00 00 00 00 00 00 00 00 00", 0x6700},           // not whole blocks
        {"80 5E 01 00 07 12 34 56 FF 12 3A 45", 0x6A80},                // new PIN not digits
        {"80 5E 01 00 06 12 34 56 12 34 56", 0x6A80},                   // no separator
        {"00 20 00 00 09 12 34 56 78 90 12 34 56 78", 0x6700},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.first);
        EXPECT_EQ(swOf(card->transmit(hex(row.first))), row.second);
    }
    EXPECT_EQ(card->pin(), "123456");
    EXPECT_EQ(card->pinTriesLeft(), 3);
}

TEST_F(CardPin, BlockedAcrossPowerOn) {
    for (int left = 2; left >= 0; left--)
        EXPECT_EQ(swOf(card->transmit(hex("00 20 00 00 03 65 43 21"))), 0x63C0 | left);
    card->reset();
    EXPECT_EQ(swOf(card->transmit(hex("00 20 00 00 03 12 34 56"))), 0x6983);
    EXPECT_EQ(swOf(card->transmit(hex("80 5E 01 00 07 12 34 56 FF 65 43 21"))), 0x6983);
    EXPECT_FALSE(card->pinVerified());
}

}  // namespace
}  // namespace simtest
