/* SPDX-License-Identifier: MIT */
// The reader itself, in slot 0x00: what the reader answers to commands
// addressed to it rather than to a card.  The device-number query
// 00 19 01 01 14 (20 bytes, then 90 00; a reader without a device number
// answers it 6D 00 like any command it does not know) and the PIN keypad's
// commands (keypad.h).  Other reader commands get their cases in
// transmit().
#pragma once

#include <optional>

#include "card.h"
#include "cards/keypad.h"

namespace vr {

class ReaderDevice : public Card {
public:
    static constexpr size_t kDeviceNumberSize = 20;

    explicit ReaderDevice(std::optional<Bytes> deviceNumber = std::nullopt) {
        setDeviceNumber(std::move(deviceNumber));
    }

    // The 20-byte device number (shorter values are padded with 00), or
    // none.
    void setDeviceNumber(std::optional<Bytes> number);
    const std::optional<Bytes> &deviceNumber() const { return deviceNumber_; }
    Keypad &keypad() { return keypad_; }

    Bytes reset() override { return {}; }
    Bytes transmit(const Bytes &command) override;

private:
    std::optional<Bytes> deviceNumber_;
    Keypad keypad_;
};

}  // namespace vr
