// SPDX-License-Identifier: MIT
// The user card's part of a session: the card-type check, the search for
// the card on the slots that the card type names, the card category probe,
// and closing the reader at the end.
#include <cstring>

#include "reader/reader.h"
#include "session/session.h"

namespace {

constexpr unsigned char kContactSlot = 0x01;
constexpr unsigned char kContactlessSlot = 0x02;

// First byte of what the reader reports for the card in the contactless
// field: 0x50 is no card the library can use; 0x04 and 0x02 are memory
// cards, which are of the wrong type.
constexpr unsigned char kFieldUnusable = 0x50;
constexpr unsigned char kFieldMemoryCardA = 0x04;
constexpr unsigned char kFieldMemoryCardB = 0x02;

constexpr int kAnswerBufferSize = 64;

long powerOn(long reader, unsigned char slot, unsigned char *answer) {
    cardSlot = slot;
    return ICC_Reader_PowerOn(reader, slot, reinterpret_cast<char *>(answer));
}

// Result of powering the contact slot: any answer to reset, even an empty
// one, is a card.
long contactResult(long r) { return r >= 0 ? 0 : r; }

struct CategoryEntry {
    unsigned char answer;
    unsigned char category;
};

// The probe's answer byte and the category it stands for; any other answer
// is category 9.  Category 3 is the social-security card.
const CategoryEntry kCategories[] = {
    {0x00, 3},
    {0x09, 1},
    {0x0A, 2},
    {0x12, 7},
};
constexpr unsigned char kOtherCategory = 9;
constexpr int kCategoryBufferSize = 50;

}  // namespace

long checkCardType(int type) { return (type >= 1 && type <= 4) ? 0 : kErrArgument; }

long findAndOpenCard(long reader, int type) {
    unsigned char answer[kAnswerBufferSize];
    memset(answer, 0, sizeof answer);
    long r;
    switch (type) {
    case 1:
        return contactResult(powerOn(reader, kContactSlot, answer));
    case 2:
        r = powerOn(reader, kContactlessSlot, answer);
        if (r <= 0 || answer[0] == kFieldUnusable) return kErrNoCard;
        if (answer[0] == kFieldMemoryCardA || answer[0] == kFieldMemoryCardB) return kErrWrongCardType;
        return 0;
    case 3:
        if (powerOn(reader, kContactSlot, answer) > 0) return 0;
        r = powerOn(reader, kContactlessSlot, answer);
        if (r <= 0 || answer[0] == kFieldUnusable) return kErrNoCard;
        return 0;
    case 4:
        // Contactless first; when the field holds no usable card, the
        // contact slot is tried as well.
        r = powerOn(reader, kContactlessSlot, answer);
        if (r > 0 && answer[0] != kFieldUnusable) return 0;
        return contactResult(powerOn(reader, kContactSlot, answer));
    default:
        return kErrNoCard;
    }
}

long ReadCardType(long reader, unsigned char slot, unsigned char *category) {
    if (slot != kContactSlot) return slot;
    if (!category) return kErrArgument;
    memset(category, 0, kCategoryBufferSize);
    unsigned char probe[5] = {0x80, 0x17, 0x00, 0x59, 0x01};
    unsigned char rsp[kT0ResponseArea];
    unsigned int len = 0;
    unsigned int sw = IccExchangeT0(reader, slot, sizeof probe, probe, &len, rsp, sizeof rsp);
    // An answer without its category byte tells nothing about the card.
    if (sw != 0x9000 || len == 0) return kErrReader;
    category[0] = kOtherCategory;
    for (const CategoryEntry &e : kCategories)
        if (e.answer == rsp[0]) category[0] = e.category;
    return static_cast<long>(len);
}

void closeReader(long reader) {
    ICC_Reader_Close(reader);
    mHreader = -11;
    m_pin_verified = 0;
}
