// main() of every test program: runs the tests under umockdev's preload so
// that the library's libusb calls reach the virtual reader.
#include <gmock/gmock.h>

#include "preload.h"

int main(int argc, char **argv) {
    vr::ensurePreloaded(argv);
    ::testing::InitGoogleMock(&argc, argv);
    return RUN_ALL_TESTS();
}
