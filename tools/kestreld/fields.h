// Named fields of the library's result texts (the layouts that
// readertest's demonstration decodes).  Each decoder takes the UTF-8 text
// and returns an object, or null when the text has another layout.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

namespace kestreld {

// iReadCardBas: eleven fields, each ended by "|".
nlohmann::ordered_json decodeBasicInfo(const std::string &text);
// iReadIdentityCard: "|" then nine fields each ended by "|"; the empty
// text of the two other kinds of card gives {"kind": "other"}.
nlohmann::ordered_json decodeIdentityCard(const std::string &text);
// iReadSFZ: fields ended by "^", laid out by the kind of card.
nlohmann::ordered_json decodeIdentityCardAnyKind(const std::string &text);
// iReadBankNo: the account number.
nlohmann::ordered_json decodeBankNumber(const std::string &text);
// ICC_Reader_Libinfo: the library's information text.
nlohmann::ordered_json decodeLibraryInfo(const std::string &text);

}  // namespace kestreld
