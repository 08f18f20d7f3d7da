// SPDX-License-Identifier: MIT
// Process-wide session state.
#include "session/session.h"

unsigned char cardSlot = 0x01;
unsigned char psamSlot = 0x11;
long mHreader = 0;
unsigned char m_pin_verified = 0;
