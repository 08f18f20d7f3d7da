// SPDX-License-Identifier: MIT
#include "text.h"

#include <cerrno>
#include <cstring>
#include <iconv.h>

namespace kestreld {

namespace {

const char kReplacement[] = "\xEF\xBF\xBD";  // U+FFFD

// One converter each way per thread, opened on first use and closed when
// the thread ends; (iconv_t)-1 when the system has no GB18030 converter.
struct Converter {
    iconv_t cd;
    Converter(const char *to, const char *from) : cd(iconv_open(to, from)) {}
    ~Converter() {
        if (cd != reinterpret_cast<iconv_t>(-1)) iconv_close(cd);
    }
};

iconv_t converter() {
    thread_local Converter c("UTF-8", "GB18030");
    return c.cd;
}

iconv_t toGb18030() {
    thread_local Converter c("GB18030", "UTF-8");
    return c.cd;
}

}  // namespace

std::string gb18030ToUtf8(const char *bytes, std::size_t n) {
    std::string out;
    out.reserve(n + n / 2);
    iconv_t cd = converter();
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        // Without a converter only ASCII can be trusted.
        for (std::size_t i = 0; i < n; ++i) {
            unsigned char b = static_cast<unsigned char>(bytes[i]);
            if (b < 0x80)
                out.push_back(static_cast<char>(b));
            else
                out += kReplacement;
        }
        return out;
    }
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    char *in = const_cast<char *>(bytes);
    std::size_t inLeft = n;
    char chunk[256];  // room for many characters of at most 4 bytes each
    while (inLeft > 0) {
        char *o = chunk;
        std::size_t oLeft = sizeof chunk;
        std::size_t r = iconv(cd, &in, &inLeft, &o, &oLeft);
        out.append(chunk, static_cast<std::size_t>(o - chunk));
        if (r != static_cast<std::size_t>(-1) || errno == E2BIG) continue;
        // EILSEQ or EINVAL (a sequence cut short): skip one byte.
        out += kReplacement;
        ++in;
        --inLeft;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    }
    return out;
}

bool utf8ToGb18030(const std::string &utf8, std::string &gb18030) {
    gb18030.clear();
    iconv_t cd = toGb18030();
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    char *in = const_cast<char *>(utf8.data());
    std::size_t inLeft = utf8.size();
    char chunk[256];
    while (inLeft > 0) {
        char *o = chunk;
        std::size_t oLeft = sizeof chunk;
        std::size_t r = iconv(cd, &in, &inLeft, &o, &oLeft);
        gb18030.append(chunk, static_cast<std::size_t>(o - chunk));
        if (r == static_cast<std::size_t>(-1) && errno != E2BIG) return false;
    }
    return true;
}

std::string bufferText(const char *buffer, std::size_t size) {
    return gb18030ToUtf8(buffer, strnlen(buffer, size));
}

std::vector<std::string> splitFields(const std::string &text, char delimiter) {
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find(delimiter, start)) != std::string::npos; start = end + 1)
        fields.push_back(text.substr(start, end - start));
    if (start < text.size()) fields.push_back(text.substr(start));
    return fields;
}

}  // namespace kestreld
