// SPDX-License-Identifier: MIT
// Every endpoint through the virtual reader: the service makes exactly the
// library call a host would make (same result text, same commands to the
// reader), converts it to UTF-8 and names its fields.
#include <cstring>
#include <functional>

#include "cards/qr_scanner.h"
#include "kestrel.h"
#include "service_fixture.h"
#include "text.h"

namespace kestreldtest {
namespace {

struct DirectCall {
    long code;
    std::string raw;  // UTF-8
};

struct ReadCase {
    const char *path;
    const char *body;  // null: GET
    std::function<DirectCall()> direct;
    const char *typed = "";      // keypad entries before each call
    bool cannotFail = false;     // succeeds whenever the reader opens
};

DirectCall direct(long code, const char *out, std::size_t size) {
    return {code, kestreld::bufferText(out, size)};
}

// The demonstration card's card-info text and a file-address list of a
// free file, a file that needs the PIN and a cyclic file read whole.
char kCardInfo[] = "430105D1560000050000000000000042|K43000042|";
char kFileAddr[] = "SSSEEF05|01|07|$DF01EF05|20|$DF04EF08|$";
const char *kReadBody = R"({"authType":1,"cardId":"430105D1560000050000000000000042","cardNumber":"K43000042",)"
                        R"("fileAddr":"SSSEEF05|01|07|$DF01EF05|20|$DF04EF08|$"})";

const std::vector<ReadCase> &readCases() {
    static const std::vector<ReadCase> cases = {
        {"/v1/basic-info", R"({"cardType":1})",
         [] {
             char out[KESTREL_BASEINFO_SIZE] = {};
             long rc = iReadCardBas(1, out);
             return direct(rc, out, sizeof out);
         }},
        {"/v1/identity-card", "",
         [] {
             static char out[KESTREL_ID_OUT_SIZE];
             memset(out, 0, sizeof out);
             long rc = iReadIdentityCard(out);
             return direct(rc, out, sizeof out);
         }},
        {"/v1/identity-card/any-kind", "{}",
         [] {
             static char out[KESTREL_ID_OUT_SIZE];
             memset(out, 0, sizeof out);
             long rc = iReadSFZ(out);
             return direct(rc, out, sizeof out);
         }},
        {"/v1/bank-number", R"({"cardType":1})",
         [] {
             char out[KESTREL_BANKNO_SIZE] = {};
             long rc = iReadBankNo(1, out);
             return direct(rc, out, sizeof out);
         }},
        {"/v1/pin/verify", R"({"cardType":1})",
         [] {
             char out[KESTREL_PIN_OUT_SIZE] = {};
             long rc = iVerifyPIN(1, out);
             return direct(rc, out, sizeof out);
         },
         "123456"},
        {"/v1/card/read", kReadBody,
         [] {
             static char out[KESTREL_READCARD_OUT_SIZE];
             memset(out, 0, sizeof out);
             long rc = iReadCard(1, 1, kCardInfo, kFileAddr, out);
             return direct(rc, out, sizeof out);
         },
         "123456"},
        {"/v1/qrcode", R"({"seconds":8})",
         [] {
             char out[KESTREL_SCAN_ANSWER_SIZE] = {};
             long rc = iGetQRCode(8, out);
             return direct(rc, out, sizeof out);
         }},
        {"/v1/magstripe", "{}",
         [] {
             char out[KESTREL_SCAN_ANSWER_SIZE] = {};
             long rc = ReadMagInfo(out);
             return direct(rc, out, sizeof out);
         }},
        {"/v1/debit/records", "{}",
         [] {
             char out[KESTREL_DEBIT_RECORDS_SIZE] = {};
             long rc = iReadDebitRecord(1, out);
             return direct(rc, out, sizeof out);
         },
         "123456"},
        {"/v1/device-info", nullptr,
         [] {
             char out[KESTREL_DEVICE_INFO_SIZE] = {};
             long rc = iGetDeviceInfo(out);
             return direct(rc, out, sizeof out);
         },
         "", true},
    };
    return cases;
}

class EndpointsTest : public ServiceTest {
protected:
    HttpResponse call(const ReadCase &c) { return c.body ? post(c.path, c.body) : get(c.path); }
};

TEST_F(EndpointsTest, ReadsAreTheLibraryCallsAHostMakes) {
    for (const ReadCase &c : readCases()) {
        SCOPED_TRACE(c.path);
        takeTrace();
        type(c.typed);
        DirectCall want = c.direct();
        std::vector<std::string> wantSent = takeTrace();
        type(c.typed);
        HttpResponse r = call(c);
        ASSERT_EQ(r.status, 200) << r.body;
        EXPECT_EQ(r.header("content-type"), "application/json; charset=utf-8");
        json answer = r.parsed();
        EXPECT_EQ(answer["code"], want.code);
        EXPECT_EQ(answer["ok"], true);
        EXPECT_EQ(answer["raw"], want.raw);
        EXPECT_EQ(answer["text"], "");
        EXPECT_TRUE(answer["fields"].is_object());
        EXPECT_EQ(takeTrace(), wantSent);
    }
}

TEST_F(EndpointsTest, DemonstrationCardsAsNamedFields) {
    json basic = post("/v1/basic-info", R"({"cardType":1})").parsed()["fields"];
    EXPECT_EQ(basic["name"], "张三");
    EXPECT_EQ(basic["cardNumber"], "K43000042");
    EXPECT_EQ(basic["socialSecurityNumber"], "430105198001010042");
    EXPECT_EQ(basic["region"], "430105");
    EXPECT_EQ(basic["expiryDate"], "20340301");
    EXPECT_EQ(basic["deviceNumber"], "KVR1-000000000000042");

    for (const char *path : {"/v1/identity-card", "/v1/identity-card/any-kind"}) {
        SCOPED_TRACE(path);
        json id = post(path, "{}").parsed()["fields"];
        EXPECT_EQ(id["kind"], "resident");
        EXPECT_EQ(id["name"], "林晓岚");
        EXPECT_EQ(id["sex"], "女");
        EXPECT_EQ(id["ethnicGroup"], "汉族");
        EXPECT_EQ(id["address"], "江苏省南京市鼓楼区示范路18号");
        EXPECT_EQ(id["validFrom"], "20200115");
        EXPECT_EQ(id["validTo"], "20400115");
    }

    EXPECT_EQ(post("/v1/bank-number", "{}").parsed()["fields"]["accountNumber"], "6217000000000000042");

    json probe = post("/v1/card-type").parsed();
    EXPECT_EQ(probe["code"], 0);
    EXPECT_EQ(probe["fields"], json::parse(R"({"category":3,"socialSecurityCard":true,"region":"430105","version":"2.00"})"));

    json status = get("/v1/status").parsed();
    EXPECT_EQ(status["code"], 0);
    EXPECT_EQ(status["fields"]["reader"], "connected");
    EXPECT_NE(status["fields"]["slots"]["contact"]["state"], "empty");
    EXPECT_EQ(status["fields"]["slots"]["psam2"]["state"], "empty");

    type("123456");
    json items = post("/v1/card/read", kReadBody).parsed()["fields"]["groups"];
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(items[0]["items"][1], json::parse(R"({"item":"07","text":"K43000042"})"));
    EXPECT_EQ(items[1]["items"][0]["item"], "20");
    EXPECT_EQ(items[2]["file"], "DF04EF08");

    json device = get("/v1/device-info").parsed()["fields"];
    EXPECT_EQ(device["identification"], "KVR1-000000000000042");
    EXPECT_EQ(device["terminalNumber"], "430105000007");
    json tracks = post("/v1/magstripe", "{}").parsed()["fields"]["tracks"];
    ASSERT_EQ(tracks.size(), 2u);
    EXPECT_EQ(tracks[0], ";6217000000000000042=34032010000000000?");
    EXPECT_EQ(post("/v1/qrcode", "{}").parsed()["fields"]["text"], "KESTREL-QR-DEMO-0042");

    char info[KESTREL_LIBINFO_SIZE + 1] = {};
    ICC_Reader_Libinfo(info);
    json libinfo = get("/v1/libinfo").parsed();
    EXPECT_EQ(libinfo["raw"], info);
    EXPECT_EQ(libinfo["fields"]["info"], std::string(info).substr(0, strlen(info) - 1));
}

TEST_F(EndpointsTest, CardTypeOfACardThatIsNotASocialSecurityCard) {
    reader()->slot(0x01).categoryProbe = 9;
    char type[8] = {}, region[8] = {}, version[128] = {};
    int rc = iReadCardType(type, region, version);
    ASSERT_GT(rc, 0);
    json answer = post("/v1/card-type").parsed();
    EXPECT_EQ(answer["code"], rc);
    EXPECT_EQ(answer["ok"], true);
    EXPECT_EQ(answer["fields"]["category"], static_cast<unsigned char>(type[1]));
    EXPECT_EQ(answer["fields"]["socialSecurityCard"], false);
}

// A failing call: the library's code and its text (converted), no fields.
TEST_F(EndpointsTest, FailuresCarryTheLibraryCodeAndText) {
    for (uint8_t slot : {0x01, 0x1A, 0x1B, 0x1C}) reader()->remove(slot);
    for (const ReadCase &c : readCases()) {
        if (c.cannotFail) continue;
        SCOPED_TRACE(c.path);
        DirectCall want = c.direct();
        ASSERT_LT(want.code, 0);
        json answer = call(c).parsed();
        EXPECT_EQ(answer["code"], want.code);
        EXPECT_EQ(answer["ok"], false);
        EXPECT_EQ(answer["text"], want.raw);
        EXPECT_EQ(answer["raw"], want.raw);
        EXPECT_TRUE(answer["fields"].is_null());
    }
}

// A scanned code is bytes, not text: every byte reaches the answer (as
// hexadecimal too), a NUL inside it included; the scan time is passed on.
TEST_F(EndpointsTest, AScannedCodeIsPassedOnByteForByte) {
    std::dynamic_pointer_cast<vr::QrScanner>(reader()->slot(0x1C).card)
        ->queueCode(vr::Bytes{'A', 0x00, 0xFF, 0xD5, 0xC5, '|'});
    takeTrace();
    json fields = post("/v1/qrcode", R"({"seconds":30})").parsed()["fields"];
    EXPECT_EQ(fields["hex"], "4100FFD5C57C");
    EXPECT_EQ(fields["length"], 6);
    EXPECT_EQ(fields["text"], std::string("A\0\xEF\xBF\xBD张|", 9));
    EXPECT_EQ(takeTrace(), (std::vector<std::string>{"1C B0 B0 03 1E 00"}));
}

// Commands as "<NAD> CLA INS P1 P2 Lc", but updates of the card whole:
// the data of the others carry the card's random challenges.
std::vector<std::string> shapes(std::vector<std::string> trace) {
    constexpr std::size_t kHeader = 17;
    for (std::string &line : trace) {
        const std::string ins = line.substr(6, 2);
        if (ins != "DC" && ins != "D6" && line.size() > kHeader) line.resize(kHeader);
    }
    return trace;
}

// The operations that change the card, once enabled: the same call as a
// host's, on a card in the same state, sends the same commands.
TEST_F(EndpointsTest, ChangesAreTheLibraryCallsAHostMakes) {
    config.enabled = kestreld::kWrite | kestreld::kPinChange;
    char fileAddr[] = "DF01EF05|20|$SSSEEF07|$";
    char writeData[] = "DF01EF05|\xBA\xFE|$SSSEEF07|A1B2|$";  // 湖
    const std::string writeBody = std::string(R"({"cardId":")") + kCardId + R"(","cardNumber":")" + kCardNumber +
                                  R"(","fileAddr":"DF01EF05|20|$SSSEEF07|$","writeData":"DF01EF05|湖|$SSSEEF07|A1B2|$"})";
    const struct {
        const char *path;
        std::string body;
        const char *typed;
        std::function<DirectCall()> direct;
    } cases[] = {
        {"/v1/card/write", writeBody, "",
         [&] {
             char out[KESTREL_WRITECARD_OUT_SIZE] = {};
             long rc = iWriteCard(1, kCardInfo, fileAddr, writeData, out);
             return direct(rc, out, sizeof out);
         }},
        {"/v1/pin/change", "{}", "123456 654321 654321",
         [] {
             char out[KESTREL_PIN_OUT_SIZE] = {};
             long rc = iChangePIN(1, out);
             return direct(rc, out, sizeof out);
         }},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.path);
        takeTrace();
        type(c.typed);
        DirectCall want = c.direct();
        ASSERT_EQ(want.code, 0) << want.raw;
        std::vector<std::string> wantSent = shapes(takeTrace());
        holderCard()->setPin("123456");
        type(c.typed);
        json answer = post(c.path, c.body).parsed();
        EXPECT_EQ(answer["code"], 0);
        EXPECT_EQ(answer["raw"], want.raw);
        EXPECT_TRUE(answer["fields"].is_object());
        EXPECT_EQ(shapes(takeTrace()), wantSent);
    }
    EXPECT_EQ(holderCard()->pin(), "654321");
    EXPECT_EQ(holderCard()->record(0xDF01, 0xEF05, 0x20), (vr::Bytes{0xBA, 0xFE}));
}

