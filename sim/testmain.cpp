// SPDX-License-Identifier: MIT
// main() of every test program: runs the tests under umockdev's preload so
// that the library's libusb calls reach the virtual reader.
#include <gmock/gmock.h>
#include <sys/prctl.h>

#include "preload.h"

int main(int argc, char **argv) {
    vr::ensurePreloaded(argv);
    // Short waits (the 5 ms drain read) end on time with a 1 us timer slack.
    prctl(PR_SET_TIMERSLACK, 1UL);
    ::testing::InitGoogleMock(&argc, argv);
    return RUN_ALL_TESTS();
}
