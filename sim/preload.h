/* SPDX-License-Identifier: MIT */
// Putting umockdev's preload library under a program that talks to the
// virtual reader.
#pragma once

namespace vr {

// Name of umockdev's preload library, as the dynamic loader finds it.
extern const char kPreloadLibrary[];

// Re-executes the running program with umockdev's preload library in
// LD_PRELOAD unless it is already there.  Returns only when the preload is
// in place (or when re-executing failed, after printing why).
void ensurePreloaded(char **argv);

// Adds the preload (and the options AddressSanitizer needs beside it) to
// the environment of this process, for programs it starts.
void addPreloadToEnvironment();

}  // namespace vr
