/* SPDX-License-Identifier: MIT */
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

// iReadCard: the result groups of the file-address list `fileAddr` (the
// request), each "<file address>|", its texts each ended by "|", and
// "$".  {"groups": [{"file", "items": [{"item", "text"[, "parts"]}]}]}:
// "item" is the address the request named for the text, or null when the
// texts do not pair with the request's addresses (a whole file, every
// record); "parts" are the sub-fields of a text of "^"-ended sub-fields
// (a composite item, a cyclic record).  Null when the groups do not
// match the request's.
nlohmann::ordered_json decodeDataItems(const std::string &text, const std::string &fileAddr);
// iGetDeviceInfo: "<identification>|<terminal number>|".
nlohmann::ordered_json decodeDeviceInfo(const std::string &text);
// ReadMagInfo: the tracks the head returned, each ended by "|".
nlohmann::ordered_json decodeStripe(const std::string &text);
// iDoDebit: "alg|00B5|AAAAAAAABBBBBBBB|32|terminal|serial|date-time|TAC|",
// the two amounts in fen as hexadecimal.
nlohmann::ordered_json decodeDebit(const std::string &text);
// iReadDebitRecord: one field per record, "serial^terminal^date-time^
// amount1^amount2^|": {"records": [{"serial", "terminalNumber",
// "dateTime", "amount1", "amount2"}]}, or null for another layout.
nlohmann::ordered_json decodeDebitRecords(const std::string &text);
// iDoDebit's line in the call log after a failure that may have come
// with a debited card ("iDoDebit, debit not confirmed: serial S, terminal
// serial T, TAC X"): {"serial", "terminalSerial", "tac"}, or null when
// the log holds no such line.
nlohmann::ordered_json decodeUnconfirmedDebit(const std::string &log);
// iGetQRCode: the code's bytes (GB18030 or anything else) as text, as
// upper-case hexadecimal and their count.
nlohmann::ordered_json decodeScannedCode(const std::string &bytes);

}  // namespace kestreld
