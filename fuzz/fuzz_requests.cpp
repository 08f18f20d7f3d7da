// SPDX-License-Identifier: MIT
// Checks and splitters of request texts from the host: file-address lists,
// write data, amounts and pay info, the "|", "$" and "^" splitters, the
// directory lookups by address, and the money and hexadecimal conversions
// of text.  Input: card version selector, then the text; for the
// write-data check the text is split at its first NUL into address list
// and data.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "datamodel/datamodel.h"

namespace {
const int kVersions[] = {-1, 1, 2, 3};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *in, size_t size) {
    if (size < 1) return 0;
    const int ver = kVersions[in[0] % 4];
    std::string raw(reinterpret_cast<const char *>(in + 1), size - 1);
    std::string text = raw.c_str();
    std::string second = text.size() < raw.size() ? std::string(raw.c_str() + text.size() + 1) : "";

    int rc = checkfileaddr(text.data(), ver);
    if (rc != 0 && rc != -23 && rc != -25) __builtin_trap();
    rc = checkEFFile(text.data(), ver);
    if (rc != 0 && rc != -23 && rc != -25) __builtin_trap();
    rc = checkWriteData(text.data(), second.data());
    if (rc != 0 && rc != -14) __builtin_trap();
    long lr = checkdouble(text.data());
    if (lr != 0 && lr != -14) __builtin_trap();
    lr = checkPayInfo(text.data());
    if (lr != 0 && lr != -14) __builtin_trap();

    std::unique_ptr<char[][KESTREL_ROW_SIZE]> rows(new char[5][KESTREL_ROW_SIZE]);
    if (unsigned(unpackFromReceive(text.data(), rows.get(), 5)) > 5) __builtin_trap();
    if (unsigned(splitWithDollar(text.c_str(), rows[0], 5)) > 5) __builtin_trap();
    if (unsigned(splitWithShift6(text.c_str(), rows[0], 5)) > 5) __builtin_trap();
    (void)findDollar(text.c_str());
    (void)findcharNum(text.c_str(), '|');

    // Lookups take the text as file address and the second part as item.
    int dataType, length;
    (void)findDataType(text.c_str(), second.c_str(), ver, &dataType, &length);
    const FileTableEntry *found[KESTREL_MAX_CHILDREN];
    if (unsigned(findChildRR(text.c_str(), found)) > KESTREL_MAX_CHILDREN) __builtin_trap();

    // Text conversions, checked and unchecked.
    std::unique_ptr<char[]> bin(new char[text.size() / 2 + 1]);
    CHexToBin(bin.get(), text.c_str(), unsigned(text.size()));
    unsigned char money[4];
    if (checkMoneyFormat(text.data()) == 1) {
        char back[16];
        ascToMoneycn(reinterpret_cast<char *>(money), text.data());
        moneycnToAsc(back, reinterpret_cast<char *>(money));
        ascToMoneyb(reinterpret_cast<char *>(money), text.data());
        moneybToAsc(back, reinterpret_cast<char *>(money));
    } else {
        ascToMoneycn(reinterpret_cast<char *>(money), text.data());
        ascToMoneyb(reinterpret_cast<char *>(money), text.data());
    }
    (void)checkHexNumber(text.c_str());
    (void)checkDigitalNumber(text.c_str());
    return 0;
}
