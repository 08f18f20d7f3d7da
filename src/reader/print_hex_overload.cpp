// SPDX-License-Identifier: MIT
// printfHex is also exported as an overloadable function, with the same
// arguments as the plain one.  It lives in a file of its own because one
// translation unit cannot declare both, so it must not see kestrel.h.
namespace kestrel {
void printHexLine(const unsigned char *bytes, int count);
}

void printfHex(unsigned char *bytes, int count);
void printfHex(unsigned char *bytes, int count) { kestrel::printHexLine(bytes, count); }