const char kDebitBody[] = R"({"cardId":"430105D1560000050000000000000042","cardNumber":"K43000042",)"
                          R"("amount1":"12.50","amount2":"3.00","dateTime":"20240401103000"})";

// The debit, once enabled: the same commands as a host's call (the card's
// and the PSAM's session data aside), the result's fields, and the card's
// record of it.
TEST_F(EndpointsTest, DebitIsTheLibraryCallAHostMakes) {
    config.enabled = kestreld::kDebit;
    char payInfo[] = "12.50|3.00|20240401103000|";
    char out[KESTREL_DEBIT_OUT_SIZE] = {};
    const uint32_t before = holderCard()->balance();
    takeTrace();
    type("123456");
    ASSERT_EQ(iDoDebit(1, kCardInfo, payInfo, out), 0) << out;
    std::vector<std::string> wantSent = shapes(takeTrace());
    type("123456");
    json answer = post("/v1/debit", kDebitBody).parsed();
    EXPECT_EQ(answer["code"], 0);
    EXPECT_EQ(shapes(takeTrace()), wantSent);
    EXPECT_EQ(answer["raw"].get<std::string>().size(), strlen(out));
    json fields = answer["fields"];
    EXPECT_EQ(fields["amount1Fen"], 1250);
    EXPECT_EQ(fields["amount2Fen"], 300);
    EXPECT_EQ(fields["dateTime"], "20240401103000");
    EXPECT_EQ(holderCard()->balance(), before - 2 * 1550);
    type("123456");
    json newest = post("/v1/debit/records", "{}").parsed()["fields"]["records"][0];
    EXPECT_EQ(newest["terminalNumber"], fields["terminalNumber"]);
    EXPECT_EQ(newest["amount1"], "12.50");
}

