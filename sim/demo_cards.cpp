// SPDX-License-Identifier: MIT
#include "demo_cards.h"

#include "profile.h"

namespace vr {

void insertDemoCards(Reader &reader) { insertProfile(reader, demoProfile()); }

}  // namespace vr
