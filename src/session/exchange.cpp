// SPDX-License-Identifier: MIT
// One APDU exchange with the T=0 follow-ups: fetching a response that the
// card holds back (61xx) and repeating a command whose Le was wrong (6Cxx).
#include <cstring>

#include "reader/reader.h"
#include "session/session.h"

namespace {

// Sends cmd and leaves the response (data, SW1 SW2) in area.  Returns
// false when the exchange failed; otherwise sets *n to the response length
// and *sw to its status word.
bool exchange(long reader, unsigned char slot, unsigned int cmdLen, unsigned char *cmd,
              unsigned char *area, long *n, unsigned int *sw) {
    *n = ICC_Reader_Application(reader, slot, static_cast<long>(cmdLen), cmd, area);
    if (*n < 2 || *n > static_cast<long>(kT0ResponseArea)) return false;
    *sw = static_cast<unsigned int>(area[*n - 2]) << 8 | area[*n - 1];
    return true;
}

}  // namespace

unsigned int IccExchangeT0(long reader, unsigned char slot, unsigned int cmdLen, unsigned char *cmd,
                           unsigned int *rspLen, unsigned char *rsp, unsigned int rspCapacity,
                           unsigned int *commandSw) {
    if (commandSw) *commandSw = kSwExchangeFailed;
    if (!cmd || !rspLen || !rsp) return kSwExchangeFailed;
    unsigned char area[kT0ResponseArea];
    memset(area, 0, sizeof area);
    long n = 0;
    unsigned int sw = 0;

    if (!exchange(reader, slot, cmdLen, cmd, area, &n, &sw)) return kSwExchangeFailed;
    if (commandSw) *commandSw = sw;

    if ((sw >> 8) == 0x61) {
        unsigned char getResponse[5] = {0x00, 0xC0, 0x00, 0x00, static_cast<unsigned char>(sw)};
        if (!exchange(reader, slot, sizeof getResponse, getResponse, area, &n, &sw)) return kSwExchangeFailed;
    }

    // 6Cxx asks for the command again with Le = xx.  Only a five-byte
    // command ends in its Le there: in a shorter one the byte does not
    // exist, in a longer one it is Lc, and rewriting it would corrupt the
    // command.  Such commands get the 6Cxx back.
    if ((sw >> 8) == 0x6C && cmdLen == 5) {
        cmd[4] = static_cast<unsigned char>(sw);
        if (!exchange(reader, slot, cmdLen, cmd, area, &n, &sw)) return kSwExchangeFailed;
    }

    unsigned int len = static_cast<unsigned int>(n - 2);
    if (len > rspCapacity) return kSwExchangeFailed;
    memcpy(rsp, area, len);
    *rspLen = len;
    return sw;
}

unsigned int IccExchangeT0(long reader, unsigned char slot, unsigned int cmdLen, unsigned char *cmd,
                           unsigned int *rspLen, unsigned char *rsp, unsigned int rspCapacity) {
    return IccExchangeT0(reader, slot, cmdLen, cmd, rspLen, rsp, rspCapacity, nullptr);
}

unsigned int IccExchangeT0(long reader, unsigned char slot, unsigned int cmdLen, unsigned char *cmd,
                           unsigned int *rspLen, unsigned char *rsp) {
    return IccExchangeT0(reader, slot, cmdLen, cmd, rspLen, rsp, kT0ResponseArea - 2);
}
