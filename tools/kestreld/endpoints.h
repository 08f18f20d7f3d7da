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

namespace kestreld {

// Request fields, parsed and bounded before any library call.
struct Params {
    int cardType = 1;  // "cardType": 1 contact, 2 contactless, 3 and 4 either
};

enum ParamBits : unsigned {
    kParamCardType = 1,
};

// What one library call gave, in UTF-8.
struct CallResult {
    long code = 0;
    std::string text;       // the library's text for a failure code
    std::string raw;        // the result text as the library wrote it
    nlohmann::ordered_json fields;  // named fields; null when there are none
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
};

// The endpoint at `path`, or null.
const Endpoint *findEndpoint(const std::string &path);

// Every endpoint, ended by an entry with a null path.
extern const Endpoint kEndpoints[];

// Reads the request fields of `body` (a JSON object) that the endpoint
// takes.  An unknown field, a wrong type or a value out of range fails
// with a message.
bool parseParams(const Endpoint &endpoint, const nlohmann::ordered_json &body, Params &params, std::string &error);

// Runs the endpoint's library call and decodes its result.
CallResult runEndpoint(const Endpoint &endpoint, const Params &params);

// The answer: {"operation", "code", "ok", "text", "raw", "fields"}.
nlohmann::ordered_json resultJson(const Endpoint &endpoint, const CallResult &result);

}  // namespace kestreld
