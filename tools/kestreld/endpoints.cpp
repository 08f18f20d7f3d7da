#include "endpoints.h"

#include <cstdio>
#include <cstring>

#include "config.h"
#include "fields.h"
#include "kestrel.h"
#include "text.h"

namespace kestreld {

namespace {

using json = nlohmann::ordered_json;

// The port every card-level call of the library uses.
const char kPort[] = "USB1";
// ICC_Reader_Libinfo writes its text without a NUL: a cleared buffer
// larger than the text.
constexpr std::size_t kLibinfoSize = 64;
// iReadCardType's buffers: the card type text (6 bytes), the region text
// (6 bytes, no NUL) and the version or error text (100 bytes).
constexpr std::size_t kCardTypeSize = 6;
constexpr std::size_t kRegionSize = 6;
constexpr std::size_t kVersionOrErrorSize = 100;

void finish(CallResult &r, const char *out, std::size_t size) {
    r.raw = bufferText(out, size);
    // On failure the library writes the code's text instead of a result.
    if (r.code < 0) r.text = r.raw;
}

// Functions of the shape f(cardType, out) with an out buffer of Size bytes.
template <auto Fn, std::size_t Size>
void cardTypeCall(const Params &p, CallResult &r) {
    char out[Size + 1] = {};  // one NUL past what the library may write
    r.code = Fn(p.cardType, out);
    finish(r, out, Size);
}

// Functions of the shape f(out).
template <auto Fn, std::size_t Size>
void plainCall(const Params &, CallResult &r) {
    char out[Size + 1] = {};
    r.code = Fn(out);
    finish(r, out, Size);
}

void libraryInfo(const Params &, CallResult &r) {
    char info[kLibinfoSize] = {};
    r.code = ICC_Reader_Libinfo(info);
    finish(r, info, kLibinfoSize - 1);
}

// The state of one slot from ICC_Reader_GetStatus.
const char *slotState(long code) {
    switch (code) {
    case 0: return "powered";
    case -3: return "present";  // a card that is not powered
    case -2: return "empty";
    default: return "error";
    }
}

void readerStatus(const Params &, CallResult &r) {
    static const struct {
        const char *name;
        unsigned char slot;
    } kSlots[] = {{"contact", 0x01}, {"contactless", 0x02}, {"psam1", 0x11},
                  {"psam2", 0x12},   {"psam3", 0x13},       {"psam4", 0x14}};
    char info[kLibinfoSize] = {};
    ICC_Reader_Libinfo(info);
    json fields = decodeLibraryInfo(bufferText(info, kLibinfoSize - 1));
    long reader = ICC_Reader_Open(kPort);
    if (reader < 0) {
        r.code = reader;
        fields["reader"] = "not connected";
        r.fields = fields;
        return;
    }
    fields["reader"] = "connected";
    json slots = json::object();
    for (const auto &s : kSlots) {
        long code = ICC_Reader_GetStatus(reader, s.slot);
        slots[s.name] = json{{"state", slotState(code)}, {"code", code}};
    }
    fields["slots"] = slots;
    ICC_Reader_Close(reader);
    r.code = 0;
    r.fields = fields;
}

void cardTypeProbe(const Params &, CallResult &r) {
    char type[kCardTypeSize + 1] = {};
    char region[kRegionSize + 1] = {};
    char version[kVersionOrErrorSize + 1] = {};
    int rc = iReadCardType(type, region, version);
    r.code = rc;
    if (rc < 0) {
        finish(r, version, kVersionOrErrorSize);
        return;
    }
    const int category = static_cast<unsigned char>(type[1]);
    if (rc == 0) {
        // A social-security card: "0003", the region's 6 digits, the
        // version's 4 characters.
        std::string typeText = bufferText(type, kCardTypeSize);
        std::string regionText = bufferText(region, kRegionSize);
        std::string versionText = bufferText(version, 4);
        r.raw = typeText + "|" + regionText + "|" + versionText + "|";
        int textCategory = 0;
        if (typeText.size() == 4) textCategory = static_cast<int>(strtol(typeText.c_str() + 2, nullptr, 16));
        r.fields = json{{"category", textCategory}, {"socialSecurityCard", true},
                        {"region", regionText}, {"version", versionText}};
        return;
    }
    // Another card: the two bytes 00 and its category.
    char hex[5];
    snprintf(hex, sizeof hex, "%02X%02X", static_cast<unsigned char>(type[0]), static_cast<unsigned char>(category));
    r.raw = hex;
    r.fields = json{{"category", category}, {"socialSecurityCard", false}};
}

bool setCardType(const json &v, Params &p, std::string &error) {
    if (!v.is_number_integer() || v.get<long long>() < 1 || v.get<long long>() > 4) {
        error = "cardType must be an integer from 1 to 4";
        return false;
    }
    p.cardType = static_cast<int>(v.get<long long>());
    return true;
}

struct ParamRule {
    unsigned bit;
    const char *name;
    bool (*set)(const json &, Params &, std::string &);
};

const ParamRule kParamRules[] = {
    {kParamCardType, "cardType", setCardType},
};

}  // namespace

const Endpoint kEndpoints[] = {
    {"/v1/status", "status", Method::kGet, kRead, 0, readerStatus, nullptr},
    {"/v1/libinfo", "libinfo", Method::kGet, kRead, 0, libraryInfo, decodeLibraryInfo},
    {"/v1/basic-info", "basic-info", Method::kPost, kRead, kParamCardType,
     cardTypeCall<iReadCardBas, KESTREL_BASEINFO_SIZE>, decodeBasicInfo},
    {"/v1/identity-card", "identity-card", Method::kPost, kRead, 0,
     plainCall<iReadIdentityCard, KESTREL_ID_OUT_SIZE>, decodeIdentityCard},
    {"/v1/identity-card/any-kind", "identity-card-any-kind", Method::kPost, kRead, 0,
     plainCall<iReadSFZ, KESTREL_ID_OUT_SIZE>, decodeIdentityCardAnyKind},
    {"/v1/bank-number", "bank-number", Method::kPost, kRead, kParamCardType,
     cardTypeCall<iReadBankNo, KESTREL_BANKNO_SIZE>, decodeBankNumber},
    {"/v1/card-type", "card-type", Method::kPost, kRead, 0, cardTypeProbe, nullptr},
    // Operations that change the card: refused unless enabled, and not
    // offered by this build yet.
    {"/v1/card/write", "card-write", Method::kPost, kWrite, 0, nullptr, nullptr},
    {"/v1/pin/change", "pin-change", Method::kPost, kPinChange, 0, nullptr, nullptr},
    {"/v1/debit", "debit", Method::kPost, kDebit, 0, nullptr, nullptr},
    {nullptr, nullptr, Method::kGet, kRead, 0, nullptr, nullptr},
};

const Endpoint *findEndpoint(const std::string &path) {
    for (const Endpoint *e = kEndpoints; e->path; ++e)
        if (path == e->path) return e;
    return nullptr;
}

bool parseParams(const Endpoint &endpoint, const json &body, Params &params, std::string &error) {
    for (auto it = body.begin(); it != body.end(); ++it) {
        const ParamRule *rule = nullptr;
        for (const ParamRule &s : kParamRules)
            if ((endpoint.params & s.bit) && it.key() == s.name) rule = &s;
        if (!rule) {
            error = "unknown field '" + it.key() + "' for " + endpoint.name;
            return false;
        }
        if (!rule->set(it.value(), params, error)) return false;
    }
    return true;
}

CallResult runEndpoint(const Endpoint &endpoint, const Params &params) {
    CallResult r;
    endpoint.run(params, r);
    if (r.code == 0 && endpoint.decode) r.fields = endpoint.decode(r.raw);
    return r;
}

json resultJson(const Endpoint &endpoint, const CallResult &result) {
    return json{{"operation", endpoint.name}, {"code", result.code}, {"ok", result.code >= 0},
                {"text", result.text},        {"raw", result.raw},   {"fields", result.fields}};
}

}  // namespace kestreld
