// SPDX-License-Identifier: MIT
#include "cards/reader_device.h"

namespace vr {

void ReaderDevice::setDeviceNumber(std::optional<Bytes> number) {
    if (number) number->resize(kDeviceNumberSize, 0x00);
    deviceNumber_ = std::move(number);
}

Bytes ReaderDevice::transmit(const Bytes &command) {
    if (Keypad::isKeypadCommand(command)) return keypad_.transmit(command);
    if (command.size() == 5 && command[0] == 0x00 && command[1] == 0x19 && command[2] == 0x01 &&
        command[3] == 0x01) {
        if (!deviceNumber_) return withStatus({}, 0x6D00);
        if (command[4] != kDeviceNumberSize) return withStatus({}, 0x6C00 | kDeviceNumberSize);
        return withStatus(*deviceNumber_, 0x9000);
    }
    return withStatus({}, 0x6D00);
}

}  // namespace vr
