// SPDX-License-Identifier: MIT
// The basic information read, driven through the exported iReadCardBas
// against scripted cards in the virtual reader: the text a host receives,
// every APDU the reader saw, the call log, and each failure row.
#include "errors/errors.h"
#include "operations/operations.h"
#include "security/security_fixture.h"

namespace sectest {
namespace {

constexpr const char *kDevice = "KST2024060100000017" "9";

class ReadCardBas : public SecurityTest {
protected:
    void SetUp() override {
        SecurityTest::SetUp();
        if (HasFatalFailure()) return;
        psam = insertPsam();
        psam->on(kSelectTerminal, "90 00");
        psam->on(kReadTerminal, "14 01 02 00 00 01 90 00");
        setDeviceNumber(textHex(kDevice) + " 90 00");
        clearTrace();
    }

    long run(int type = 1) {
        std::memset(out, 0x7E, sizeof out);
        return iReadCardBas(type, out);
    }
    std::string text() const { return std::string(out); }

    // Commands of a whole read of a card that declares its algorithm and
    // whose version needs record 1 (readsId), of version 2 or 3 (nameExt).
    static Seq wholeRead(bool readsId, bool nameExt) {
        Seq s{at(1, kPowerOn), at(1, kPowerOn), at(1, kSelectApp), at(1, kSelectEF05), at(1, kReadVersion)};
        if (readsId) s.push_back(at(1, kReadCardId));
        s = s + Seq{at(1, kPowerOn), at(1, kSelectApp), at(1, kSelectEF05), at(1, kReadCardId),
                    at(1, kSelectEF05), at(1, kReadCardId), at(1, kReadVersion), at(1, kReadIssue),
                    at(1, kReadExpiry), at(1, kReadCardNo), at(1, kSelectEF06), at(1, kReadSsn), at(1, kReadName)};
        if (nameExt) s.push_back(at(1, kReadNameExt));
        return s + Seq{at(0x11, kPowerOn), at(0x11, kSelectTerminal), at(0x11, kReadTerminal), at(0, kDeviceQuery)};
    }

    void expectFailure(long rc, long code) {
        EXPECT_EQ(rc, code);
        EXPECT_EQ(text(), errorText(static_cast<int>(code)));
        EXPECT_EQ(std::string(logbuf),
                  "getErrorInf, code:" + std::to_string(code) + ", error info " + errorText(static_cast<int>(code)) + "\r\n");
    }

