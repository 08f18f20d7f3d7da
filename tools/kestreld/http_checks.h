/* SPDX-License-Identifier: MIT */
// The checks every request passes before anything else happens: who may
// call (Host, Origin) and how large and deep its body may be.
#pragma once

#include <string>

#include "config.h"

namespace kestreld {

// Bounds of a request.
constexpr std::size_t kMaxBody = 4096;        // bytes of a request body
constexpr int kMaxHeaders = 48;                // header lines of a request
constexpr std::size_t kMaxHeaderBytes = 16384; // the request line and headers together
constexpr int kMaxJsonDepth = 4;               // nesting of objects and arrays
constexpr int kMaxJsonMembers = 32;            // values inside the top object, all levels
constexpr std::size_t kMaxJsonString = 512;    // bytes of one key or string value

// Host names the service itself: "127.0.0.1:PORT", "[::1]:PORT" or
// "localhost:PORT" (the port may be left out only when it is 80).  Any
// other name is refused, so that a page whose own name has been made to
// resolve to 127.0.0.1 (DNS rebinding) cannot talk to the service.
bool hostAllowed(const std::string &host, int port);

// Origin is one of the configured origins, or, while the demonstration
// page is served, one of the service's own origins (the page's).  The
// comparison is exact: browsers send origins serialised.  "null" never
// passes.
bool originAllowed(const std::string &origin, const Config &config, int port);

// Content-Type is application/json, with or without parameters.
bool isJsonContentType(const std::string &contentType);

// The body is JSON within the bounds above (depth, members, and string
// lengths of at most maxString bytes) and its top level is an object.
// Checked by the JSON library's event parser before any value is built.
// Returns false with a message.
bool jsonWithinLimits(const std::string &body, std::string &error, std::size_t maxString = kMaxJsonString);

}  // namespace kestreld
