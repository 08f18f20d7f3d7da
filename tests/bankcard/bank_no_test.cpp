// SPDX-License-Identifier: MIT
// iReadBankNo through the virtual reader: the account number a host
// receives, every APDU the reader saw, the failure texts of the payment
// steps, and records whose TLVs cannot be trusted.
#include <chrono>

#include "bankcard_fixture.h"
#include "reader/reader.h"

namespace banktest {
namespace {

const std::string kInPara = "\r\n\r\niReadBankNo, in para: 1";
const std::string kNumberRecord = "70 0A 5A 08 62 22 33 44 55 66 77 8F";

class ReadBankNo : public BankCardTest {
protected:
    int run(int type = 1) {
        std::memset(out, 0x7E, sizeof out);
        out[sizeof out - 1] = '\0';
        return iReadBankNo(type, out);
    }
    std::string text() const { return std::string(out); }
    bool untouched() const {
        for (size_t i = 0; i + 1 < sizeof out; i++)
            if (out[i] != 0x7E) return false;
        return true;
    }
    void expectTableFailure(int rc, int code) {
        EXPECT_EQ(rc, code);
        EXPECT_EQ(text(), errorText(code));
        EXPECT_EQ(std::string(logbuf),
                  "getErrorInf, code:" + std::to_string(code) + ", error info " + errorText(code) + "\r\n");
        EXPECT_EQ(mHreader, -11);
    }

