// SPDX-License-Identifier: MIT
// The pure parts of the service: configuration, the Host and Origin rules,
// the JSON bounds, the GB18030 conversion and the field decoders.
#include <cstdio>
#include <random>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "config.h"
#include "endpoints.h"
#include "fields.h"
#include "http_checks.h"
#include "text.h"

namespace kestreldtest {
namespace {

using kestreld::Config;

TEST(Origins, NormalisedOrRefused) {
    const struct {
        const char *in;
        const char *out;  // null: refused
    } cases[] = {
        {"https://his.example", "https://his.example"},
        {"HTTPS://HIS.Example/", "https://his.example"},
        {"https://his.example:443", "https://his.example"},
        {"http://his.example:80", "http://his.example"},
        {"http://his.example:8080", "http://his.example:8080"},
        {"http://[::1]:9000", "http://[::1]:9000"},
        {"http://127.0.0.1:0080", "http://127.0.0.1"},
        {"null", nullptr},
        {"NULL", nullptr},
        {"*", nullptr},
        {"https://*.his.example", nullptr},
        {"https://his.example/path", nullptr},
        {"https://his.example?x", nullptr},
        {"https://user@his.example", nullptr},
        {"file://his.example", nullptr},
        {"his.example", nullptr},
        {"https://", nullptr},
        {"https://his.example:", nullptr},
        {"https://his.example:65536", nullptr},
        {"https://his.example:x", nullptr},
        {"https://his_example", nullptr},
        {"https://[::1", nullptr},
        {"https://-his.example", nullptr},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.in);
        std::string origin, error;
        bool ok = kestreld::normaliseOrigin(c.in, origin, error);
        EXPECT_EQ(ok, c.out != nullptr);
        if (c.out) EXPECT_EQ(origin, c.out);
        else EXPECT_FALSE(error.empty());
    }
}

TEST(Hosts, OnlyTheLoopbackNamesWithThePort) {
    const struct {
        const char *host;
        int port;
        bool allowed;
    } cases[] = {
        {"127.0.0.1:7325", 7325, true},   {"localhost:7325", 7325, true}, {"LocalHost:7325", 7325, true},
        {"[::1]:7325", 7325, true},       {"127.0.0.1", 7325, false},     {"127.0.0.1:7326", 7325, false},
        {"127.0.0.2:7325", 7325, false},  {"evil.example:7325", 7325, false},
        {"localhost.evil.example:7325", 7325, false},                     {"127.0.0.1:7325 ", 7325, false},
        {"", 7325, false},                {"127.0.0.1", 80, true},        {"localhost:80", 80, true},
        {"[::1]", 80, true},
    };
    for (const auto &c : cases) EXPECT_EQ(kestreld::hostAllowed(c.host, c.port), c.allowed) << c.host;
}

TEST(Origins, AllowListAndTheDemonstrationPage) {
    Config config;
    config.allowedOrigins = {"https://his.example"};
    EXPECT_TRUE(kestreld::originAllowed("https://his.example", config, 7325));
    EXPECT_FALSE(kestreld::originAllowed("https://his.example/", config, 7325));
    EXPECT_FALSE(kestreld::originAllowed("https://HIS.example", config, 7325));
    EXPECT_FALSE(kestreld::originAllowed("null", config, 7325));
    EXPECT_TRUE(kestreld::originAllowed("http://127.0.0.1:7325", config, 7325));
    EXPECT_FALSE(kestreld::originAllowed("http://127.0.0.1:7326", config, 7325));
    config.demo = false;
    EXPECT_FALSE(kestreld::originAllowed("http://127.0.0.1:7325", config, 7325));
    // Default closed: no list, no browser origin.
    Config closed;
    closed.demo = false;
    EXPECT_FALSE(kestreld::originAllowed("https://his.example", closed, 7325));
    EXPECT_FALSE(kestreld::originAllowed("http://127.0.0.1:7325", closed, 7325));
}

TEST(Config, FileAndOptions) {
    const std::string path = ::testing::TempDir() + "kestreld-config-test.conf";
    auto load = [&](const std::string &text, Config &config, std::string &error) {
        FILE *f = fopen(path.c_str(), "w");
        fputs(text.c_str(), f);
        fclose(f);
        return kestreld::loadConfigFile(config, path, error);
    };
    Config config;
    std::string error;
    ASSERT_TRUE(load("# comment\n\nport = 8100\nallow-origin = https://a.example, https://B.example/\n"
                     "allow-origin = http://c.example:81\nenable = write debit\nlog-file = /tmp/k.log\n"
                     "queue-wait = 3\nqueue-length = 2\ndemo = no\n",
                     config, error))
        << error;
    EXPECT_EQ(config.port, 8100);
    EXPECT_EQ(config.allowedOrigins,
              (std::vector<std::string>{"https://a.example", "https://b.example", "http://c.example:81"}));
    EXPECT_EQ(config.enabled, kestreld::kWrite | kestreld::kDebit);
    EXPECT_EQ(config.logFile, "/tmp/k.log");
    EXPECT_EQ(config.queueWaitMs, 3000);
    EXPECT_EQ(config.queueLength, 2);
    EXPECT_FALSE(config.demo);

    const struct {
        const char *text;
        const char *error;
    } bad[] = {
        {"port = 70000\n", ":1: port"},
        {"\nport 80\n", ":2: expected key = value"},
        {"allow-origin = *\n", ":1: "},
        {"allow-origin = null\n", "never allowed"},
        {"enable = everything\n", "unknown operation 'everything'"},
        {"queue-wait = 0\n", "queue-wait"},
        {"demo = maybe\n", "demo"},
        {"prot = 1\n", "unknown key 'prot'"},
    };
    for (const auto &b : bad) {
        SCOPED_TRACE(b.text);
        Config c;
        EXPECT_FALSE(load(b.text, c, error));
        EXPECT_NE(error.find(b.error), std::string::npos) << error;
    }
    std::remove(path.c_str());
    Config c;
    EXPECT_FALSE(kestreld::loadConfigFile(c, path, error));
    EXPECT_NE(error.find("cannot be read"), std::string::npos);
}

TEST(Requests, ContentTypeAndJsonBounds) {
    for (const char *t : {"application/json", "application/json; charset=utf-8", "Application/JSON"})
        EXPECT_TRUE(kestreld::isJsonContentType(t)) << t;
    for (const char *t : {"text/plain", "application/jsonx", "", "multipart/form-data"})
        EXPECT_FALSE(kestreld::isJsonContentType(t)) << t;

    std::string error;
    EXPECT_TRUE(kestreld::jsonWithinLimits(R"({"cardType":1,"a":{"b":{"c":[1]}}})", error)) << error;
    for (const char *body : {R"({"a":{"b":{"c":{"d":{}}}}})", "[]", "1", "\"x\"", "{", "{} {}", "{\"a\":1,}"})
        EXPECT_FALSE(kestreld::jsonWithinLimits(body, error)) << body;
}

TEST(Text, Gb18030ToUtf8) {
    const struct {
        std::string in;
        std::string out;
    } cases[] = {
        {"abc|", "abc|"},
        {"\xD5\xC5\xC8\xFD", "张三"},
        {"\x81\x7C|", "亅|"},                      // "|" as a second byte stays inside its character
        {"\x95\x32\x82\x36", "\xF0\xA0\x80\x80"},  // four-byte sequence (U+20000)
        {"a\xFF" "b", "a\xEF\xBF\xBD" "b"},        // no sequence starts with FF
        {"a\xD5", "a\xEF\xBF\xBD"},                // cut short
        {std::string("a\0b", 3), std::string("a\0b", 3)},
    };
    for (const auto &c : cases) EXPECT_EQ(kestreld::gb18030ToUtf8(c.in.data(), c.in.size()), c.out);
    const char buffer[6] = {'a', 'b', 0, 'c', 'd', 'e'};
    EXPECT_EQ(kestreld::bufferText(buffer, sizeof buffer), "ab");
    EXPECT_EQ(kestreld::bufferText(buffer + 3, 3), "cde");
}

TEST(Fields, LayoutsOfTheResultTexts) {
    using nlohmann::ordered_json;
    // A name with "|" as the second byte of a character keeps its field.
    std::string name = kestreld::gb18030ToUtf8("\x81\x7C\xD5\xC5", 4);
    ordered_json basic = kestreld::decodeBasicInfo("430105|4301|K1|CID|" + name + "|ATR|2.00|20240301|20340301|000000000000|KVR1|");
    EXPECT_EQ(basic["name"], name);
    EXPECT_EQ(basic["deviceNumber"], "KVR1");
    EXPECT_EQ(kestreld::decodeBasicInfo("1|2|3|4|5|6|7|8|9|10|")["deviceNumber"], "");
    EXPECT_TRUE(kestreld::decodeBasicInfo("1|2|3|").is_null());

    EXPECT_EQ(kestreld::decodeIdentityCard(""), ordered_json::parse(R"({"kind":"other"})"));
    EXPECT_TRUE(kestreld::decodeIdentityCard("a|b|").is_null());
    EXPECT_EQ(kestreld::decodeIdentityCard("|N|S|E|B|A|I|F|T|P|")["authority"], "P");

    const struct {
        const char *text;
        const char *kind;  // null: no layout
        const char *name;
        const char *validTo;
    } sfz[] = {
        {"ID^N^^S^E^B^A^P^2020011520400115^", "resident", "N", "20400115"},
        {"ID^N^PASS^S^B^A^P^2020011520400115^^", "residence-permit", "N", "20400115"},
        {"NO^S^LATIN^CHN^N^2020011520400115^B^V^AUTH^I^", "permanent-residence", "N", "20400115"},
        {"ID^N^^S^E^B^A^P^20200115长期^", "resident", "N", "长期"},
        {"ID^N^", nullptr, nullptr, nullptr},
    };
    for (const auto &c : sfz) {
        SCOPED_TRACE(c.text);
        ordered_json f = kestreld::decodeIdentityCardAnyKind(c.text);
        if (!c.kind) {
            EXPECT_TRUE(f.is_null());
            continue;
        }
        EXPECT_EQ(f["kind"], c.kind);
        EXPECT_EQ(f["name"], c.name);
        EXPECT_EQ(f["validFrom"], "20200115");
        EXPECT_EQ(f["validTo"], c.validTo);
    }
}

TEST(Fields, DataItemsPairWithTheRequest) {
    using nlohmann::ordered_json;
    const struct {
        const char *text, *request;
        const char *expected;  // the groups as JSON; null: no layout
    } cases[] = {
        {"SSSEEF05|A|B|$DF02EF05|X^Y^|$", "SSSEEF05|01|07|$DF02EF05|43:1|$",
         R"([{"file":"SSSEEF05","items":[{"item":"01","text":"A"},{"item":"07","text":"B"}]},)"
         R"({"file":"DF02EF05","items":[{"item":"43:1","text":"X^Y^","parts":["X","Y"]}]}])"},
        // Every record of a cyclic file; a transparent file read whole for
        // two addresses; a value with "|" in it: texts without addresses.
        {"DF04EF08|r^|s^|$", "DF04EF08|$",
         R"([{"file":"DF04EF08","items":[{"item":null,"text":"r^","parts":["r"]},{"item":null,"text":"s^","parts":["s"]}]}])"},
        {"DF01EF16|AB|$", "DF01EF16|01|02|$", R"([{"file":"DF01EF16","items":[{"item":null,"text":"AB"}]}])"},
        {"SSSEEF05|a|b|$", "SSSEEF05|03|$", R"([{"file":"SSSEEF05","items":[{"item":null,"text":"a"},{"item":null,"text":"b"}]}])"},
        // Text after the request's last "$", and groups after the fifth, are
        // not read.
        {"SSSEEF05|A|$", "SSSEEF05|01|$DF01", R"([{"file":"SSSEEF05","items":[{"item":"01","text":"A"}]}])"},
        {"SSSEEF05|A|$", "SSSEEF05|01|$DF01EF05|20|$", nullptr},
        {"SSSEEF05|A|$", "SSSEEF06|01|$", nullptr},
        {"SSSEEF05|A|", "SSSEEF05|01|$", nullptr},
        {"SSSEEF05$", "SSSEEF05|01|$", nullptr},
        {"", "SSSEEF05|01|$", nullptr},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.text);
        ordered_json f = kestreld::decodeDataItems(c.text, c.request);
        if (!c.expected) EXPECT_TRUE(f.is_null()) << f;
        else EXPECT_EQ(f["groups"], ordered_json::parse(c.expected));
    }
    EXPECT_EQ(kestreld::decodeDataItems("A|$A|$A|$A|$A|$", "A|$A|$A|$A|$A|$B|$")["groups"].size(), 5u);

