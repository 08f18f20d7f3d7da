// SPDX-License-Identifier: MIT
// The payment application of the card model and the [payment] section of
// card profiles, with the reader's answer to the category probe.
#include "cards/ss_payment.h"
#include "profile.h"
#include "reader.h"
#include "sim_test_util.h"

using namespace vr;

namespace simtest {
namespace {

const Bytes kPse = paymentEnvironmentName();
const Bytes kLabel = hex("4B 45 53 54 52 45 4C 20 50 41 59");  // KESTREL PAY

std::shared_ptr<SsCard> cardWith(const PaymentApplication &app) {
    auto card = std::make_shared<SsCard>();
    card->addPaymentApplication(app);
    card->reset();
    return card;
}

TEST(Payment, EnvironmentDirectoryAndRecords) {
    PaymentApplication app;
    app.aid = hex("F0 01 02 03 04 05");
    app.accountNumber = packedDigits("622233445566778");
    app.record = 3;
    app.file = 2;
    app.directoryFile = 4;
    auto card = cardWith(app);

    // The environment's answer waits for GET RESPONSE and names directory 4.
    Bytes r = card->transmit(selectByName(kPse));
    EXPECT_EQ(swOf(r), 0x611C);
    EXPECT_EQ(transact(*card, "00 C0 00 00 1C"),
              concat(concat(hex("6F 1A 84 0E"), kPse), hex("A5 08 88 01 04 5F 2D 02 7A 68 90 00")));
    // Its directory: Le 00 gets 6C and the record's length first.
    EXPECT_EQ(card->transmit(hex("00 B2 01 24 00")), hex("6C 19"));
    EXPECT_EQ(card->transmit(hex("00 B2 01 24 19")),
              concat(concat(hex("70 17 61 15 4F 06 F0 01 02 03 04 05 50 0B"), kLabel), hex("90 00")));
    EXPECT_EQ(swOf(card->transmit(hex("00 B2 02 24 00"))), 0x6A83);
    EXPECT_EQ(swOf(card->transmit(hex("00 B2 01 0C 00"))), 0x6A82);

    // The application, selected by its identifier.
    EXPECT_EQ(dataOf(transact(*card, selectByName(app.aid))),
              concat(hex("6F 17 84 06 F0 01 02 03 04 05 A5 0D 50 0B"), kLabel));
    EXPECT_EQ(swOf(card->transmit(hex("00 B2 01 04 00"))), 0x6986);  // no current file yet
    EXPECT_EQ(transact(*card, "00 B2 01 14 00"), hex("70 05 9F 08 02 00 30 90 00"));
    EXPECT_EQ(transact(*card, "00 B2 03 14 00"),
              hex("70 0E 5A 08 62 22 33 44 55 66 77 8F 5F 34 01 00 90 00"));
    // File 2 became the current file.
    EXPECT_EQ(transact(*card, "00 B2 02 04 00"), hex("70 05 9F 08 02 00 30 90 00"));
    EXPECT_EQ(swOf(card->transmit(hex("00 B2 04 14 00"))), 0x6A83);
    EXPECT_EQ(swOf(card->transmit(hex("00 B2 01 0C 00"))), 0x6A82);

    // The social-security application is still there.
    EXPECT_EQ(swOf(transact(*card, selectByName(ssApplicationName()))), 0x9000);
    EXPECT_EQ(swOf(transact(*card, "00 A4 00 00 02 EF 05")), 0x9000);
}

TEST(Payment, PartsLeftOut) {
    PaymentApplication app;
    app.environment = false;
    EXPECT_EQ(transact(*cardWith(app), selectByName(kPse)), hex("6A 82"));

    app = PaymentApplication();
    app.directoryFileTag = false;
    Bytes fci = dataOf(transact(*cardWith(app), selectByName(kPse)));
    EXPECT_EQ(Bytes(fci.end() - 7, fci.end()), hex("A5 05 5F 2D 02 7A 68"));

    app = PaymentApplication();
    app.aidTag = false;
    auto card = cardWith(app);
    transact(*card, selectByName(kPse));
    EXPECT_EQ(transact(*card, "00 B2 01 0C 00"), concat(concat(hex("70 0F 61 0D 50 0B"), kLabel), hex("90 00")));

    app = PaymentApplication();
    app.accountNumberTag = false;
    card = cardWith(app);
    transact(*card, selectByName(app.aid));
    EXPECT_EQ(transact(*card, "00 B2 01 0C 00"), hex("70 04 5F 34 01 00 90 00"));

    // A card without any: the environment is not there.
    auto plain = std::make_shared<SsCard>();
    plain->reset();
    EXPECT_EQ(transact(*plain, selectByName(kPse)), hex("6A 82"));
}

TEST(Payment, ProfileSection) {
    const char *text =
        "[card]\n"
        "category = 09\n"
        "[payment]\n"
        "account-number = 12345\n"
        "record = 255\n"
        "file = 30\n"
        "directory-file = 2\n"
        "aid = a0 00 00 00 01 02\n"
        "leave-out = 88 4f\n";
    Profile p;
    std::string error;
    ASSERT_TRUE(parseProfile(text, "t", &p, &error)) << error;
    ASSERT_TRUE(p.card->payment);
    const PaymentApplication &app = *p.card->payment;
    EXPECT_EQ(app.accountNumber, hex("12 34 5F"));
    EXPECT_EQ(app.record, 255);
    EXPECT_EQ(app.file, 30);
    EXPECT_EQ(app.directoryFile, 2);
    EXPECT_EQ(app.aid, hex("A0 00 00 00 01 02"));
    EXPECT_TRUE(app.environment);
    EXPECT_FALSE(app.directoryFileTag);
    EXPECT_FALSE(app.aidTag);
    EXPECT_TRUE(app.accountNumberTag);

    Reader reader;
    insertProfile(reader, p);
    EXPECT_EQ(reader.slot(0x01).categoryProbe, 0x09);
    auto card = std::dynamic_pointer_cast<SsCard>(reader.slot(0x01).card);
    ASSERT_TRUE(card);
    card->reset();
    transact(*card, selectByName(app.aid));
    EXPECT_EQ(transact(*card, "00 B2 FF F4 00"), hex("70 09 5A 03 12 34 5F 5F 34 01 00 90 00"));

    // Defaults, and a reader that passes the probe on.
    ASSERT_TRUE(parseProfile("[card]\ncategory = none\n[payment]\n", "t", &p, &error)) << error;
    EXPECT_EQ(p.card->payment->accountNumber, packedDigits("6217000000000000042"));
    EXPECT_EQ(p.card->payment->aid, defaultPaymentAid());
    EXPECT_EQ(p.card->payment->record, 1);
    EXPECT_EQ(p.card->payment->file, 1);
    Reader other;
    insertProfile(other, p);
    EXPECT_EQ(other.slot(0x01).categoryProbe, -1);

    // No [payment]: no application; a contactless card leaves the contact
    // slot's probe alone.
    ASSERT_TRUE(parseProfile("[card]\nslot = contactless\n", "t", &p, &error)) << error;
    EXPECT_FALSE(p.card->payment);
    EXPECT_EQ(p.card->category, 0x00);
    Reader third;
    insertProfile(third, p);
    EXPECT_EQ(third.slot(0x01).categoryProbe, -1);

    // The demonstration card carries one.
    Profile demo = demoProfile();
    ASSERT_TRUE(demo.card->payment);
    EXPECT_EQ(demo.card->payment->record, 2);
}

TEST(Payment, MalformedSections) {
    const struct {
        std::string text, error;
    } cases[] = {
        {"[payment]\n", "t.profile:1: [payment] without a [card]"},
        {"[card]\n[payment]\n[payment]\n", "t.profile:3: section [payment] given twice (first on line 2)"},
        {"[card]\n[payment]\naccount-number = 12a4\n", "t.profile:3: account-number: '12a4' is not 1 to 19 digits"},
        {"[card]\n[payment]\naccount-number = 12345678901234567890\n", "t.profile:3: account-number: '1234"},
        {"[card]\n[payment]\naccount-number =\n", "t.profile:3: account-number: '' is not"},
        {"[card]\n[payment]\nrecord = 0\n", "t.profile:3: record: '0' is not a number from 1 to 255"},
        {"[card]\n[payment]\nrecord = 256\n", "t.profile:3: record: '256' is not"},
        {"[card]\n[payment]\nfile = 31\n", "t.profile:3: file: '31' is not a number from 1 to 30"},
        {"[card]\n[payment]\ndirectory-file = 0\n", "t.profile:3: directory-file: '0' is not"},
        {"[card]\n[payment]\naid = F0 01 02 03\n", "t.profile:3: aid: 4 bytes, expected 5 to 16"},
        {"[card]\n[payment]\naid = 31 50 41 59 2E 53 59 53 2E 44 44 46 30 31\n",
         "t.profile:3: aid: the name of another application"},
        {"[card]\n[payment]\nleave-out = 9F\n", "t.profile:3: leave-out: expected environment, 88, 4F, 5A or none"},
        {"[card]\n[payment]\npan = 1\n", "t.profile:3: unknown key 'pan' in [payment]"},
        {"[card]\ncategory = 01 02\n", "t.profile:2: category: 2 bytes, expected 1"},
    };
    for (const auto &c : cases) {
        Profile p;
        std::string error;
        EXPECT_FALSE(parseProfile(c.text, "t.profile", &p, &error)) << c.text;
        EXPECT_EQ(error.compare(0, c.error.size(), c.error), 0) << "got:      " << error << "\nexpected: " << c.error;
    }
}

}  // namespace
}  // namespace simtest
