// SPDX-License-Identifier: MIT
// Who gets in, with real HTTP requests: every refused request is answered
// with a 4xx and a message, never reaches the library (the reader sees
// nothing) and carries no CORS permission.
#include "endpoints.h"
#include "service_fixture.h"

namespace kestreldtest {
namespace {

class SecurityTest : public ServiceTest {};

struct Refused {
    const char *what;
    std::string request;  // "{host}" stands for 127.0.0.1:PORT, "{port}" for PORT
    int status;
    const char *message;  // a part of the message; empty: not checked
};

std::string fill(std::string text, const std::string &host, int port) {
    for (std::size_t at; (at = text.find("{host}")) != std::string::npos;) text.replace(at, 6, host);
    for (std::size_t at; (at = text.find("{port}")) != std::string::npos;) text.replace(at, 6, std::to_string(port));
    return text;
}

std::string postTo(const std::string &path, const std::string &headers, const std::string &body) {
    return "POST " + path + " HTTP/1.1\r\nHost: {host}\r\nConnection: close\r\n" + headers +
           "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}
const std::string kJson = "Content-Type: application/json\r\n";

const std::string kCard = R"("cardId":"430105D1560000050000000000000042","cardNumber":"K43000042")";
const std::string kAddr = R"(,"fileAddr":"SSSEEF05|07|$")";
std::string cardRead(const std::string &members) { return postTo("/v1/card/read", kJson, "{" + members + "}"); }
std::string cardWrite(const std::string &data) {
    return postTo("/v1/card/write", kJson, "{" + kCard + kAddr + R"(,"writeData":")" + data + "\"}");
}

std::string nested(int depth) {
    std::string open, close;
    for (int i = 0; i < depth; ++i) open += "{\"a\":", close += "}";
    return "{\"cardType\":1,\"x\":" + open + "1" + close + "}";
}

std::string manyValues(int n) {
    std::string list = "1";
    for (int i = 1; i < n; ++i) list += ",1";
    return "{\"a\":[" + list + "]}";
}

TEST_F(SecurityTest, RefusedBeforeAnyLibraryCall) {
    const std::string manyHeaders = [] {
        std::string h;
        for (int i = 0; i < 60; ++i) h += "X-Filler-" + std::to_string(i) + ": 1\r\n";
        return h;
    }();
    const std::vector<Refused> cases = {
        // Host: the loopback names with this port only.
        {"foreign Host", "GET /v1/status HTTP/1.1\r\nHost: evil.example:{port}\r\nConnection: close\r\n\r\n", 403, "Host"},
        {"rebound name without port", "GET /v1/status HTTP/1.1\r\nHost: evil.example\r\nConnection: close\r\n\r\n", 403, "Host"},
        {"loopback with another port", "GET /v1/status HTTP/1.1\r\nHost: 127.0.0.1:1\r\nConnection: close\r\n\r\n", 403, "Host"},
        {"no Host", "GET /v1/status HTTP/1.0\r\n\r\n", 403, "no Host"},
        {"two Hosts", "GET /v1/status HTTP/1.1\r\nHost: {host}\r\nHost: evil.example\r\nConnection: close\r\n\r\n", 403, "more than one Host"},
        {"forwarded host is not trusted",
         "GET /v1/status HTTP/1.1\r\nHost: evil.example\r\nX-Forwarded-Host: {host}\r\nConnection: close\r\n\r\n", 403, "Host"},
        // Origin: the allow-list only; never null.
        {"foreign Origin", postTo("/v1/basic-info", kJson + "Origin: https://evil.example\r\n", "{}"), 403, "not allowed"},
        {"Origin null", postTo("/v1/basic-info", kJson + "Origin: null\r\n", "{}"), 403, "not allowed"},
        {"allowed origin on another port", postTo("/v1/basic-info", kJson + "Origin: https://his.example:8443\r\n", "{}"), 403, "not allowed"},
        {"allowed origin over http", postTo("/v1/basic-info", kJson + "Origin: http://his.example\r\n", "{}"), 403, "not allowed"},
        {"two Origins", postTo("/v1/basic-info", kJson + "Origin: https://his.example\r\nOrigin: https://evil.example\r\n", "{}"), 403, "more than one Origin"},
        {"the service's own origin while no page is served",
         postTo("/v1/basic-info", kJson + "Origin: http://{host}\r\n", "{}"), 403, "not allowed"},
        {"cross-site browser request without Origin",
         "GET /v1/status HTTP/1.1\r\nHost: {host}\r\nSec-Fetch-Site: cross-site\r\nConnection: close\r\n\r\n", 403, "another site"},
        {"preflight from a foreign origin",
         "OPTIONS /v1/basic-info HTTP/1.1\r\nHost: {host}\r\nOrigin: https://evil.example\r\n"
         "Access-Control-Request-Method: POST\r\nAccess-Control-Request-Private-Network: true\r\nConnection: close\r\n\r\n", 403, "not allowed"},
        {"preflight without Origin", "OPTIONS /v1/basic-info HTTP/1.1\r\nHost: {host}\r\nConnection: close\r\n\r\n", 403, "without Origin"},
        // Size and shape.
        {"body over the bound", postTo("/v1/basic-info", kJson, std::string(5000, ' ')), 413, "larger than"},
        {"chunked body over the bound",
         "POST /v1/basic-info HTTP/1.1\r\nHost: {host}\r\nConnection: close\r\n" + kJson +
             "Transfer-Encoding: chunked\r\n\r\n1400\r\n" + std::string(0x1400, ' ') + "\r\n0\r\n\r\n", 413, "larger than"},
        {"too many header fields", postTo("/v1/basic-info", kJson + manyHeaders, "{}"), 431, "header fields"},
        {"malformed JSON", postTo("/v1/basic-info", kJson, "{\"cardType\":"), 400, "not valid JSON"},
        {"invalid UTF-8 in JSON", postTo("/v1/basic-info", kJson, "{\"cardType\":1,\"x\":\"\xC3\x28\"}"), 400, "not valid JSON"},
        {"JSON array", postTo("/v1/basic-info", kJson, "[1]"), 400, "JSON object"},
        {"JSON nested too deep", postTo("/v1/basic-info", kJson, nested(5)), 400, "nested deeper"},
        {"JSON with too many values", postTo("/v1/basic-info", kJson, manyValues(40)), 400, "more than"},
        {"JSON text too long", postTo("/v1/basic-info", kJson, "{\"x\":\"" + std::string(600, 'a') + "\"}"), 400, "longer than"},
        {"unknown field", postTo("/v1/basic-info", kJson, R"({"cardTyp":1})"), 400, "unknown field 'cardTyp'"},
        {"field of an endpoint that takes none", postTo("/v1/identity-card", kJson, R"({"cardType":1})"), 400, "unknown field"},
        {"card type as text", postTo("/v1/basic-info", kJson, R"({"cardType":"1"})"), 400, "cardType"},
        {"card type out of range", postTo("/v1/basic-info", kJson, R"({"cardType":5})"), 400, "cardType"},
        {"card type zero", postTo("/v1/bank-number", kJson, R"({"cardType":0})"), 400, "cardType"},
        {"card type not whole", postTo("/v1/basic-info", kJson, R"({"cardType":1.5})"), 400, "cardType"},
        {"card type beyond 64 bits", postTo("/v1/basic-info", kJson, R"({"cardType":18446744073709551617})"), 400, "cardType"},
        {"form post", postTo("/v1/basic-info", "Content-Type: text/plain\r\n", "{}"), 415, "application/json"},
        {"no content type", postTo("/v1/basic-info", "", "{}"), 415, "application/json"},
        {"GET of a card read", "GET /v1/basic-info HTTP/1.1\r\nHost: {host}\r\nConnection: close\r\n\r\n", 405, "takes POST"},
        {"unknown endpoint", "GET /v1/nothing HTTP/1.1\r\nHost: {host}\r\nConnection: close\r\n\r\n", 404, "no such endpoint"},
        {"path beside an endpoint", "GET /v1/status/../libinfo HTTP/1.1\r\nHost: {host}\r\nConnection: close\r\n\r\n", 404, ""},
        // The fields of the data items, the scanner and the writes.
        {"required field left out", cardRead(R"("authType":1,)" + kCard), 400, "field 'fileAddr' is required"},
        {"auth type left out", cardRead(kCard + R"(,"fileAddr":"SSSEEF05|07|$")"), 400, "field 'authType' is required"},
        {"auth type out of range", cardRead(R"("authType":3,)" + kCard + kAddr), 400, "authType"},
        {"card id too short", cardRead(R"("authType":1,"cardId":"430105D156000005000000000000004","cardNumber":"K43000042")" + kAddr), 400, "cardId"},
        {"card id in lower case", cardRead(R"("authType":1,"cardId":"430105d1560000050000000000000042","cardNumber":"K43000042")" + kAddr), 400, "cardId"},
        {"card id with a separator", cardRead(R"("authType":1,"cardId":"430105D156000005000000000000004|","cardNumber":"K43000042")" + kAddr), 400, "cardId"},
        {"card number too long", cardRead(R"("authType":1,"cardId":"430105D1560000050000000000000042","cardNumber":"K430000420")" + kAddr), 400, "cardNumber"},
        {"card number with a separator", cardRead(R"("authType":1,"cardId":"430105D1560000050000000000000042","cardNumber":"K43|00042")" + kAddr), 400, "cardNumber"},
        {"card number not ASCII", cardRead(R"("authType":1,"cardId":"430105D1560000050000000000000042","cardNumber":"张三")" + kAddr), 400, "cardNumber"},
        {"file addresses too long", cardRead(R"("authType":1,)" + kCard + R"(,"fileAddr":")" + std::string(257, 'A') + "\""), 400, "fileAddr"},
        {"file addresses with a sub-field separator", cardRead(R"("authType":1,)" + kCard + R"(,"fileAddr":"SSSEEF05|07^|$")"), 400, "fileAddr"},
        {"file addresses as a list", cardRead(R"("authType":1,)" + kCard + R"(,"fileAddr":["SSSEEF05|07|$"])"), 400, "fileAddr"},
        {"scan time beyond a byte", postTo("/v1/qrcode", kJson, R"({"seconds":256})"), 400, "seconds"},
        {"negative scan time", postTo("/v1/qrcode", kJson, R"({"seconds":-1})"), 400, "seconds"},
        {"write data with a control character", cardWrite(R"(DF01EF05|a\u0001|$)"), 400, "writeData"},
        {"empty write data", cardWrite(""), 400, "writeData"},
        {"write data over its bound", cardWrite(std::string(kestreld::kMaxWriteData + 1, 'A')), 400, "longer than"},
        {"write body over its bound", postTo("/v1/card/write", kJson, std::string(2 * kestreld::kMaxWriteData + 5000, ' ')), 413, "larger than"},
        {"debit without its date", postTo("/v1/debit", kJson, "{" + kCard + R"(,"amount1":"1.00","amount2":"0"})"), 400, "field 'dateTime' is required"},
        {"debit amount as a number", postTo("/v1/debit", kJson, "{" + kCard + R"(,"amount1":1,"amount2":"0","dateTime":"20240401103000"})"), 400, "amount1 must be"},
    };
    config.demo = false;
    config.enabled = kestreld::kWrite | kestreld::kDebit;
    start();
    for (const Refused &c : cases) {
        SCOPED_TRACE(c.what);
        takeTrace();
        HttpResponse r = raw(fill(c.request, host(), port));
        EXPECT_EQ(r.status, c.status) << r.body;
        EXPECT_FALSE(r.has("access-control-allow-origin"));
        EXPECT_FALSE(r.has("access-control-allow-private-network"));
        json answer = r.parsed();
        ASSERT_TRUE(answer.is_object()) << r.body;
        EXPECT_EQ(answer["error"], c.status);
        EXPECT_NE(answer["message"].get<std::string>().find(c.message), std::string::npos) << answer["message"];
        EXPECT_TRUE(takeTrace().empty());
    }
}

// A header section larger than the bound is refused by the HTTP layer
// itself, before any handler runs.
TEST_F(SecurityTest, OversizedHeaderSection) {
    start();
    HttpResponse r = raw(fill("GET /v1/status HTTP/1.1\r\nHost: {host}\r\nX-Big: " + std::string(20000, 'a') +
                                  "\r\nConnection: close\r\n\r\n", host(), port));
    EXPECT_GE(r.status, 400);
    EXPECT_LT(r.status, 500);
    EXPECT_TRUE(takeTrace().empty());
}

TEST_F(SecurityTest, LoopbackNamesAreAccepted) {
    start();
    for (const char *name : {"127.0.0.1", "localhost", "LOCALHOST", "[::1]"}) {
        SCOPED_TRACE(name);
        HttpResponse r = raw("GET /v1/libinfo HTTP/1.1\r\nHost: " + std::string(name) + ":" + std::to_string(port) +
                             "\r\nConnection: close\r\n\r\n");
        EXPECT_EQ(r.status, 200);
    }
}

TEST_F(SecurityTest, AllowedOriginGetsCorsForItselfOnly) {
    HttpResponse r = post("/v1/basic-info", "{}", "Origin: https://his.example\r\n");
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.header("access-control-allow-origin"), "https://his.example");
    EXPECT_EQ(r.header("vary"), "Origin");
    EXPECT_FALSE(r.has("access-control-allow-credentials"));

