/* SPDX-License-Identifier: MIT */
// A stand-in for the few libusb-1.0 functions the library's USB link uses,
// linked in place of libusb in the fuzz build.  It puts one reader (and,
// by the bus flags, another device) on a bus of its own, records the OUT
// reports the library writes, and answers each message with the next
// answer of the fuzzer's input (playback.h).  Nothing in it waits.
#pragma once

#include <cstdint>
#include <string>

#include "playback.h"

namespace fakeusb {

// Starts a run: the bus as the flags say, the answers from `answers`.
void begin(uint8_t busFlags, fuzzreader::Cursor answers);

// Ends a run.  Returns an empty text, or what the library left behind:
// a context, device list, configuration descriptor or device handle not
// released, or the interface still claimed.
std::string end();

// Messages the library sent in this run.
int messagesSent();

}  // namespace fakeusb
