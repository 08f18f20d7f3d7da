// SPDX-License-Identifier: MIT
// PIN reload and unblock through the virtual reader: the terminal's
// authentication, the PSAM-encrypted PIN block and the PSAM MACs that the
// modelled card checks under its own keys, the card's PIN state
// afterwards, the card-info text and the card identity check, and each
// failure of the PSAM.
#include <functional>

#include "hsm/hsm.h"
#include "pin_fixture.h"

namespace pintest {
namespace {

class Reload : public PinTest {
protected:
    // The card commands that begin with a prefix, as hex without the slot.
    static Seq cardCommands(const std::string &prefix) {
        Seq out;
        for (const std::string &c : seen())
            if (c.rfind("01: " + prefix, 0) == 0) out.push_back(c.substr(4));
        return out;
    }
    // The Lc and the length of the one reload command sent.
    static std::pair<std::string, size_t> reloadCommand() {
        Seq c = cardCommands("84 24 00 01");
        if (c.size() != 1) return {"none", 0};
        return {c[0].substr(12, 2), hex(c[0]).size()};
    }
};

TEST_F(Reload, NewPinTakesEffect) {
    vr::Profile p = demoWith();
    p.card->pinTriesLeft = 1;
    load(p);
    type({"246810", "246810"});
    EXPECT_EQ(iReloadPIN(1, const_cast<char *>(kCardInfo), out), 0);
    EXPECT_EQ(text(), "");
    EXPECT_EQ(entries(), (Seq{at(0, pinEntry("1B 65")), at(0, pinEntry("1B 45"))}));
    // Algorithm 2: 16 encrypted bytes and 4 MAC bytes; the PSAM encrypted
    // 16 bytes (after those of the external authentication) and computed
    // the MAC over 21 bytes padded to 32.
    EXPECT_EQ(reloadCommand(), std::make_pair(std::string("14"), size_t{25}));
    EXPECT_EQ(seenOf({"11: 80 FA 00 00 10"}).size(), 2u);
    EXPECT_EQ(seenOf({"11: 80 FA 05 00 30"}).size(), 1u);
    EXPECT_EQ(card->pin(), "246810");
    EXPECT_EQ(card->pinTriesLeft(), 3);
    EXPECT_EQ(std::string(logbuf).rfind("DivIndex: ", 0), 0u);
    EXPECT_EQ(mHreader, -11);

    type({"246810"});
    EXPECT_EQ(iVerifyPIN(1, out), 0);
    // The initial PIN is accepted here.
    type({"480913", "480913"});
    EXPECT_EQ(iReloadPIN(1, const_cast<char *>(kCardInfo), out), 0);
    EXPECT_EQ(card->pin(), "480913");
}

TEST_F(Reload, PinBlockLengthsWithAlgorithm1) {
    load(demoWith(1));
    struct Row {
        const char *pin;
        const char *lc;  // 8 or 16 encrypted bytes, and the MAC
    };
    // A PIN of 7 bytes makes a block of 9: two blocks of 8 are encrypted.
    const Row rows[] = {{"123456", "0C"}, {"123456789012", "0C"}, {"1234567890123", "14"},
                        {"12345678901234", "14"}, {"1234567890123456", "14"}};
    for (const Row &row : rows) {
        SCOPED_TRACE(row.pin);
        type({row.pin, row.pin});
        clearTrace();
        EXPECT_EQ(iReloadPIN(1, const_cast<char *>(kCardInfo), out), 0);
        EXPECT_EQ(reloadCommand().first, row.lc);
        EXPECT_EQ(card->pin(), row.pin);
    }
}

TEST_F(Reload, EntriesDiffer) {
    type({"246810", "246811"});
    EXPECT_EQ(iReloadPIN(1, const_cast<char *>(kCardInfo), out), -34);
    EXPECT_EQ(text(), errorText(-34));
    EXPECT_EQ(reloadCommand().first, "none");
    EXPECT_EQ(card->pin(), "123456");
}

TEST_F(Reload, UnblockRestoresTheTries) {
    for (int alg : {2, 1}) {
        SCOPED_TRACE(alg);
        vr::Profile p = demoWith(alg);
        p.card->pinTriesLeft = 0;
        load(p);
        EXPECT_EQ(iUnblockPIN(1, const_cast<char *>(kCardInfo), out), 0);
        EXPECT_EQ(text(), "");
        Seq s = cardCommands("");
        ASSERT_GE(s.size(), 2u);
        EXPECT_EQ(s[s.size() - 2], alg == 2 ? "00 84 00 00 10" : "00 84 00 00 08");
        EXPECT_EQ(s.back().substr(0, 14), "84 24 00 00 04");
        EXPECT_EQ(hex(s.back()).size(), 9u);
        EXPECT_TRUE(entries().empty());
        EXPECT_EQ(card->pinTriesLeft(), 3);
        type({"123456"});
        EXPECT_EQ(iVerifyPIN(1, out), 0);
    }
}

TEST_F(Reload, CardInfoRefusedBeforeTheReaderOpens) {
    const std::string row(KESTREL_ROW_SIZE, 'A');
    const std::string texts[] = {"430105D156000005000000000000004" "2|", "|K43000042|x|", row + "|K43000042|",
                                 "4301|" + row + "|"};
    const int claims = bus().claimCount();
    for (auto call : {iReloadPIN, iUnblockPIN}) {
        for (const std::string &t : texts) {
            SCOPED_TRACE(t.substr(0, 40));
            std::string info = t;
            EXPECT_EQ(call(1, &info[0], out), -14);
            EXPECT_EQ(text(), errorText(-14));
            EXPECT_TRUE(seen().empty());
        }
        EXPECT_EQ(call(1, nullptr, out), -14);
        EXPECT_EQ(call(5, const_cast<char *>(kCardInfo), out), -14);
        EXPECT_TRUE(seen().empty());
    }
    EXPECT_EQ(bus().claimCount(), claims);  // the reader was never opened
}

TEST_F(Reload, AnotherCardIsRefused) {
    const char *texts[] = {"430105d156000005000000000000004" "2|K43000042|",  // lower case
                           "430105D156000005000000000000004" "3|K43000042|", "430105D156000005000000000000004" "2|K4300004|",
                           "430105D156000005000000000000004" "2|K43000042 |"};
    for (const char *t : texts) {
        SCOPED_TRACE(t);
        std::string info = t;
        type({"246810", "246810"});
        EXPECT_EQ(iReloadPIN(1, &info[0], out), -22);
        EXPECT_EQ(text(), errorText(-22));
        EXPECT_EQ(std::string(logbuf), std::string("getErrorInf, code:-22, error info ") + errorText(-22) + "\r\n");
        EXPECT_TRUE(entries().empty());
        EXPECT_EQ(mHreader, -11);
        EXPECT_EQ(device->keypad().pending(), 2u);
        reader()->slot(0x00).card = device = std::make_shared<vr::ReaderDevice>();
    }
    EXPECT_EQ(card->pin(), "123456");
}

TEST_F(Reload, PsamFailures) {
    struct Row {
        const char *what;
        std::function<void(vr::Profile &, vr::KeySet &)> change;
        long rc;
    };
    const Row rows[] = {
        {"no PSAM", [](vr::Profile &p, vr::KeySet &) { p.psams.clear(); }, -2201},
        {"no application", [](vr::Profile &p, vr::KeySet &) { p.psams[0].applications.clear(); }, -2202},
        {"PSAM of another province", [](vr::Profile &p, vr::KeySet &) { p.psams[0].terminalNumber = hex("44 01 05 00 00 07"); }, -24},
        // The card refuses the terminal (63 C2), and then the MAC (69 88).
        {"another issuer", [](vr::Profile &, vr::KeySet &k) { k.set({0x48, 0x10}, Bytes(16, 0x11)); }, -25536},
        {"another PIN key", [](vr::Profile &, vr::KeySet &k) { k.set({0x48, 0x09}, Bytes(16, 0x11)); }, -27016},
    };
    for (auto call : {iReloadPIN, iUnblockPIN}) {
        for (const Row &row : rows) {
            SCOPED_TRACE(row.what);
            vr::Profile p = demoWith();
            p.card->pinTriesLeft = 2;
            vr::KeySet keys = vr::buildKeys(p, vr::buildCard(p).get());
            row.change(p, keys);
            {
                auto r = reader();
                for (uint8_t slot : {0x11, 0x12, 0x13, 0x14}) r->remove(slot);
            }
            load(p, p.psams.empty() ? nullptr : &keys);
            type({"246810", "246810"});
            EXPECT_EQ(call(1, const_cast<char *>(kCardInfo), out), row.rc);
            EXPECT_EQ(text(), errorText(static_cast<int>(row.rc)));
            EXPECT_EQ(card->pin(), "123456");
            EXPECT_EQ(card->pinTriesLeft(), 2);
        }
    }
}

// The identity check on its own, against scripted records.
TEST_F(Reload, IdentityCheck) {
    const std::string id = "14010200000000860000000000123456";
    struct Row {
        const char *what;
        std::string rule, answer;
        std::string cardId, cardNo;
        long rc;
    };
    const Row rows[] = {
        {"the card", "", "", id, "A12345678", 0},
        {"short number record", "00 B2 07 04 0B", "07 03 41 31 32 90 00", id, "A12", 0},
        {"short number record, whole number named", "00 B2 07 04 0B", "07 03 41 31 32 90 00", id, "A12345678", -22},
        {"number record missing", "00 B2 07 04 0B", "6A 83", id, "A12345678", -27267},
        {"short identification record", "00 B2 01 04 12", "01 02 14 01 90 00", id, "A12345678", -20},
        {"no EF05", "00 A4 00 00 02 EF 05", "6A 82", id, "A12345678", -27266},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        auto c = insertPoweredCard();
        if (!row.rule.empty()) c->on(row.rule, row.answer);
        std::string cardId = row.cardId, cardNo = row.cardNo;
        EXPECT_EQ(checkCardInfo(handle, &cardId[0], &cardNo[0]), row.rc);
    }
    EXPECT_EQ(checkCardInfo(handle, nullptr, nullptr), -14);
}

}  // namespace
}  // namespace pintest