// A card that may have been debited although the call failed: the answer
// names the transaction, so that the host can find it among the records.
TEST_F(EndpointsTest, AnUnconfirmedDebitIsNamedInTheAnswer) {
    // A PSAM that refuses every MAC2.
    struct RefuseMac2 : vr::Card {
        std::shared_ptr<vr::Card> psam;
        vr::Bytes reset() override { return psam->reset(); }
        void powerOff() override { psam->powerOff(); }
        vr::Bytes transmit(const vr::Bytes &c) override {
            if (c.size() > 1 && c[0] == 0x80 && c[1] == 0x72) return {0x93, 0x02};
            return psam->transmit(c);
        }
    };
    auto refusing = std::make_shared<RefuseMac2>();
    refusing->psam = reader()->slot(0x11).card;
    reader()->insert(0x11, refusing);
    config.enabled = kestreld::kDebit;
    const uint32_t before = holderCard()->balance();
    type("123456");
    json answer = post("/v1/debit", kDebitBody).parsed();
    EXPECT_EQ(answer["code"], -37634);
    EXPECT_EQ(answer["ok"], false);
    EXPECT_EQ(answer["raw"], answer["text"]);
    json unconfirmed = answer["fields"]["debitNotConfirmed"];
    ASSERT_TRUE(unconfirmed.is_object()) << answer;
    EXPECT_EQ(holderCard()->balance(), before - 1550);
    type("123456");
    EXPECT_EQ(post("/v1/debit/records", "{}").parsed()["fields"]["records"][0]["serial"], unconfirmed["serial"]);
    EXPECT_NE(logText().find("done: debit from a local program, code -37634, debit not confirmed"), std::string::npos);
}

