/* SPDX-License-Identifier: MIT */
// The cards that vreader puts in the reader's slots when it starts: those
// of the demonstration profile built into it (sim/profiles/demo.profile).
#pragma once

#include "reader.h"

namespace vr {

void insertDemoCards(Reader &reader);

}  // namespace vr
