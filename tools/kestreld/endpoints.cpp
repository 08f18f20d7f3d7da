// SPDX-License-Identifier: MIT
#include "endpoints.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <vector>

#include "config.h"
#include "fields.h"
#include "kestrel.h"
#include "text.h"

namespace kestreld {

namespace {

using json = nlohmann::ordered_json;

// The port every card-level call of the library uses.
const char kPort[] = "USB1";
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

// ICC_Reader_Libinfo writes its text without a NUL: a cleared buffer one
// byte larger than the text.
void libraryInfo(const Params &, CallResult &r) {
    char info[KESTREL_LIBINFO_SIZE + 1] = {};
    r.code = ICC_Reader_Libinfo(info);
    finish(r, info, KESTREL_LIBINFO_SIZE);
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
    char info[KESTREL_LIBINFO_SIZE + 1] = {};
    ICC_Reader_Libinfo(info);
    json fields = decodeLibraryInfo(bufferText(info, KESTREL_LIBINFO_SIZE));
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

// The answer of a scanner or stripe function: its bytes, copied without a
// NUL into the cleared buffer, run up to the last byte that is not NUL (a
// NUL that ends the answer itself cannot be told from the buffer's).
std::string answerBytes(const char *out, std::size_t size) {
    while (size > 0 && out[size - 1] == '\0') --size;
    return std::string(out, size);
}

void scanCode(const Params &p, CallResult &r) {
    char out[KESTREL_SCAN_ANSWER_SIZE] = {};
    r.code = iGetQRCode(p.seconds, out);
    if (r.code != 0) return finish(r, out, sizeof out);
    const std::string bytes = answerBytes(out, sizeof out);
    r.raw = gb18030ToUtf8(bytes.data(), bytes.size());
    r.fields = decodeScannedCode(bytes);
}

void readStripe(const Params &, CallResult &r) {
    char out[KESTREL_SCAN_ANSWER_SIZE] = {};
    r.code = ReadMagInfo(out);
    if (r.code != 0) return finish(r, out, sizeof out);
    const std::string bytes = answerBytes(out, sizeof out);
    r.raw = gb18030ToUtf8(bytes.data(), bytes.size());
}

void readDataItems(const Params &p, CallResult &r) {
    std::vector<char> out(KESTREL_READCARD_OUT_SIZE + 1, '\0');
    std::string cardInfo = p.cardInfo(), fileAddr = p.fileAddr;
    r.code = iReadCard(p.cardType, p.authType, &cardInfo[0], &fileAddr[0], out.data());
    finish(r, out.data(), KESTREL_READCARD_OUT_SIZE);
    if (r.code == 0) r.fields = decodeDataItems(r.raw, p.fileAddr);
}

void writeDataItems(const Params &p, CallResult &r) {
    char out[KESTREL_WRITECARD_OUT_SIZE + 1] = {};
    std::string cardInfo = p.cardInfo(), fileAddr = p.fileAddr, writeData = p.writeData;
    r.code = iWriteCard(p.cardType, &cardInfo[0], &fileAddr[0], &writeData[0], out);
    finish(r, out, KESTREL_WRITECARD_OUT_SIZE);
}

// iDoDebit.  A failure after the debit command may have left the card
// debited: the library then names the transaction in its call log, and
// the answer carries it as {"debitNotConfirmed": {...}} so that the host
// can look for it among the card's records.
void debit(const Params &p, CallResult &r) {
    char out[KESTREL_DEBIT_OUT_SIZE + 1] = {};
    std::string cardInfo = p.cardInfo(), payInfo = p.payInfo();
    r.code = iDoDebit(p.cardType, &cardInfo[0], &payInfo[0], out);
    finish(r, out, KESTREL_DEBIT_OUT_SIZE);
    if (r.code == 0) {
        // Names the transaction in the service log too, for a client that
        // went away before its answer came.
        json done = decodeDebit(r.raw);
        if (!done.is_null()) r.logNote = "terminal transaction serial " + done["terminalSerial"].get<std::string>();
        return;
    }
    json unconfirmed = decodeUnconfirmedDebit(bufferText(logbuf, sizeof logbuf));
    if (unconfirmed.is_null()) return;
    r.fields = json{{"debitNotConfirmed", unconfirmed}};
    r.logNote = "debit not confirmed, card transaction serial " + unconfirmed["serial"].get<std::string>();
}

json verified(const std::string &) { return json{{"verified", true}}; }
json changed(const std::string &) { return json{{"changed", true}}; }
json written(const std::string &) { return json{{"written", true}}; }

// Field rules.  Messages name the field and its rule, never its value.
bool integerIn(const json &v, long long lo, long long hi) {
    return v.is_number_integer() && v.get<long long>() >= lo && v.get<long long>() <= hi;
}

// A text of min to max characters, each one that `allowed` accepts.
bool asciiText(const json &v, std::size_t min, std::size_t max, bool (*allowed)(unsigned char)) {
    if (!v.is_string()) return false;
    const std::string &s = v.get_ref<const std::string &>();
    if (s.size() < min || s.size() > max) return false;
    for (unsigned char c : s)
        if (!allowed(c)) return false;
    return true;
}

bool upperHex(unsigned char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); }
// Printable ASCII but the field separator.
bool cardNumberChar(unsigned char c) { return c >= 0x20 && c < 0x7F && c != '|'; }
// Letters, digits and the separators of a file-address list.
bool fileAddrChar(unsigned char c) { return isalnum(c) || c == ':' || c == '|' || c == '$'; }

bool setCardType(const json &v, Params &p, std::string &error) {
    if (!integerIn(v, 1, 4)) {
        error = "cardType must be an integer from 1 to 4";
        return false;
    }
    p.cardType = static_cast<int>(v.get<long long>());
    return true;
}

bool setAuthType(const json &v, Params &p, std::string &error) {
    if (!integerIn(v, 1, 2)) return error = "authType must be 1 (the PIN) or 2 (the terminal's PSAM)", false;
    p.authType = static_cast<int>(v.get<long long>());
    return true;
}

bool setCardId(const json &v, Params &p, std::string &error) {
    if (!asciiText(v, kCardIdLength, kCardIdLength, upperHex))
        return error = "cardId must be the card identification code: 32 upper-case hexadecimal digits", false;
    p.cardId = v.get<std::string>();
    return true;
}

bool setCardNumber(const json &v, Params &p, std::string &error) {
    if (!asciiText(v, 1, kMaxCardNumber, cardNumberChar))
        return error = "cardNumber must be 1 to 9 printable ASCII characters other than '|'", false;
    p.cardNumber = v.get<std::string>();
    return true;
}

bool setFileAddr(const json &v, Params &p, std::string &error) {
    if (!asciiText(v, 1, kMaxFileAddr, fileAddrChar))
        return error = "fileAddr must be a file-address list of 1 to " + std::to_string(kMaxFileAddr) +
                       " letters, digits and ':', '|', '$'", false;
    p.fileAddr = v.get<std::string>();
    return true;
}

bool setWriteData(const json &v, Params &p, std::string &error) {
    error = "writeData must be a text of 1 to " + std::to_string(kMaxWriteData) +
            " bytes (in GB18030) without control characters";
    if (!v.is_string() || v.get_ref<const std::string &>().empty()) return false;
    for (unsigned char c : v.get_ref<const std::string &>())
        if (c < 0x20 || c == 0x7F) return false;
    // Text items are stored in GB18030.
    if (!utf8ToGb18030(v.get<std::string>(), p.writeData) || p.writeData.size() > kMaxWriteData) return false;
    error.clear();
    return true;
}

// An amount in yuan as the library takes it: digits with at most one "."
// and at most two decimals, at most 42949672.95 (4 bytes of fen).
bool moneyText(const json &v) {
    if (!v.is_string()) return false;
    const std::string &s = v.get_ref<const std::string &>();
    if (s.empty() || s.size() > kMaxAmount) return false;
    bool dot = false, digit = false;
    int decimals = 0;
    unsigned long long fen = 0;
    for (unsigned char c : s) {
        if (c == '.') {
            if (dot) return false;
            dot = true;
        } else if (c >= '0' && c <= '9') {
            if (dot && ++decimals > 2) return false;
            digit = true;
            fen = fen * 10 + (c - '0');  // at most 16 digits: no overflow
        } else {
            return false;
        }
    }
    for (; decimals < 2; ++decimals) fen *= 10;
    return digit && fen <= 0xFFFFFFFFULL;
}

bool setAmount(const json &v, std::string &amount, const char *name, std::string &error) {
    if (!moneyText(v))
        return error = std::string(name) + " must be an amount in yuan as text: digits with at most one '.' and two "
                                           "decimals, at most 42949672.95",
               false;
    amount = v.get<std::string>();
    return true;
}
bool setAmount1(const json &v, Params &p, std::string &error) { return setAmount(v, p.amount1, "amount1", error); }
bool setAmount2(const json &v, Params &p, std::string &error) { return setAmount(v, p.amount2, "amount2", error); }

bool decimalDigit(unsigned char c) { return c >= '0' && c <= '9'; }

bool setDateTime(const json &v, Params &p, std::string &error) {
    if (!asciiText(v, kDateTimeLength, kDateTimeLength, decimalDigit))
        return error = "dateTime must be the transaction's date and time as 14 digits, YYYYMMDDhhmmss", false;
    p.dateTime = v.get<std::string>();
    return true;
}

bool setSeconds(const json &v, Params &p, std::string &error) {
    if (!integerIn(v, 0, 255)) return error = "seconds must be an integer from 0 to 255", false;
    p.seconds = static_cast<int>(v.get<long long>());
    return true;
}

struct ParamRule {
    unsigned bit;
    const char *name;
    bool required;
    bool (*set)(const json &, Params &, std::string &);
};

const ParamRule kParamRules[] = {
    {kParamCardType, "cardType", false, setCardType},
    {kParamAuthType, "authType", true, setAuthType},
    {kParamCardInfo, "cardId", true, setCardId},
    {kParamCardInfo, "cardNumber", true, setCardNumber},
    {kParamFileAddr, "fileAddr", true, setFileAddr},
    {kParamWriteData, "writeData", true, setWriteData},
    {kParamSeconds, "seconds", false, setSeconds},
    {kParamPayInfo, "amount1", true, setAmount1},
    {kParamPayInfo, "amount2", true, setAmount2},
    {kParamPayInfo, "dateTime", true, setDateTime},
};

const char kKeypadPin[] = "the holder's PIN on the keypad";
const char kCardRead[] = "the holder's PIN on the keypad, for files that need it";

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
    {"/v1/card/read", "card-read", Method::kPost, kRead,
     kParamCardType | kParamAuthType | kParamCardInfo | kParamFileAddr, readDataItems, nullptr, kCardRead},
    {"/v1/pin/verify", "pin-verify", Method::kPost, kRead, kParamCardType,
     cardTypeCall<iVerifyPIN, KESTREL_PIN_OUT_SIZE>, verified, kKeypadPin},
    {"/v1/qrcode", "qrcode", Method::kPost, kRead, kParamSeconds, scanCode, nullptr, "a code at the scanner"},
    {"/v1/magstripe", "magstripe", Method::kPost, kRead, 0, readStripe, decodeStripe,
     "a card swiped through the stripe head"},
    {"/v1/device-info", "device-info", Method::kGet, kRead, 0,
     plainCall<iGetDeviceInfo, KESTREL_DEVICE_INFO_SIZE>, decodeDeviceInfo},
    {"/v1/debit/records", "debit-records", Method::kPost, kRead, kParamCardType,
     cardTypeCall<iReadDebitRecord, KESTREL_DEBIT_RECORDS_SIZE>, decodeDebitRecords, kKeypadPin},
    // Operations that change the card: refused unless enabled.
    {"/v1/card/write", "card-write", Method::kPost, kWrite,
     kParamCardType | kParamCardInfo | kParamFileAddr | kParamWriteData, writeDataItems, written, nullptr,
     2 * kMaxWriteData + 4096, kMaxWriteData},
    {"/v1/pin/change", "pin-change", Method::kPost, kPinChange, kParamCardType,
     cardTypeCall<iChangePIN, KESTREL_PIN_OUT_SIZE>, changed, "the holder's PINs on the keypad"},
    {"/v1/debit", "debit", Method::kPost, kDebit, kParamCardType | kParamCardInfo | kParamPayInfo, debit,
     decodeDebit, kKeypadPin},
    {nullptr, nullptr, Method::kGet, kRead, 0, nullptr, nullptr},
};

const Endpoint *findEndpoint(const std::string &path) {
    for (const Endpoint *e = kEndpoints; e->path; ++e)
        if (path == e->path) return e;
    return nullptr;
}

bool parseParams(const Endpoint &endpoint, const json &body, Params &params, std::string &error) {
    constexpr std::size_t kRules = sizeof kParamRules / sizeof kParamRules[0];
    bool given[kRules] = {};
    for (auto it = body.begin(); it != body.end(); ++it) {
        std::size_t rule = kRules;
        for (std::size_t i = 0; i < kRules; ++i)
            if ((endpoint.params & kParamRules[i].bit) && it.key() == kParamRules[i].name) rule = i;
        if (rule == kRules) {
            error = "unknown field '" + it.key() + "' for " + endpoint.name;
            return false;
        }
        if (!kParamRules[rule].set(it.value(), params, error)) return false;
        given[rule] = true;
    }
    for (std::size_t i = 0; i < kRules; ++i) {
        if ((endpoint.params & kParamRules[i].bit) && kParamRules[i].required && !given[i]) {
            error = std::string("field '") + kParamRules[i].name + "' is required for " + endpoint.name;
            return false;
        }
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
