// SPDX-License-Identifier: MIT
// vreader-hsm: answers the library's requests to the host's security
// module in software, with the master keys of the virtual reader's cards.
//
//   vreader-hsm [options] REQUEST
//
// A host application under development runs against vreader and passes
// each Step 1 text to this program instead of to its module; the answer
// goes to the next step.  The keys and the card come from the same
// profile that vreader was given (the demonstration profile by default).
#include <getopt.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>

#include "profile.h"
#include "soft_hsm.h"

namespace {

const char kUsage[] =
    "Usage: vreader-hsm [OPTIONS] REQUEST\n"
    "Answers REQUEST, a text that a Step 1 (or the PIN Step 2) of the library's\n"
    "HSM-assisted operations wrote for the host's security module, as the module\n"
    "would: with the master keys of the virtual reader's profile, for its card.\n"
    "Prints the answer, to be passed to the next step, and a newline.\n"
    "REQUEST - reads the request from the first line of standard input.\n"
    "\n"
    "Options:\n"
    "  -p, --profile=FILE  the keys and card of this profile (the one given to\n"
    "                      vreader); default: the built-in demonstration profile\n"
    "      --atr=HEX       the card's answer to reset (at least its last 8 bytes)\n"
    "      --card-id=HEX   the card's identification code (16 bytes)\n"
    "                      (both replace the profile's card)\n"
    "      --serial=HEX    the terminal transaction serial of a debit answer (1 to\n"
    "                      4 bytes in hexadecimal; default 00000001)\n"
    "  -h, --help          show this text\n"
    "\n"
    "Requests: region|atr|alg|cardId|R2|R1|R4|R3|device|  (basic information,\n"
    "Step 1) -> expected|cryptogram|;  alg|address|part1|part2|  (challenge\n"
    "block) -> 32 hexadecimal digits;  alg|address|challenge|header|pin|  (PIN\n"
    "reload and unblock, Step 2) -> the whole command in hexadecimal;\n"
    "alg|017F|random|serial|amounts|32|terminal|date-time|  (debit, Step 1) ->\n"
    "terminal serial|date-time|MAC1|.\n"
    "Exit status: 0 answered, 1 the request cannot be answered (the reason on\n"
    "standard error), 2 wrong usage.\n"
    "Example: vreader-hsm '02|0090|1A2B3C4D5E6F7081|92A3B4C5D6E7F809|'\n";

bool hexOption(const char *text, const char *name, vr::Bytes *out) {
    std::string digits;
    for (const char *p = text; *p; p++) {
        if (*p == ' ') continue;
        if (!isxdigit(static_cast<unsigned char>(*p))) {
            fprintf(stderr, "vreader-hsm: --%s: not hexadecimal: %s\n", name, text);
            return false;
        }
        digits += *p;
    }
    if (digits.empty() || digits.size() % 2) {
        fprintf(stderr, "vreader-hsm: --%s: not whole bytes: %s\n", name, text);
        return false;
    }
    *out = vr::hex(digits);
    return true;
}

}  // namespace

int main(int argc, char **argv) {
    const char *profileFile = nullptr;
    vr::Bytes atr, cardId, serial;
    static const option kOptions[] = {
        {"profile", required_argument, nullptr, 'p'}, {"atr", required_argument, nullptr, 'a'},
        {"card-id", required_argument, nullptr, 'c'}, {"serial", required_argument, nullptr, 's'},
        {"help", no_argument, nullptr, 'h'},
        {nullptr, 0, nullptr, 0},
    };
    int c;
    while ((c = getopt_long(argc, argv, "hp:", kOptions, nullptr)) != -1) {
        switch (c) {
        case 'p': profileFile = optarg; break;
        case 'a':
            if (!hexOption(optarg, "atr", &atr)) return 2;
            break;
        case 'c':
            if (!hexOption(optarg, "card-id", &cardId)) return 2;
            break;
        case 's':
            if (!hexOption(optarg, "serial", &serial)) return 2;
            if (serial.size() > 4) {
                fprintf(stderr, "vreader-hsm: --serial: more than 4 bytes: %s\n", optarg);
                return 2;
            }
            break;
        case 'h': fputs(kUsage, stdout); return 0;
        default: fputs(kUsage, stderr); return 2;
        }
    }
    if (optind + 1 != argc) {
        fputs("vreader-hsm: give exactly one request\n", stderr);
        fputs(kUsage, stderr);
        return 2;
    }
    if (atr.empty() != cardId.empty() || (!atr.empty() && (atr.size() < 8 || cardId.size() != 16))) {
        fputs("vreader-hsm: --atr (8 bytes or more) and --card-id (16 bytes) go together\n", stderr);
        return 2;
    }

    vr::Profile profile = vr::demoProfile();
    if (profileFile) {
        std::string error;
        profile = vr::Profile();
        if (!vr::loadProfile(profileFile, &profile, &error)) {
            fprintf(stderr, "vreader-hsm: %s\n", error.c_str());
            return 2;
        }
    }
    vr::SoftHsm hsm = vr::softHsmFor(profile);
    if (!atr.empty()) hsm.setCard(atr, cardId);
    if (!serial.empty()) {
        uint32_t n = 0;
        for (uint8_t b : serial) n = n << 8 | b;
        hsm.setTerminalSerial(n);
    }

    std::string request = argv[optind];
    if (request == "-" && !std::getline(std::cin, request)) {
        fputs("vreader-hsm: no request on standard input\n", stderr);
        return 2;
    }
    std::string reply, error;
    if (!hsm.answer(request, &reply, &error)) {
        fprintf(stderr, "vreader-hsm: %s\n", error.c_str());
        return 1;
    }
    printf("%s\n", reply.c_str());
    return 0;
}