    char out[KESTREL_BANKNO_SIZE + 16];
};

TEST_F(ReadBankNo, AccountNumberInRecord2OfFile1) {
    auto card = makePaymentCard();
    card->on(readRecord(2, 1), withOk(kNumberRecord));
    reader()->insert(0x01, card);
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(text(), "622233445566778");  // the final F removed
    // Record 1 of file 1 is the directory's record again (no 5A); the
    // search stops at the first number.
    EXPECT_EQ(seen(), paymentSteps() + searchReads(12 + 2));
    EXPECT_EQ(std::string(logbuf), kInPara);  // no out-para line
    EXPECT_EQ(mHreader, -11);
    EXPECT_EQ(ConvHandle[1], -12);  // the reader was closed
}

TEST_F(ReadBankNo, EvenNumberOfDigitsAndTheContactlessField) {
    auto card = makePaymentCard();
    card->on(readRecord(1, 0), withOk("70 0A 5A 08 62 22 33 44 55 66 77 88"));
    card->setAtr(vr::contactlessAnswer(vr::kContactlessCpu));
    reader()->insert(0x02, card);
    EXPECT_EQ(run(3), 0);
    EXPECT_EQ(text(), "6222334455667788");
    EXPECT_EQ(cardSlot, 0x02);
    EXPECT_EQ(seen(), Seq{at(1, kPowerOn)} + paymentSteps(2) + Seq{at(2, readRecord(1, 0))});
}

// A card whose records hold no number: every pair of record and file is
// read once, in order, and the call succeeds without writing anything.
// Through the modelled card, which answers each record it has with 6C
// first; about 3000 exchanges, so the link's drain wait is shortened.
TEST_F(ReadBankNo, NoAccountNumberAnywhere) {
    insertProfile(demoWith("leave-out = none", "leave-out = 5A"));
    const unsigned savedDrain = kestrel::drainTimeoutMs;
    kestrel::drainTimeoutMs = 1;
    auto start = std::chrono::steady_clock::now();
    int rc = run();
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    kestrel::drainTimeoutMs = savedDrain;
    RecordProperty("search_ms", static_cast<int>(ms.count()));
    EXPECT_EQ(rc, 0);
    EXPECT_TRUE(untouched());
    EXPECT_EQ(std::string(logbuf), kInPara);
    // The reads with Le 00, leaving out the repeats with the record's
    // length that the card asked for.
    Seq reads;
    for (const std::string &c : seen())
        if (c.compare(0, 9, "01: 00 B2") == 0 && c.compare(c.size() - 2, 2, "00") == 0) reads.push_back(c);
    ASSERT_EQ(reads.size(), 1u + 3060u);
    EXPECT_EQ(Seq(reads.begin() + 1, reads.end()), searchReads(3060));
}

TEST_F(ReadBankNo, DemonstrationCard) {
    insertProfile(vr::demoProfile());
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(text(), "6217000000000000042");
    // The model holds the answers to selections back for GET RESPONSE and
    // answers a record read with Le 00 by 6C and the record's length.  File
    // 1 is current after record 1 of file 1 was read, so record 2 is found
    // as record 2 of the current file.
    const std::string pse = "00 A4 04 00 0E 31 50 41 59 2E 53 59 53 2E 44 44 46 30 31";
    const std::string aid = "00 A4 04 00 09 F0 4B 45 53 54 52 45 4C 01";
    Seq expected{at(1, kPowerOn), at(1, kPowerOn), at(1, pse), at(1, "00 C0 00 00 1C"), at(1, kReadDirectory),
                 at(1, "00 B2 01 0C 1C"), at(1, aid), at(1, "00 C0 00 00 1C"), at(1, readRecord(1, 0)),
                 at(1, readRecord(1, 1)), at(1, "00 B2 01 0C 07")};
    for (unsigned f = 2; f <= 11; f++) expected.push_back(at(1, readRecord(1, f)));
    expected = expected + Seq{at(1, readRecord(2, 0)), at(1, "00 B2 02 04 12")};
    EXPECT_EQ(seen(), expected);
}

TEST_F(ReadBankNo, ModelledCardsWithoutTheirPaymentParts) {
    struct Row {
        const char *leaveOut;
        int code;
        const std::string &text;
    } rows[] = {
        {"environment", -27266, kSelectPseFailed},
        {"88", -36864, kNoDirectoryFile},
        {"4F", -36864, kNoAid},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.leaveOut);
        insertProfile(demoWith("leave-out = none", std::string("leave-out = ") + row.leaveOut));
        EXPECT_EQ(run(), row.code);
        EXPECT_EQ(text(), row.text);
        EXPECT_EQ(std::string(logbuf), kInPara);
        EXPECT_EQ(mHreader, -11);
    }
    // No payment application at all.
    vr::Profile p = vr::demoProfile();
    p.card->payment.reset();
    insertProfile(p);
    EXPECT_EQ(run(), -27266);
    EXPECT_EQ(text(), kSelectPseFailed);
    EXPECT_EQ(seen(), (Seq{at(1, kPowerOn), at(1, kPowerOn), at(1, kSelectPse)}));
}

// Each payment step that fails: the card's status word negated, or
// -36864 for a missing tag, with the step's text; the search never starts.
TEST_F(ReadBankNo, PaymentStepFailures) {
    struct Row {
        const char *what;
        std::string rule, answer;
        int code;
        const std::string &text;
        std::string last;  // the last command sent
    } rows[] = {
        {"no environment", kSelectPse, "6A 82", -27266, kSelectPseFailed, kSelectPse},
        {"environment blocked", kSelectPse, "62 83", -25219, kSelectPseFailed, kSelectPse},
        {"a status word of zero is no success", kSelectPse, "00 00", -28416, kSelectPseFailed, kSelectPse},
        {"no 88", kSelectPse, withOk(pseFci("5F 2D 02 7A 68")), -36864, kNoDirectoryFile, kSelectPse},
        {"empty 88", kSelectPse, withOk(pseFci("88 00")), -36864, kNoDirectoryFile, kSelectPse},
        {"88 of no short file identifier", kSelectPse, withOk(pseFci("88 01 1F")), -36864, kNoDirectoryFile,
         kSelectPse},
        {"88 outside A5", kSelectPse, withOk(tlv("6F", "88 01 01 A5 00")), -36864, kNoDirectoryFile, kSelectPse},
        {"no 6F", kSelectPse, withOk(tlv("A5", "88 01 01")), -36864, kNoDirectoryFile, kSelectPse},
        {"6F running past the answer", kSelectPse, "6F 09 A5 03 88 01 01 90 00", -36864, kNoDirectoryFile,
         kSelectPse},
        {"directory record missing", kReadDirectory, "6A 83", -27267, kReadRecordFailed, kReadDirectory},
        {"no 4F", kReadDirectory, withOk(tlv("70", tlv("61", "50 01 41"))), -36864, kNoAid, kReadDirectory},
        {"empty 4F", kReadDirectory, withOk(tlv("70", tlv("61", "4F 00"))), -36864, kNoAid, kReadDirectory},
        {"no 61", kReadDirectory, withOk(tlv("70", tlv("4F", kAid))), -36864, kNoAid, kReadDirectory},
        {"4F running past 61", kReadDirectory, withOk("70 06 61 04 4F 07 F0 11"), -36864, kNoAid, kReadDirectory},
        {"application missing", kSelectAid, "6A 82", -27266, kSelectApplicationFailed, kSelectAid},
        {"application blocked", kSelectAid, "6A 81", -27265, kSelectApplicationFailed, kSelectAid},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        auto card = makePaymentCard();
        card->on(row.rule, row.answer);
        reader()->insert(0x01, card);
        clearTrace();
        EXPECT_EQ(run(), row.code);
        EXPECT_EQ(text(), row.text);
        EXPECT_EQ(std::string(logbuf), kInPara);
        EXPECT_EQ(mHreader, -11);
        EXPECT_EQ(seen().back(), at(1, row.last));
    }
}

TEST_F(ReadBankNo, DirectoryInAnotherFile) {
    // Tag 88 names the directory's short file identifier: its first record
    // is read from that file.
    auto card = makePaymentCard();
    card->on(kSelectPse, withOk(pseFci("88 01 02")));
    card->on("00 B2 01 14 00", withOk(directoryRecord("F0 11 22 33 44 55 01 02")));
    card->on("00 A4 04 00 08 F0 11 22 33 44 55 01 02", "90 00");
    card->on(readRecord(1, 3), withOk(kNumberRecord));
    reader()->insert(0x01, card);
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(text(), "622233445566778");
    EXPECT_EQ(seen(), (Seq{at(1, kPowerOn), at(1, kPowerOn), at(1, kSelectPse), at(1, "00 B2 01 14 00"),
                           at(1, "00 A4 04 00 08 F0 11 22 33 44 55 01 02")} +
                       searchReads(4)));
}

TEST_F(ReadBankNo, RecordsWithTwoByteLengthsAndPadding) {
    const struct {
        const char *what, *record, *number;
    } rows[] = {
        {"70 with 81 length", "70 81 0A 5A 08 62 22 33 44 55 66 77 8F", "622233445566778"},
        {"5A with 81 length", "70 0B 5A 81 08 62 22 33 44 55 66 77 8F", "622233445566778"},
        {"padding and other tags first", "00 FF 70 0F 9F 08 02 00 30 5A 08 62 22 33 44 55 66 77 8F",
         "622233445566778"},
        {"a record of 256 bytes", nullptr, "1234567890123456789"},
        {"only the last F goes", "70 04 5A 02 1F FF", "1FF"},
        {"the first 5A counts", "70 0A 5A 03 12 34 5F 5A 03 99 99 99", "12345"},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        std::string record = row.record ? row.record : "";
        if (!row.record) {
            // 70 81 FD, 240 bytes of another element, then the number.
            record = "70 81 FD " + tlv("53", toHex(Bytes(238, 0x11))) + " 5A 0A 12 34 56 78 90 12 34 56 78 9F";
            ASSERT_EQ(hex(record).size(), 256u);
        }
        auto card = makePaymentCard();
        card->on(readRecord(1, 2), withOk(record));
        reader()->insert(0x01, card);
        clearTrace();
        EXPECT_EQ(run(), 0);
        EXPECT_EQ(text(), row.number);
        EXPECT_EQ(seen().back(), at(1, readRecord(1, 2)));
    }
}

// Records that do not hold a trustworthy number are passed over: the
// number comes from the next record, read right after.
TEST_F(ReadBankNo, RecordsWhoseLengthsCannotBeTrusted) {
    const struct {
        const char *what, *record;
    } rows[] = {
        {"70 running past the record", "70 0C 5A 08 62 22 33 44 55 66 77 8F"},
        {"5A running past its 70", "70 05 5A 08 62 22 33 44 55 66 77 8F"},
        {"5A running past the record", "70 0A 5A 81 40 62 22 33 44 55 66 77"},
        {"81 without its length byte", "70 81"},
        {"70 tag alone", "00 00 70"},
        {"5A longer than an account number", "70 0D 5A 0B 62 22 33 44 55 66 77 88 99 00 11"},
        {"empty 5A", "70 02 5A 00"},
        {"a two-byte tag 9F5A", "70 0B 9F 5A 08 62 22 33 44 55 66 77 8F"},
        {"5A outside 70", "5A 08 62 22 33 44 55 66 77 8F"},
        {"empty record", ""},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(row.what);
        auto card = makePaymentCard();
        card->on(readRecord(1, 2), withOk(row.record));
        card->on(readRecord(1, 3), withOk("70 06 5A 04 99 88 77 66"));
        reader()->insert(0x01, card);
        clearTrace();
        EXPECT_EQ(run(), 0);
        EXPECT_EQ(text(), "99887766");
        EXPECT_EQ(seen(), paymentSteps() + searchReads(4));
    }
}

// A reader that stops answering during the search: after a whole record's
// worth of failed exchanges the search gives up instead of waiting out
// every one of the 3060 reads.
TEST_F(ReadBankNo, ReaderStopsAnsweringDuringTheSearch) {
    kestrel::responseTimeoutMs = 20;
    reader()->insert(0x01, makePaymentCard());
    {
        auto r = reader();
        vr::Reader *rd = &*r;
        // The card answers the first read (6A 83), then nothing more.
        rd->onExchange = [rd](const vr::Exchange &e) {
            if (e.command == hex(readRecord(1, 0))) rd->slot(0x01).mute = true;
        };
    }
    EXPECT_EQ(run(), -28416);
    EXPECT_EQ(text(), kReadRecordFailed);
    EXPECT_EQ(std::string(logbuf), kInPara);
    // Each unanswered read is followed by the reader layer's card status
    // query, which the reader answers itself.
    Seq expected = paymentSteps() + searchReads(1);
    for (const std::string &read : searchReads(13)) {
        if (read == expected.back()) continue;
        expected.push_back(read);
        expected.push_back(at(1, "00 14 00 00 00"));
    }
    EXPECT_EQ(seen(), expected);
    EXPECT_EQ(mHreader, -11);
}

// A card that answers eleven reads with a time-out and the twelfth with
// 6A 83, again and again: the search gives up after 12 failed exchanges in
// all, instead of after some 2800 response waits.
TEST_F(ReadBankNo, FailedReadsAreBoundedOverTheWholeSearch) {
    kestrel::responseTimeoutMs = 20;
    reader()->insert(0x01, makePaymentCard());
    int reads = 0;
    bool searching = false;
    {
        auto r = reader();
        vr::Reader *rd = &*r;
        rd->onExchange = [rd, &reads, &searching](const vr::Exchange &e) {
            if (e.command == hex(kSelectAid)) searching = true;
            else if (!searching || e.command.at(1) != 0xB2) return;
            else reads++;
            rd->slot(0x01).mute = (reads + 1) % 12 != 0;  // for the next read
        };
    }
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(run(), -28416);
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    EXPECT_EQ(text(), kReadRecordFailed);
    EXPECT_EQ(reads, 13) << "12 unanswered reads and the one answered with 6A 83";
    EXPECT_LT(seconds, 3.0);
}

TEST_F(ReadBankNo, CardTypeOutsideOneToFour) {
    insertCard();
    for (int type : {0, 5, -1}) {
        SCOPED_TRACE(type);
        expectTableFailure(run(type), -14);
        EXPECT_TRUE(seen().empty());
    }
    mHreader = 1700;  // a pending step sequence ends here too
    EXPECT_EQ(iReadBankNo(1, nullptr), -14);
    EXPECT_EQ(mHreader, -11);
}

TEST_F(ReadBankNo, ReaderCardAndResetFailures) {
    expectTableFailure(run(), -2);  // no card
    EXPECT_EQ(seen(), Seq{at(1, kPowerOn)});

    // The card answers the card search but refuses the reset after it.
    reader()->insert(0x01, makePaymentCard());
    {
        auto r = reader();
        vr::Reader *rd = &*r;
        rd->onExchange = [rd](const vr::Exchange &) { rd->slot(0x01).powerOnStatus = 0x6A82; };
        rd->clearTrace();
    }
    expectTableFailure(run(), -2);
    EXPECT_EQ(seen(), (Seq{at(1, kPowerOn), at(1, kPowerOn)}));
    reader()->onExchange = nullptr;

    bus().plug(vr::UsbVariant::NoReader);
    expectTableFailure(run(), -11);
}

}  // namespace
}  // namespace banktest
