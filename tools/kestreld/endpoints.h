/* SPDX-License-Identifier: MIT */
// The service's operations: one table entry per endpoint, naming the
// library call that runs it and the decoder of its result text.
//
// Adding an operation is one entry: its path, the class that gates it
// (kRead, or an enable name for operations that change the card), the
// request fields it takes, a runner (usually cardTypeCall or plainCall
// with the library function and its buffer size) and a field decoder.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

#include "kestrel.h"

namespace kestreld {

// Request fields, parsed and bounded before any library call.  Texts are
// in the library's encoding (GB18030) once parsed.
struct Params {
    int cardType = 1;        // "cardType": 1 contact, 2 contactless, 3 and 4 either
    int authType = 0;        // "authType": 1 the PIN, 2 the terminal's PSAM
    std::string cardId;      // "cardId": 32 upper-case hexadecimal digits
    std::string cardNumber;  // "cardNumber": 1 to 9 printable ASCII characters
    std::string fileAddr;    // "fileAddr": a file-address list ("SSSEEF05|07|$")
    std::string writeData;   // "writeData": the values, one group per address group
    int seconds = 8;         // "seconds": the time the scanner allows, 0 to 255
    std::string amount1;     // "amount1", "amount2": yuan, "12.50" (at most 42949672.95)
    std::string amount2;
    std::string dateTime;    // "dateTime": the transaction's YYYYMMDDhhmmss

    // The pay-info text of the library: "<amount1>|<amount2>|<dateTime>|".
    std::string payInfo() const { return amount1 + "|" + amount2 + "|" + dateTime + "|"; }

    // The card-info text of the library: "<cardId>|<cardNumber>|".
    std::string cardInfo() const { return cardId + "|" + cardNumber + "|"; }
};

enum ParamBits : unsigned {
    kParamCardType = 1,
    kParamAuthType = 2,
    kParamCardInfo = 4,  // cardId and cardNumber, both required
    kParamFileAddr = 8,
    kParamWriteData = 16,
    kParamSeconds = 32,
    kParamPayInfo = 64,  // amount1, amount2 and dateTime, all required
};

// Bounds of the text fields (characters; writeData in GB18030 bytes).
constexpr std::size_t kCardIdLength = 32;
constexpr std::size_t kMaxCardNumber = 9;
constexpr std::size_t kMaxFileAddr = 256;
constexpr std::size_t kMaxWriteData = 5 * KESTREL_ROW_SIZE;
// An amount's text ("42949672.95" and room for leading zeros).
constexpr std::size_t kMaxAmount = 16;
constexpr std::size_t kDateTimeLength = 14;

// What one library call gave, in UTF-8.
struct CallResult {
    long code = 0;
    std::string text;       // the library's text for a failure code
    std::string raw;        // the result text as the library wrote it
    nlohmann::ordered_json fields;  // named fields; null when there are none
    std::string logNote;    // added to the service log's line of an operation that changes the card
};

using Runner = void (*)(const Params &, CallResult &);
using Decoder = nlohmann::ordered_json (*)(const std::string &raw);

enum class Method { kGet, kPost };

struct Endpoint {
    const char *path;   // "/v1/..."
    const char *name;   // the operation's name in answers and in the log
    Method method;
    unsigned opClass;   // kRead, or the OperationClass whose enable name gates it
    unsigned params;    // ParamBits of the request fields it takes
    Runner run;         // null: not offered by this build
    Decoder decode;     // named fields of a successful result; may be null
    // What the operation waits for besides the card, such as a PIN typed
    // on the keypad: it holds the reader for a person's time.  Null: none.
    const char *waitsFor = nullptr;
    // Bounds of the body and of one text in it (0: kMaxBody and
    // kMaxJsonString); larger only where a field needs it.
    std::size_t maxBody = 0;
    std::size_t maxString = 0;
};

// The endpoint at `path`, or null.
const Endpoint *findEndpoint(const std::string &path);

// Every endpoint, ended by an entry with a null path.
extern const Endpoint kEndpoints[];

// Reads the request fields of `body` (a JSON object) that the endpoint
// takes.  An unknown field, a missing required one, a wrong type, a value
// out of range or a text too long or with characters outside its set
// fails with a message (which never repeats the value).
bool parseParams(const Endpoint &endpoint, const nlohmann::ordered_json &body, Params &params, std::string &error);

// Runs the endpoint's library call and decodes its result.
CallResult runEndpoint(const Endpoint &endpoint, const Params &params);

// The answer: {"operation", "code", "ok", "text", "raw", "fields"}.
nlohmann::ordered_json resultJson(const Endpoint &endpoint, const CallResult &result);

}  // namespace kestreld
