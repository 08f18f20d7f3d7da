// SPDX-License-Identifier: MIT
// The local card service's parsers of untrusted bytes: the result texts
// that the library copied from a card or module (GB18030 to UTF-8, then
// every field decoder, the data items paired with their request) and
// request bodies (the JSON bounds check, then the JSON parse it guards).
// Every answer must be valid UTF-8 JSON, and a body that passes the check
// must parse to an object within the bounds.
#include <cstddef>
#include <cstdint>
#include <string>

#include <nlohmann/json.hpp>

#include "fields.h"
#include "http_checks.h"
#include "text.h"

namespace {

int depthOf(const nlohmann::json &j) {
    int deepest = 0;
    if (j.is_structured())
        for (const auto &child : j) deepest = std::max(deepest, depthOf(child));
    return j.is_structured() ? deepest + 1 : 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *in, size_t size) {
    if (size > 8192) return 0;
    const std::string bytes(reinterpret_cast<const char *>(in), size);

    const std::string text = kestreld::gb18030ToUtf8(bytes.data(), bytes.size());
    for (auto decode : {kestreld::decodeBasicInfo, kestreld::decodeIdentityCard, kestreld::decodeIdentityCardAnyKind,
                        kestreld::decodeBankNumber, kestreld::decodeLibraryInfo, kestreld::decodeDeviceInfo,
                        kestreld::decodeStripe, kestreld::decodeScannedCode, kestreld::decodeDebit,
                        kestreld::decodeDebitRecords, kestreld::decodeUnconfirmedDebit}) {
        // Throws (and so fails) on invalid UTF-8.
        decode(text).dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::strict);
    }
    // A data-item result against a request: the first line is the request.
    const std::size_t line = text.find('\n');
    if (line != std::string::npos)
        kestreld::decodeDataItems(text.substr(line + 1), text.substr(0, line))
            .dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::strict);
    kestreld::decodeScannedCode(bytes).dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::strict);

    std::string error;
    if (kestreld::jsonWithinLimits(bytes, error)) {
        nlohmann::json body = nlohmann::json::parse(bytes, nullptr, false);
        if (body.is_discarded() || !body.is_object() || depthOf(body) > kestreld::kMaxJsonDepth)
            __builtin_trap();
    } else if (error.empty()) {
        __builtin_trap();
    }
    return 0;
}