TEST_F(EndpointsTest, NoReaderOnTheBus) {
    bus().plug(vr::UsbVariant::NoReader);
    json status = get("/v1/status").parsed();
    EXPECT_EQ(status["code"], -11);
    EXPECT_EQ(status["ok"], false);
    EXPECT_EQ(status["fields"]["reader"], "not connected");
    json basic = post("/v1/basic-info", "{}").parsed();
    EXPECT_EQ(basic["code"], -11);
    EXPECT_NE(basic["text"], "");
}

TEST_F(EndpointsTest, CardTypeChoosesTheInterface) {
    post("/v1/basic-info", R"({"cardType":2})");
    std::vector<std::string> sent = takeTrace();
    ASSERT_FALSE(sent.empty());
    // The contactless field's node address, not the contact slot's.
    EXPECT_EQ(sent.front().substr(0, 2), "15");
}

TEST_F(EndpointsTest, ServedOnTheIpv6LoopbackToo) {
    start();
    if (!server->ipv6()) GTEST_SKIP() << "no IPv6 loopback here";
    HttpResponse r = httpExchange(port, "GET /v1/libinfo HTTP/1.1\r\nHost: [::1]:" + std::to_string(port) +
                                        "\r\nConnection: close\r\n\r\n", true);
    EXPECT_EQ(r.status, 200);
}

}  // namespace
}  // namespace kestreldtest