    // Preflight: the private-network permission only when asked for.
    const std::string preflight = "OPTIONS /v1/basic-info HTTP/1.1\r\nHost: " + host() +
                                  "\r\nOrigin: https://his.example\r\nAccess-Control-Request-Method: POST\r\n"
                                  "Access-Control-Request-Headers: content-type\r\nConnection: close\r\n";
    HttpResponse asked = raw(preflight + "Access-Control-Request-Private-Network: true\r\n\r\n");
    EXPECT_EQ(asked.status, 204);
    EXPECT_EQ(asked.header("access-control-allow-origin"), "https://his.example");
    EXPECT_EQ(asked.header("access-control-allow-private-network"), "true");
    EXPECT_NE(asked.header("access-control-allow-methods").find("POST"), std::string::npos);
    EXPECT_EQ(asked.header("access-control-allow-headers"), "Content-Type");
    HttpResponse plain = raw(preflight + "\r\n");
    EXPECT_EQ(plain.status, 204);
    EXPECT_FALSE(plain.has("access-control-allow-private-network"));
}

TEST_F(SecurityTest, DemonstrationPageAndItsOrigin) {
    HttpResponse page = get("/demo");
    EXPECT_EQ(page.status, 200);
    EXPECT_EQ(page.header("content-type"), "text/html; charset=utf-8");
    EXPECT_NE(page.header("content-security-policy").find("frame-ancestors 'none'"), std::string::npos);
    EXPECT_NE(page.body.find("<button id=\"read\""), std::string::npos);
    EXPECT_EQ(get("/demo/demo.js").header("content-type"), "text/javascript; charset=utf-8");
    EXPECT_EQ(get("/demo/missing.js").status, 404);
    // The page's own origin may call the service while the page is served.
    HttpResponse fromPage = post("/v1/bank-number", "{}", "Origin: http://" + host() + "\r\n");
    EXPECT_EQ(fromPage.status, 200);
    EXPECT_EQ(fromPage.header("access-control-allow-origin"), "http://" + host());
}