    std::shared_ptr<vr::ScriptedCard> psam;
    char out[kBaseInfoTextSize + 64];
};

// 张三 in GB18030.
const std::string kName = "\xD5\xC5\xC8\xFD";
const std::string kAtrTail = "028638163C4B45535452450102";

TEST_F(ReadCardBas, Version1Card) {
    // Version text 2.00 of a card of region 14: classed as version 1, so
    // the name extension is not read, but field 7 shows the card's 2.00.
    insertCard();
    EXPECT_EQ(run(), 0);
    const std::string expected = "140102|110101199001011234|A12345678|14010200000000860000000000123456|" + kName +
                                 "|" + kAtrTail + "|2.00|20150601|20250601|140102000001|" + kDevice + "|";
    EXPECT_EQ(text(), expected);
    EXPECT_EQ(m_usercardVer, 1);
    EXPECT_EQ(m_usercardAlg, 1);
    EXPECT_EQ(toHex(usrCardCityCOde, 3), "14 01 02");
    EXPECT_EQ(seen(), wholeRead(true, false));
    EXPECT_EQ(std::string(logbuf), "iReadCardBas, out para: " + expected + "\r\n");
    EXPECT_EQ(mHreader, -11);
}

TEST_F(ReadCardBas, Version2CardWithAFullName) {
    CardContent content;
    content.id = "37 02 03 00 00 00 00 86 00 00 00 00 00 12 34 56";
    content.fci = fciWith9F0C("86 01 02");
    // A name of all 30 bytes continues in the extension up to its first NUL.
    content.name = textHex(std::string(30, 'N'));
    content.nameExt = paddedText("EXT", 20);
    insertCard(content);
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(text(), "370203|110101199001011234|A12345678|37020300000000860000000000123456|" +
                          std::string(30, 'N') + "EXT|" + kAtrTail + "|2.00|20150601|20250601|140102000001|" +
                          kDevice + "|");
    EXPECT_EQ(m_usercardVer, 2);
    EXPECT_EQ(m_usercardAlg, 2);
    EXPECT_EQ(seen(), wholeRead(true, true));
}

TEST_F(ReadCardBas, Version3CardWithAShortName) {
    CardContent content;
    content.id = "44 03 00 00 00 00 00 86 00 00 00 00 00 12 34 56";
    content.version = textHex("3.00");
    content.fci = fciWith9F0C("00 03");
    content.nameExt = paddedText("EXT", 20);  // hidden behind the name's NUL
    content.issue = "20 19 12 FF";
    content.expiry = "FF FF FF FF";
    content.cardNo = paddedText("B9876", 9);
    content.ssn = textHex("44030019900101123X");
    insertCard(content);
    EXPECT_EQ(run(3), 0);
    EXPECT_EQ(text(), "440300|44030019900101123X|B9876|44030000000000860000000000123456|" + kName + "|" + kAtrTail +
                          "|3.00|201912||140102000001|" + kDevice + "|");
    EXPECT_EQ(m_usercardVer, 3);
    EXPECT_EQ(m_usercardAlg, 3);
    EXPECT_EQ(seen(), wholeRead(true, true));
}

TEST_F(ReadCardBas, EmptyVersionRecordAndRegionDigits) {
    CardContent content;
    content.version = "00 00 00 00";
    content.id = "14 01 FF 00 00 00 00 86 00 00 00 00 00 12 34 56";
    insertCard(content);
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(text(), "1401|110101199001011234|A12345678|1401FF00000000860000000000123456|" + kName + "|" +
                          kAtrTail + "||20150601|20250601|140102000001|" + kDevice + "|");
    EXPECT_EQ(seen(), wholeRead(false, false));
}

TEST_F(ReadCardBas, NoPsamNoTerminalFileNoDeviceNumber) {
    insertCard();
    reader()->remove(0x11);
    reader()->remove(0x00);
    EXPECT_EQ(run(), 0);
    // Twelve zero digits; read up to its NUL, the text ends after them,
    // with the 20 zero bytes of the missing device number and "|" behind.
    const std::string tail = "|2.00|20150601|20250601|000000000000|";
    EXPECT_EQ(text().substr(text().size() - tail.size()), tail);
    EXPECT_EQ(std::string(out + text().size(), 22), std::string(20, '\0') + "|" + std::string(1, '\0'));
    Seq s = seen();
    EXPECT_EQ(Seq(s.end() - 2, s.end()), (Seq{at(0x11, kPowerOn), at(0, kDeviceQuery)}));

    psam = insertPsam();
    psam->on(kSelectTerminal, "6A 82");
    setDeviceNumber("4B 53 54 00 00 31 90 00");  // NUL bytes end the device number
    clearTrace();
    EXPECT_EQ(run(), 0);
    const std::string tail2 = "|000000000000|KST|";
    EXPECT_EQ(text().substr(text().size() - tail2.size()), tail2);
    s = seen();
    EXPECT_EQ(Seq(s.end() - 3, s.end()),
              (Seq{at(0x11, kPowerOn), at(0x11, kSelectTerminal), at(0, kDeviceQuery)}));
}

TEST_F(ReadCardBas, TerminalFileUnreadable) {
    insertCard();
    psam->on(kReadTerminal, "69 82");
    expectFailure(run(), -27010);
    Seq s = seen();
    EXPECT_EQ(s.back(), at(0x11, kReadTerminal));
    EXPECT_EQ(mHreader, -11);
}

TEST_F(ReadCardBas, CardTypeOutsideOneToFour) {
    insertCard();
    for (int type : {0, 5, -1}) {
        expectFailure(run(type), -14);
        EXPECT_TRUE(seen().empty());
    }
    EXPECT_EQ(iReadCardBas(1, nullptr), -14);
}

TEST_F(ReadCardBas, NoReader) {
    bus().plug(vr::UsbVariant::NoReader);
    expectFailure(run(), -11);
}

TEST_F(ReadCardBas, NoCard) {
    expectFailure(run(), -2);
    EXPECT_EQ(text(), "\xCE\xDE\xBF\xA8");  // 无卡
    EXPECT_EQ(seen(), (Seq{at(1, kPowerOn)}));
    EXPECT_EQ(mHreader, -11);
}

TEST_F(ReadCardBas, FailingCardSteps) {
    struct Row {
        const char *what;
        const char *rule;
        std::vector<std::string> answers;
        long code;
    };
    const Row rows[] = {
        {"application missing", "00 A4 04 00 0F", {"6A 82"}, -27266},
        {"unknown version", kReadVersion, {"03 04 34 2E 30 30 90 00"}, -20},
        {"version record unreadable", kReadVersion, {"69 82"}, -20},
        {"identification code in GetCardDivIndex", kReadCardId, {withOk("01 10 " + CardContent().id), "6A 83"}, -27267},
        {"card number", kReadCardNo, {"6A 83"}, -27267},
        {"EF06", kSelectEF06, {"6A 82"}, -27266},
        {"name", kReadName, {"69 82"}, -27010},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        auto card = insertCard();
        card->on(row.rule, row.answers);
        EXPECT_EQ(run(), row.code);
        EXPECT_EQ(text(), errorText(static_cast<int>(row.code)));
        EXPECT_EQ(mHreader, -11);
        // The reader was closed: a new open gets index 1 again.
        EXPECT_EQ(ConvHandle[1], -12);
    }
}

TEST_F(ReadCardBas, NameExtensionUnreadableOnVersion2) {
    CardContent content;
    content.id = "37 02 03 00 00 00 00 86 00 00 00 00 00 12 34 56";
    auto card = insertCard(content);
    card->on(kReadNameExt, "6A 83");
    expectFailure(run(), -27267);
}

TEST_F(ReadCardBas, ContactlessCard) {
    auto card = makeCard(CardContent());
    card->setAtr(hex("3B 6C 00 02 86 38 16 3C 4B 45 53 54 52 45 01 02"));
    reader()->insert(0x02, card);
    EXPECT_EQ(run(2), 0);
    EXPECT_EQ(cardSlot, 0x02);
    for (const std::string &c : seen())
        EXPECT_TRUE(c.rfind("02: ", 0) == 0 || c.rfind("11: ", 0) == 0 || c.rfind("00: ", 0) == 0) << c;
}

TEST_F(ReadCardBas, ShortRecordsAreZeroFilled) {
    auto card = insertCard();
    card->on(kReadCardNo, "07 03 41 31 32 90 00");  // 3 of 9 bytes
    card->on(kReadSsn, "90 00");                       // no record header at all
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(text().substr(0, 11), "140102||A12");
}

}  // namespace
}  // namespace sectest
