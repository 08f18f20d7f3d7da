// The cards that vreader puts in the reader's slots when it starts.
#pragma once

#include "reader.h"

namespace vr {

void insertDemoCards(Reader &reader);

}  // namespace vr
