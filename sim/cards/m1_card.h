/* SPDX-License-Identifier: MIT */
// A contactless memory card without a processor (1 KB: 16 sectors of 4
// blocks of 16 bytes), which the reader drives itself with its own memory
// card commands on the contactless slot:
//
//   80 11 09 00 00                  activate the card in the field   -> 90 00
//   80 11 02 00 08 T S K1..K6       authenticate sector S with the 6-byte
//                                   key K (T: 00 key A, 01 key B)    -> 90 00
//                                   wrong key 63 00, no such sector 6A 86,
//                                   card not activated 69 85
//   80 11 03 00 01 B                read block B (0 to 63)           -> 16 bytes, 90 00
//                                   sector not authenticated 69 82,
//                                   no such block 6A 86
//
// Anything else gets 6D 00.  The commands work without a power-on of the
// slot; a power-on reports the memory card's kind (first byte 04).
#pragma once

#include <array>

#include "card.h"

namespace vr {

class M1Card : public Card {
public:
    static constexpr int kSectors = 16;
    static constexpr int kBlocksPerSector = 4;
    static constexpr int kBlockSize = 16;
    using Key = std::array<uint8_t, 6>;

    // Every sector's keys A and B are 5E 3A 91 C7 24 8B; block b holds the
    // bytes b*16 .. b*16+15 (block 0: the serial number 3A 7C 21 9E,
    // its check byte and the maker's data).
    M1Card();

    void setKey(int sector, int type, const Key &key) { keys_[sector][type & 1] = key; }
    void setBlock(int block, const Bytes &data);
    Bytes block(int block) const;

    Bytes reset() override;
    Bytes transmit(const Bytes &command) override;
    bool needsPower() const override { return false; }
    void powerOff() override { active_ = false; authenticated_ = -1; }

private:
    std::array<std::array<Key, 2>, kSectors> keys_;
    std::array<std::array<uint8_t, kBlockSize>, kSectors * kBlocksPerSector> blocks_;
    bool active_ = false;
    int authenticated_ = -1;  // sector
};

}  // namespace vr
