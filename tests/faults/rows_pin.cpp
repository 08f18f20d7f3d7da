// SPDX-License-Identifier: MIT
// Rows of the PIN operations and the host's keypad entry.  Each call finds
// a fresh card (its PIN 123456 with every try left) and the holder's
// entries waiting on the keypad: a change or reload sets the same PIN
// again, so that every call meets the card the clean one met.
#include "fault_matrix.h"
#include "kestrel.h"

namespace faults {
namespace {

const char kCardInfo[] = "430105D1560000050000000000000042|K43000042|";

Outcome pinCall(const std::vector<std::string> &typed, long (*call)(int, char *)) {
    freshCards(typed);
    GuardedBuffer out(KESTREL_PIN_OUT_SIZE, 0);
    long rc = call(1, out.text());
    return Outcome{rc, {bytesOf(out)}};
}

Outcome pinCallNamingTheCard(const std::vector<std::string> &typed, long (*call)(int, char *, char *)) {
    freshCards(typed);
    std::string info = kCardInfo;
    GuardedBuffer out(KESTREL_PIN_OUT_SIZE, 0);
    long rc = call(1, &info[0], out.text());
    return Outcome{rc, {bytesOf(out)}};
}

const Row kRows[] = {
    {"iVerifyPIN", [] { return pinCall({"123456"}, iVerifyPIN); }, TextRule::PinTable, noOptionalStep},
    {"iChangePIN", [] { return pinCall({"123456", "123456", "123456"}, iChangePIN); }, TextRule::PinTable,
     noOptionalStep},
    {"iReloadPIN", [] { return pinCallNamingTheCard({"123456", "123456"}, iReloadPIN); }, TextRule::CardTable,
     firstPsamPowerOn},
    {"iUnblockPIN", [] { return pinCallNamingTheCard({}, iUnblockPIN); }, TextRule::CardTable, firstPsamPowerOn},
    {"iGetPassword",
     [] {
         freshCards({"abc123"});
         GuardedBuffer out(KESTREL_PASSWORD_SIZE, 0);
         long rc = iGetPassword(1, out.text());
         return Outcome{rc, {bytesOf(out)}};
     },
     TextRule::OwnText, noOptionalStep},
};

}  // namespace

FAULT_MATRIX_ROWS(Pin, kRows);

}  // namespace faults
