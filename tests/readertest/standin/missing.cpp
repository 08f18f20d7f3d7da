// Stand-ins for the functions readertest binds that the library does not
// have yet.  Each answers -13, "command not supported", without touching
// the reader; the library's own definitions take their place.
#include <cstring>

namespace {
// "（动态库）不支持该命令"
const char kNotSupported[] =
    "\xA3\xA8\xB6\xAF\xCC\xAC\xBF\xE2\xA3\xA9\xB2\xBB\xD6\xA7\xB3\xD6\xB8\xC3\xC3\xFC\xC1\xEE";
constexpr int kErrNotSupported = -13;
}  // namespace

extern "C" __attribute__((weak)) int iReadBankNo(int, char *out) {
    if (out) std::strcpy(out, kNotSupported);
    return kErrNotSupported;
}
