/* SPDX-License-Identifier: MIT */
// Test fixture: each test starts with the virtual reader freshly plugged
// in, empty slots and an empty trace.
#pragma once

#include <gtest/gtest.h>

#include "virtual_reader.h"

namespace vr {

class VirtualReaderTest : public ::testing::Test {
protected:
    void SetUp() override { bus().plug(UsbVariant::Reader); }

    static VirtualReader &bus() { return VirtualReader::instance(); }
    static VirtualReader::Access reader() { return bus().reader(); }
};

}  // namespace vr