    EXPECT_EQ(kestreld::decodeDeviceInfo("KVR1|430105000007|"),
              ordered_json::parse(R"({"identification":"KVR1","terminalNumber":"430105000007"})"));
    EXPECT_EQ(kestreld::decodeDeviceInfo("||")["terminalNumber"], "");
    EXPECT_TRUE(kestreld::decodeDeviceInfo("KVR1|").is_null());
    EXPECT_EQ(kestreld::decodeStripe(";1=2?|;3?|")["tracks"], ordered_json::parse(R"([";1=2?",";3?"])"));
    EXPECT_TRUE(kestreld::decodeStripe(";1=2?").is_null());
}

TEST(Fields, DebitResultAndUnconfirmedDebit) {
    using nlohmann::ordered_json;
    ordered_json debit = kestreld::decodeDebit("02|00B5|000004D200000064|32|430105000007|00000009|20240131235959|1A2B3C4D|");
    EXPECT_EQ(debit["amount1Fen"], 1234);
    EXPECT_EQ(debit["amount2Fen"], 100);
    EXPECT_EQ(debit["terminalSerial"], "00000009");
    EXPECT_EQ(debit["tac"], "1A2B3C4D");
    for (const char *bad : {"02|00B5|000004D2|32|T|S|D|X|", "02|00B5|000004D20000006G|32|T|S|D|X|", "02|00B5|"})
        EXPECT_TRUE(kestreld::decodeDebit(bad).is_null()) << bad;

    const std::string error = "getErrorInf, code:-37634, error info MAC\r\n";
    EXPECT_EQ(kestreld::decodeUnconfirmedDebit(error + "iDoDebit, debit not confirmed: serial 002A, terminal serial "
                                                       "00000009, TAC 1A2B3C4D\r\n"),
              ordered_json::parse(R"({"serial":"002A","terminalSerial":"00000009","tac":"1A2B3C4D"})"));
    EXPECT_EQ(kestreld::decodeUnconfirmedDebit(error + "iDoDebit, debit not confirmed: serial 002A, terminal serial "
                                                       "00000009, TAC \r\n")["tac"], "");
    EXPECT_TRUE(kestreld::decodeUnconfirmedDebit(error).is_null());
    EXPECT_TRUE(kestreld::decodeUnconfirmedDebit("iDoDebit, debit not confirmed: serial 002A\r\n").is_null());

    ordered_json records = kestreld::decodeDebitRecords("0004^430105000007^20240401103000^12.50^^|0003^T^D^1.00^2.00^|");
    ASSERT_EQ(records["records"].size(), 2u);
    EXPECT_EQ(records["records"][0], ordered_json::parse(R"({"serial":"0004","terminalNumber":"430105000007",)"
                                                         R"("dateTime":"20240401103000","amount1":"12.50","amount2":""})"));
    for (const char *bad : {"", "0004^T^D^1^2^", "0004^T^D^1^|", "0004^T^D^1^2|", "0004^T^D^1^2^|x"})
        EXPECT_TRUE(kestreld::decodeDebitRecords(bad).is_null()) << bad;
}

