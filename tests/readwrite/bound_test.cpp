// SPDX-License-Identifier: MIT
// The size of iReadCard's result: the largest group that the directory
// allows, a request that fills the documented buffer to its last byte,
// and cards whose answers are longer than their items or random.
#include <random>

#include "datamodel/datamodel.h"
#include "rw_fixture.h"

namespace rwtest {
namespace {

using namespace sectest;

// The most characters a value of `length` bytes of a data type becomes: 2
// per byte (composite values, whose children take 2 bytes of header each,
// stay within that too), the bytes themselves for text, 11 for an amount.
size_t textBound(unsigned dataType, unsigned length) {
    if (dataType == 1) return length;
    if (dataType == 16 || dataType == 17) return 11;
    return 2 * static_cast<size_t>(length);
}

size_t largestGroup(const FileTableEntry *table, int count) {
    size_t largest = 0;
    for (int i = 0; i < count; i++) {
        const FileTableEntry &e = table[i];
        size_t fields;
        if (e.fileType == 0) {
            fields = textBound(e.dataType, e.length) + 1;
        } else if (e.fileType == 3) {
            const FileTableEntry *layout[KESTREL_MAX_CHILDREN];
            size_t record = 0;
            const std::string file = std::string(e.dfName) + e.efName;
            for (int f = 0, n = findChildRR(file.c_str(), layout); f < n; f++)
                record += textBound(layout[f]->dataType, layout[f]->length) + 1;
            fields = 30 * (record + 1);
        } else {
            fields = 4 * (textBound(e.dataType, e.length) + 1);
        }
        largest = std::max(largest, 8 + 1 + fields);
    }
    return largest;
}

TEST(ReadBound, LargestGroupOfEachVersion) {
    EXPECT_EQ(largestGroup(fileTableV1, 93), 2949u);
    EXPECT_EQ(largestGroup(fileTableV2, 128), 8202u);
    EXPECT_EQ(largestGroup(fileTableV3, 128), 16394u);
    EXPECT_EQ(largestGroup(fileTableV3, 128), static_cast<size_t>(KESTREL_READCARD_GROUP_SIZE));
}

// The card of a slot, with the answers to some commands changed.
class Altered : public vr::Card {
public:
    using Change = std::function<void(const Bytes &command, Bytes &answer)>;
    Altered(std::shared_ptr<vr::Card> inner, Change change) : inner_(std::move(inner)), change_(std::move(change)) {}
    Bytes reset() override { return inner_->reset(); }
    void powerOff() override { inner_->powerOff(); }
    Bytes transmit(const Bytes &command) override {
        Bytes answer = inner_->transmit(command);
        change_(command, answer);
        return answer;
    }

private:
    std::shared_ptr<vr::Card> inner_;
    Change change_;
};

using Bound = ReadWriteTest;

TEST_F(Bound, FiveLargestGroupsFillTheBufferExactly) {
    useVersion(3);
    ASSERT_TRUE(card->setContent(0, 0xEF08, Bytes(8192, 0xFF)));
    Result r = read("SSSEEF08|$SSSEEF08|$SSSEEF08|$SSSEEF08|$SSSEEF08|$");
    ASSERT_EQ(r.rc, 0) << r.text.substr(0, 200);
    EXPECT_EQ(r.text.size(), static_cast<size_t>(KESTREL_READCARD_OUT_SIZE - 1));
    std::string group = "SSSEEF08|" + std::string(16384, 'F') + "|$";
    EXPECT_EQ(r.text, group + group + group + group + group);
}

TEST_F(Bound, AnswersLongerThanTheItemsAreReadToTheItems) {
    ASSERT_TRUE(card->addCyclicRecord(0xDF04, 0xEF08, Bytes(28, 0x11)));
    ASSERT_TRUE(card->setContent(0xDF01, 0xEF16, Bytes(296, 0x22)));
    const std::string request = "SSSEEF05|07|01|$DF02EF05|43:1|$DF04EF08|$DF01EF16|$";
    type({"123456", "123456"});
    Result plain = read(request, 2);
    ASSERT_EQ(plain.rc, 0) << plain.text;
    // Every record and chunk answered with 1000 bytes, "Z" after the data.
    reader()->insert(0x01, std::make_shared<Altered>(card, [](const Bytes &c, Bytes &a) {
        if ((c[1] == 0xB0 || c[1] == 0xB2) && a.size() > 2 && vr::statusWord(a) == 0x9000)
            a.insert(a.end() - 2, 1000 - (a.size() - 2), 'Z');
    }));
    Result padded = read(request, 2);
    ASSERT_EQ(padded.rc, 0) << padded.text;
    EXPECT_EQ(padded.text, plain.text);
    EXPECT_EQ(padded.text.find('Z'), std::string::npos);
}

TEST_F(Bound, RandomAnswersNeverOverrunTheBuffer) {
    ASSERT_TRUE(card->addCyclicRecord(0xDF04, 0xEF08, Bytes(28, 0x11)));
    std::mt19937 rng(20240131);
    // The item reads (not the card's identification) get random answers:
    // lengths up to 600 bytes, random bytes, mostly 90 00.
    reader()->insert(0x01, std::make_shared<Altered>(card, [&rng](const Bytes &c, Bytes &a) {
        bool item = c.size() == 5 && (c[1] == 0xB0 || (c[1] == 0xB2 && (c[3] == 0x02 || c[4] == 0x1C)));
        if (!item || vr::statusWord(a) >> 8 == 0x6C) return;
        a.assign(rng() % 601, 0);
        for (auto &b : a) b = static_cast<uint8_t>(rng());
        uint16_t sw = rng() % 16 ? 0x9000 : static_cast<uint16_t>(rng());
        a.push_back(static_cast<uint8_t>(sw >> 8));
        a.push_back(static_cast<uint8_t>(sw));
    }));
    for (int round = 0; round < 12; round++) {
        SCOPED_TRACE(round);
        type({"123456"});
        Result r = read("SSSEEF05|07|$DF02EF05|43:2|44:1|$DF04EF08|$DF01EF16|$DF01EF07|29|$", 2);
        EXPECT_LE(r.rc, 0);
        if (r.rc == 0) {
            EXPECT_EQ(std::count(r.text.begin(), r.text.end(), '$'), 5) << r.text;
        }
        EXPECT_EQ(mHreader, -11);
    }
}

}  // namespace
}  // namespace rwtest
