/* SPDX-License-Identifier: MIT */
// The holder's PIN: verification, change, and the reload and unblock that
// the terminal's PSAM authorises.  The exported iVerifyPIN, iChangePIN,
// iReloadPIN and iUnblockPIN are declared in kestrel.h.
//
// Each function takes the handle of an opened reader whose card has the
// social-security application selected, writes its text into out
// (KESTREL_PIN_OUT_SIZE bytes) and returns 0 or an error code: on success
// the text the function names, on failure the code's text, or for a
// refused PIN the remaining tries ("PIN校验失败，剩余次数N次", -51).  A PIN
// travels to the card as packed digits, two to a byte.  A null out gives
// -14 and writes nothing.
#pragma once

#include "kestrel.h"

// The PIN every card is issued with.
namespace kestrel {
extern const char kInitialPin[];
}

// Verifies a PIN typed on the keypad: "PIN校验成功", -51 with the tries
// left, -52 when blocked, or the keypad's failure (-32, -33).  Leaves
// m_pin_verified alone: callers that rely on the verification set it.
int VerifyPIN(long handle, char *out);

// VerifyPIN before a debit: the initial PIN is refused with -35 before
// anything reaches the card.
int VerifyPIN_JiaoYi(long handle, char *out);

// Verifies the first pinLen (1 to 100) characters of pin without the
// keypad: decimal digits, of which an odd count is padded with F (a final
// F of an even count is taken as that padding).  Empty text on success;
// -14 for another length, a shorter text or other characters, before
// anything is sent.
int VerifyDefaultPIN(long handle, char pinLen, char *pin, char *out);

// Changes the PIN: old PIN, new PIN and the new PIN again from the keypad.
// "PIN修改成功"; -34 when the two new entries differ, -36 for the initial
// PIN as the new one (neither reaches the card), -51 ("PIN修改失败，剩余次数
// N次"), -52.
int changePIN(long handle, char *out);

// The new PIN (kPinTextSize bytes) typed on the keypad, then typed again:
// 0, the keypad's failure with its text in out, or -34 when the two
// entries differ.  The initial PIN is accepted.
int newPinTwice(long handle, char *pin, char *out);

// Sets a new PIN (typed twice on the keypad) with a command that the PSAM
// encrypts and authenticates, after authenticating the terminal with the
// card's key 06.  Needs the PSAM powered.  Empty text on success.
int ReloadPin(long handle, char *out);

// Restores the card's PIN tries with a command that the PSAM
// authenticates, after authenticating the terminal with the card's key 06.
// Needs the PSAM powered.  Empty text on success.
long UnblockPin(long handle, char *out);
