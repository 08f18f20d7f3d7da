// SPDX-License-Identifier: MIT
#include "fields.h"

#include <cstring>
#include <vector>

#include "text.h"

namespace kestreld {

namespace {

using json = nlohmann::ordered_json;

json named(const std::vector<std::string> &values, const std::vector<const char *> &names) {
    json fields = json::object();
    for (std::size_t i = 0; i < names.size() && i < values.size(); ++i)
        if (names[i]) fields[names[i]] = values[i];
    return fields;
}

// Bytes of the first n characters of a UTF-8 text.
std::size_t characterBytes(const std::string &text, std::size_t n) {
    std::size_t at = 0;
    for (; at < text.size() && n > 0; --n)
        do ++at;
        while (at < text.size() && (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80);
    return at;
}

// A validity period: the two 8-character dates run together (the second
// may be a word, such as "长期").
void splitValidity(json &fields, const std::string &validity) {
    std::size_t cut = characterBytes(validity, 8);
    fields["validFrom"] = validity.substr(0, cut);
    fields["validTo"] = validity.substr(cut);
}

// The fields of a request text as the library splits it: each ended by
// `delimiter`; text after the last one is no field.
std::vector<std::string> endedFields(const std::string &text, char delimiter) {
    std::size_t end = text.rfind(delimiter);
    return end == std::string::npos ? std::vector<std::string>{} : splitFields(text.substr(0, end + 1), delimiter);
}

}  // namespace

json decodeBasicInfo(const std::string &text) {
    std::vector<std::string> f = splitFields(text, '|');
    // A device number that starts with a NUL byte ends the text after the
    // tenth field.
    if (f.size() == 10) f.emplace_back();
    if (f.size() != 11) return nullptr;
    return named(f, {"region", "socialSecurityNumber", "cardNumber", "cardId", "name", "atr", "version",
                     "issueDate", "expiryDate", "terminalNumber", "deviceNumber"});
}

json decodeIdentityCard(const std::string &text) {
    if (text.empty()) return json{{"kind", "other"}};
    std::vector<std::string> f = splitFields(text, '|');
    if (f.size() != 10 || !f[0].empty()) return nullptr;
    json fields = named(f, {nullptr, "name", "sex", "ethnicGroup", "birthDate", "address", "idNumber",
                            "validFrom", "validTo", "authority"});
    fields["kind"] = "resident";
    return fields;
}

json decodeIdentityCardAnyKind(const std::string &text) {
    std::vector<std::string> f = splitFields(text, '^');
    json fields;
    if (f.size() == 10) {
        fields = named(f, {"cardNumber", "sex", "latinName", "nationality", "name", nullptr, "birthDate",
                           "cardVersion", "authorityCode", nullptr});
        splitValidity(fields, f[5]);
        fields["kind"] = "permanent-residence";
    } else if (f.size() == 9 && f[8].empty()) {
        // The residence permit's text ends with one more "^".
        fields = named(f, {"idNumber", "name", "passNumber", "sex", "birthDate", "address", "authority"});
        splitValidity(fields, f[7]);
        fields["kind"] = "residence-permit";
    } else if (f.size() == 9) {
        fields = named(f, {"idNumber", "name", nullptr, "sex", "ethnicGroup", "birthDate", "address", "authority"});
        splitValidity(fields, f[8]);
        fields["kind"] = "resident";
    } else {
        return nullptr;
    }
    return fields;
}

json decodeBankNumber(const std::string &text) { return json{{"accountNumber", text}}; }

json decodeLibraryInfo(const std::string &text) {
    std::size_t end = text.find_last_not_of(' ');
    return json{{"info", end == std::string::npos ? "" : text.substr(0, end + 1)}};
}

json decodeDataItems(const std::string &text, const std::string &fileAddr) {
    // The library reads at most 5 groups of at most 4 items each.
    constexpr std::size_t kGroups = 5, kItems = 4;
    std::vector<std::string> requested = endedFields(fileAddr, '$');
    std::vector<std::string> results = splitFields(text, '$');
    if (requested.size() > kGroups) requested.resize(kGroups);
    // Every group of a result ends with "$": nothing may follow the last.
    if (results.size() != requested.size() || (!text.empty() && text.back() != '$')) return nullptr;
    json groups = json::array();
    for (std::size_t g = 0; g < results.size(); ++g) {
        std::vector<std::string> addresses = endedFields(requested[g], '|');
        std::vector<std::string> texts = splitFields(results[g], '|');
        if (texts.empty() || addresses.empty() || texts[0] != addresses[0] || results[g].back() != '|')
            return nullptr;
        if (addresses.size() > kItems + 1) addresses.resize(kItems + 1);
        const bool paired = texts.size() == addresses.size();
        json items = json::array();
        for (std::size_t i = 1; i < texts.size(); ++i) {
            json item{{"item", paired ? json(addresses[i]) : json(nullptr)}, {"text", texts[i]}};
            if (!texts[i].empty() && texts[i].back() == '^') item["parts"] = splitFields(texts[i], '^');
            items.push_back(item);
        }
        groups.push_back(json{{"file", texts[0]}, {"items", items}});
    }
    return json{{"groups", groups}};
}

json decodeDeviceInfo(const std::string &text) {
    std::vector<std::string> f = splitFields(text, '|');
    if (f.size() != 2 || text.back() != '|') return nullptr;
    return named(f, {"identification", "terminalNumber"});
}

json decodeStripe(const std::string &text) {
    if (!text.empty() && text.back() != '|') return nullptr;
    return json{{"tracks", splitFields(text, '|')}};
}

json decodeDebit(const std::string &text) {
    std::vector<std::string> f = splitFields(text, '|');
    if (f.size() != 8 || text.back() != '|' || f[2].size() != 16 ||
        f[2].find_first_not_of("0123456789ABCDEF") != std::string::npos)
        return nullptr;
    json fields = named(f, {"algorithm", "keyAddress", nullptr, "transactionType", "terminalNumber",
                            "terminalSerial", "dateTime", "tac"});
    fields["amount1Fen"] = std::stoul(f[2].substr(0, 8), nullptr, 16);
    fields["amount2Fen"] = std::stoul(f[2].substr(8), nullptr, 16);
    return fields;
}

json decodeDebitRecords(const std::string &text) {
    if (text.empty() || text.back() != '|') return nullptr;
    json records = json::array();
    for (const std::string &record : splitFields(text, '|')) {
        std::vector<std::string> parts = splitFields(record, '^');
        if (parts.size() != 5 || record.back() != '^') return nullptr;
        records.push_back(named(parts, {"serial", "terminalNumber", "dateTime", "amount1", "amount2"}));
    }
    return json{{"records", records}};
}

json decodeUnconfirmedDebit(const std::string &log) {
    static const std::string kLine = "iDoDebit, debit not confirmed: ";
    const std::size_t at = log.find(kLine);
    if (at == std::string::npos) return nullptr;
    const std::size_t from = at + kLine.size();
    const std::size_t end = log.find("\r\n", from);
    // "serial S, terminal serial T, TAC X", X empty when the card's
    // answer did not arrive.
    std::vector<std::string> parts;
    std::string line = log.substr(from, end == std::string::npos ? std::string::npos : end - from) + ", ";
    for (std::size_t p = 0, next; (next = line.find(", ", p)) != std::string::npos; p = next + 2)
        parts.push_back(line.substr(p, next - p));
    const char *const prefixes[] = {"serial ", "terminal serial ", "TAC "};
    const char *const names[] = {"serial", "terminalSerial", "tac"};
    if (parts.size() != 3) return nullptr;
    json fields = json::object();
    for (std::size_t i = 0; i < parts.size(); ++i) {
        const std::size_t n = strlen(prefixes[i]);
        if (parts[i].compare(0, n, prefixes[i]) != 0) return nullptr;
        fields[names[i]] = parts[i].substr(n);
    }
    return fields;
}

json decodeScannedCode(const std::string &bytes) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string hex;
    hex.reserve(2 * bytes.size());
    for (unsigned char b : bytes) {
        hex.push_back(kHex[b >> 4]);
        hex.push_back(kHex[b & 0x0F]);
    }
    return json{{"text", gb18030ToUtf8(bytes.data(), bytes.size())}, {"hex", hex},
                {"length", bytes.size()}};
}

}  // namespace kestreld
