// SPDX-License-Identifier: MIT
// The identity-card module model: its frames, its refusals, and the text
// block of each kind of card.
#include <algorithm>

#include <gtest/gtest.h>

#include "cards/id_module.h"

using namespace vr;

namespace {

// The module's answer frame with the given result and data, inside 90 00.
std::string answer(uint8_t result, const Bytes &data = {}) {
    Bytes body(3 + data.size());
    body[2] = result;
    std::copy(data.begin(), data.end(), body.begin() + 3);
    return toHex(withStatus(idFrame(body), 0x9000));
}

std::string send(IdModule &m, const std::string &frame) { return toHex(m.transmit(hex(frame))); }

TEST(IdModule, FramesInTheirOrder) {
    IdModule m(demoResident());
    m.reset();
    EXPECT_EQ(toHex(idFrame(hex("20 01"))), "AA AA AA 96 69 00 03 20 01 22");
    EXPECT_EQ(send(m, "AA AA AA 96 69 00 03 30 01 32"), answer(0x41));  // nothing found yet
    EXPECT_EQ(send(m, "AA AA AA 96 69 00 03 20 02 21"), answer(0x81));  // nor selected
    EXPECT_EQ(send(m, "AA AA AA 96 69 00 03 12 FF EE"), answer(0x90));
    EXPECT_EQ(send(m, "AA AA AA 96 69 00 04 61 FF 78 E2"), answer(0x90));
    EXPECT_EQ(send(m, "AA AA AA 96 69 00 03 20 01 22"), answer(0x9F));
    EXPECT_EQ(send(m, "AA AA AA 96 69 00 03 20 02 21"), answer(0x90));
    Bytes text = idTextBlock(demoResident()), photo = idPhoto(demoResident());
    Bytes data = {0x01, 0x00, 0x04, 0x00};
    data.insert(data.end(), text.begin(), text.end());
    data.insert(data.end(), photo.begin(), photo.end());
    EXPECT_EQ(send(m, "AA AA AA 96 69 00 03 30 01 32"), answer(0x90, data));
    // The card leaves the field: it is no longer found.
    m.removeCard();
    EXPECT_EQ(send(m, "AA AA AA 96 69 00 03 20 01 22"), answer(0x80));
}

TEST(IdModule, MalformedFramesAreAnsweredWithTheirFault) {
    IdModule m(demoResident());
    EXPECT_EQ(send(m, "AA AA AA 96 69 00 03 20 01 23"), answer(0x10));  // checksum
    EXPECT_EQ(send(m, "AA AA AA 96 69 00 04 20 01 22"), answer(0x11));  // length
    EXPECT_EQ(send(m, "AA AA AA 96 69 00 02 20 01 23"), answer(0x11));
    EXPECT_EQ(send(m, "AA AA AA 96 69 00 03 40 01 42"), answer(0x21));  // command
    EXPECT_EQ(send(m, "00 A4 04 00 02 3F 00"), answer(0x21));            // not a frame
}

TEST(IdModule, TextBlockOfEachKind) {
    IdHolder h;
    h.name = "AB";
    h.sex = "1";
    h.ethnic = "01";
    h.validFrom = "20200115";
    Bytes b = idTextBlock(h);
    ASSERT_EQ(b.size(), 256u);
    EXPECT_EQ(toHex(Bytes(b.begin(), b.begin() + 6)), "41 00 42 00 20 00");
    EXPECT_EQ(toHex(Bytes(b.begin() + 30, b.begin() + 36)), "31 00 30 00 31 00");
    EXPECT_EQ(toHex(Bytes(b.begin() + 188, b.begin() + 190)), "32 00");
    EXPECT_EQ(toHex(Bytes(b.begin() + 248, b.end())), "20 00 20 00 20 00 20 00");

    h.kind = "J";
    h.passNumber = "H1";
    b = idTextBlock(h);
    EXPECT_EQ(toHex(Bytes(b.begin() + 32, b.begin() + 36)), "20 00 20 00");  // no ethnic group
    EXPECT_EQ(toHex(Bytes(b.begin() + 220, b.begin() + 224)), "48 00 31 00");
    EXPECT_EQ(toHex(Bytes(b.begin() + 248, b.begin() + 250)), "4A 00");

    h.kind = "I";
    h.latinName = "Z";
    h.name = "\xE4\xB8\x80";  // 一, U+4E00
    b = idTextBlock(h);
    EXPECT_EQ(toHex(Bytes(b.begin(), b.begin() + 2)), "5A 00");
    EXPECT_EQ(toHex(Bytes(b.begin() + 120, b.begin() + 122)), "31 00");
    EXPECT_EQ(toHex(Bytes(b.begin() + 158, b.begin() + 160)), "00 4E");
    EXPECT_EQ(toHex(Bytes(b.begin() + 248, b.begin() + 250)), "49 00");

    // Too long for its place: cut.
    h.kind = "";
    h.name = std::string(40, 'X');
    b = idTextBlock(h);
    EXPECT_EQ(b[28], 'X');
    EXPECT_EQ(b[30], '1');
}

}  // namespace
