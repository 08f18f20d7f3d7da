// Every endpoint through the virtual reader: the service makes exactly the
// library call a host would make (same result text, same commands to the
// reader), converts it to UTF-8 and names its fields.
#include <cstring>
#include <functional>

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
    const char *body;
    std::function<DirectCall()> direct;
};

DirectCall direct(long code, const char *out, std::size_t size) {
    return {code, kestreld::bufferText(out, size)};
}

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
    };
    return cases;
}

class EndpointsTest : public ServiceTest {};

TEST_F(EndpointsTest, ReadsAreTheLibraryCallsAHostMakes) {
    for (const ReadCase &c : readCases()) {
        SCOPED_TRACE(c.path);
        takeTrace();
        DirectCall want = c.direct();
        std::vector<std::string> wantSent = takeTrace();
        HttpResponse r = post(c.path, c.body);
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

    json type = post("/v1/card-type").parsed();
    EXPECT_EQ(type["code"], 0);
    EXPECT_EQ(type["fields"], json::parse(R"({"category":3,"socialSecurityCard":true,"region":"430105","version":"2.00"})"));

    json status = get("/v1/status").parsed();
    EXPECT_EQ(status["code"], 0);
    EXPECT_EQ(status["fields"]["reader"], "connected");
    EXPECT_NE(status["fields"]["slots"]["contact"]["state"], "empty");
    EXPECT_EQ(status["fields"]["slots"]["psam2"]["state"], "empty");

    char info[64] = {};
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
    reader()->remove(0x01);
    reader()->remove(0x1B);
    for (const ReadCase &c : readCases()) {
        SCOPED_TRACE(c.path);
        DirectCall want = c.direct();
        ASSERT_LT(want.code, 0);
        json answer = post(c.path, c.body).parsed();
        EXPECT_EQ(answer["code"], want.code);
        EXPECT_EQ(answer["ok"], false);
        EXPECT_EQ(answer["text"], want.raw);
        EXPECT_EQ(answer["raw"], want.raw);
        EXPECT_TRUE(answer["fields"].is_null());
    }
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
