/* SPDX-License-Identifier: MIT */
// The reader's magnetic-stripe head (slot 0x1A) and the card last swiped
// through it.  It needs no power-on and answers:
//
//   80 17 03 tt 00     track setting tt: 02, 03 or 06            -> 90 00
//   80 17 03 00 01     the track setting                          -> tt 90 00
//   00 19 06 01 00     switch the reader's channel to the stripe  -> 90 00
//   00 19 20 08 00     wait for a swipe                           -> 90 00
//   00 B0 tt 00 00     the tracks that tt selects                 -> data 90 00
//
// The track setting is a mask: bit 0 selects track 1, bit 1 track 2,
// bit 2 track 3 (so 02 is track 2, 03 tracks 1 and 2, 06 tracks 2 and 3).
// The data of a read are the selected tracks in order, each followed by
// "|" (an empty field for a track the card lacks).  Without a card (no
// track at all) the swipe and the read are answered 69 85; a setting
// outside 02, 03, 06 gets 6A 86, a read selecting no track too, anything
// else 6D 00.  A command can be made to fail with a status word of the
// test's choosing.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "card.h"

namespace vr {

class MagStripe : public Card {
public:
    static constexpr uint16_t kSwNoCard = 0x6985;
    static constexpr uint16_t kSwRefused = 0x6A82;
    static constexpr uint8_t kDefaultSetting = 0x06;

    enum class Command { SetTracks, ReadSetting, Channel, Swipe, Read };

    using Tracks = std::array<std::optional<std::string>, 3>;
    // Tracks 1 to 3 of the card; all none: no card.
    void setTracks(Tracks tracks) { tracks_ = std::move(tracks); }
    const Tracks &tracks() const { return tracks_; }

    void setSetting(uint8_t s) { setting_ = s; }
    uint8_t setting() const { return setting_; }

    void refuse(Command c, uint16_t sw = kSwRefused) { refusals_[c] = sw; }

    Bytes reset() override { return {}; }
    Bytes transmit(const Bytes &command) override;
    bool needsPower() const override { return false; }

private:
    bool hasCard() const;

    Tracks tracks_;
    uint8_t setting_ = kDefaultSetting;
    std::map<Command, uint16_t> refusals_;
};

}  // namespace vr