// The debit's amounts and date pass only in the forms the library takes.
TEST(Requests, DebitAmountsAndDate) {
    const kestreld::Endpoint *debit = kestreld::findEndpoint("/v1/debit");
    ASSERT_NE(debit, nullptr);
    const struct {
        nlohmann::ordered_json amount;
        const char *dateTime;
        bool accepted;
    } cases[] = {
        {"12.34", "20240131235959", true},  {"0", "20240131235959", true},
        {"42949672.95", "20240131235959", true}, {"5.", "20240131235959", true},
        {"0000000000000001", "20240131235959", true},
        {"42949672.96", "20240131235959", false}, {"12.345", "20240131235959", false},
        {"1.2.3", "20240131235959", false},  {"-1", "20240131235959", false},
        {"1e3", "20240131235959", false},    {"", "20240131235959", false},
        {".", "20240131235959", false},      {"00000000000000001", "20240131235959", false},
        {12.5, "20240131235959", false},     {"12.50", "2024013123595", false},
        {"12.50", "2024013123595A", false},  {"12.50", "202401312359590", false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.amount.dump() + " " + c.dateTime);
        nlohmann::ordered_json body{{"cardId", "430105D1560000050000000000000042"}, {"cardNumber", "K43000042"},
                                    {"amount1", "1.00"}, {"amount2", c.amount}, {"dateTime", c.dateTime}};
        kestreld::Params params;
        std::string error;
        EXPECT_EQ(kestreld::parseParams(*debit, body, params, error), c.accepted) << error;
        if (c.accepted) {
            EXPECT_EQ(params.payInfo(), "1.00|" + c.amount.get<std::string>() + "|" + c.dateTime + "|");
        }
    }
}