TEST_F(SecurityTest, NoPageWhenTheDemonstrationIsOff) {
    config.demo = false;
    EXPECT_EQ(get("/demo").status, 404);
}

// Operations that change the card: refused while not enabled, and every
// such request logged, with who asked.
TEST_F(SecurityTest, OperationsThatChangeTheCardAreOffByDefault) {
    struct Op {
        const char *path;
        const char *name;
        const char *enable;
    };
    const Op ops[] = {{"/v1/card/write", "card-write", "write"},
                      {"/v1/pin/change", "pin-change", "pin-change"},
                      {"/v1/debit", "debit", "debit"}};
    for (const Op &op : ops) {
        SCOPED_TRACE(op.path);
        HttpResponse r = post(op.path, "{}", "Origin: https://his.example\r\n");
        EXPECT_EQ(r.status, 403);
        EXPECT_NE(r.parsed()["message"].get<std::string>().find(std::string("enable '") + op.enable + "'"),
                  std::string::npos);
        EXPECT_NE(logText().find(std::string("refused ") + op.name + " (changes the card) from origin https://his.example: not enabled"),
                  std::string::npos);
    }
    EXPECT_TRUE(takeTrace().empty());
}

TEST_F(SecurityTest, EnabledOperationsThatChangeTheCardAreLogged) {
    config.enabled = kestreld::kWrite | kestreld::kPinChange | kestreld::kDebit;
    const std::string origin = "Origin: https://his.example\r\n";
    type("123456 654321 654321 654321");
    EXPECT_EQ(post("/v1/pin/change", "{}", origin).parsed()["code"], 0);
    EXPECT_EQ(post("/v1/debit", "{" + kCard + R"(,"amount1":"1.00","amount2":"0","dateTime":"20240401103000"})",
                   origin).parsed()["code"], 0);
    json write = post("/v1/card/write", "{" + kCard + R"(,"fileAddr":"DF01EF05|20|$","writeData":"DF01EF05|湖|$"})",
                      origin).parsed();
    EXPECT_EQ(write["code"], 0);
    for (const char *op : {"pin-change", "debit", "card-write"}) {
        SCOPED_TRACE(op);
        EXPECT_NE(logText().find(std::string("request: ") + op + " (changes the card) from origin https://his.example"),
                  std::string::npos);
        EXPECT_NE(logText().find(std::string("done: ") + op + " from origin https://his.example, code 0"),
                  std::string::npos);
    }
    // Who asked for what, never the card's data.
    EXPECT_EQ(logText().find("DF01EF05"), std::string::npos);
    EXPECT_EQ(logText().find(kCardNumber), std::string::npos);
}

}  // namespace
}  // namespace kestreldtest