TEST(Text, Utf8ToGb18030) {
    std::string gb;
    ASSERT_TRUE(kestreld::utf8ToGb18030("张三|A\xF0\xA0\x80\x80", gb));
    EXPECT_EQ(gb, "\xD5\xC5\xC8\xFD|A\x95\x32\x82\x36");
    EXPECT_EQ(kestreld::gb18030ToUtf8(gb.data(), gb.size()), "张三|A\xF0\xA0\x80\x80");
    EXPECT_FALSE(kestreld::utf8ToGb18030("a\xC3", gb));
}

// Result texts hold whatever a card or module wrote: random bytes through
// the conversion and every decoder give valid UTF-8 answers and never fail.
TEST(Fields, RandomTextsAreDecodedSafely) {
    std::mt19937 rng(20261208);
    const char alphabet[] = {'|', '^', '$', ' ', '1', 'a', '\x81', '\x7C', '\xD5', '\xC5', '\xFF', '\x30', '\x00'};
    for (int round = 0; round < 3000; ++round) {
        std::string bytes(rng() % 300, ' ');
        for (char &b : bytes) b = (rng() % 4) ? alphabet[rng() % sizeof alphabet] : static_cast<char>(rng());
        std::string text = kestreld::gb18030ToUtf8(bytes.data(), bytes.size());
        for (auto decode : {kestreld::decodeBasicInfo, kestreld::decodeIdentityCard,
                            kestreld::decodeIdentityCardAnyKind, kestreld::decodeBankNumber,
                            kestreld::decodeLibraryInfo, kestreld::decodeDeviceInfo, kestreld::decodeStripe,
                            kestreld::decodeScannedCode, kestreld::decodeDebit, kestreld::decodeDebitRecords,
                            kestreld::decodeUnconfirmedDebit}) {
            nlohmann::ordered_json f = decode(text);
            std::string dumped = f.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::strict);
            EXPECT_FALSE(dumped.empty());
        }
        // A result against a request of the same alphabet.
        const std::string request = kestreld::gb18030ToUtf8(bytes.data(), bytes.size() / 2);
        EXPECT_NO_THROW(kestreld::decodeDataItems(text, request).dump(-1, ' ', false,
                                                                     nlohmann::ordered_json::error_handler_t::strict));
        EXPECT_FALSE(kestreld::decodeScannedCode(bytes).dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::strict).empty());
    }
}

}  // namespace
}  // namespace kestreldtest
