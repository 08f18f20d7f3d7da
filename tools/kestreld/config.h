/* SPDX-License-Identifier: MIT */
// kestreld's configuration: the file (key = value lines) and the command
// line set the same keys; see kestreld(8).
#pragma once

#include <string>
#include <vector>

namespace kestreld {

// Operations that change the card, each enabled by its name in "enable".
// Reading is always on.
enum OperationClass : unsigned {
    kRead = 0,
    kWrite = 1,      // "write": data items
    kPinChange = 2,  // "pin-change"
    kDebit = 4,      // "debit"
};

constexpr int kDefaultPort = 7325;

struct Config {
    int port = kDefaultPort;                  // 0: a free port, chosen when listening
    std::vector<std::string> allowedOrigins;  // normalised; empty: no browser origin
    unsigned enabled = 0;                     // OperationClass bits
    std::string logFile;                      // empty: standard error
    int queueWaitMs = 10000;                  // longest wait for the reader
    int queueLength = 8;                      // most requests waiting for the reader
    bool demo = true;                         // serve /demo (and allow its origin)
};

// The name of one enabled class ("write", "pin-change", "debit").
const char *operationClassName(unsigned cls);

// Sets one key.  The keys are those of the file; "allow-origin" and
// "enable" take a list (separated by commas or blanks) and add to what is
// there.  Returns false with a message on an unknown key or a bad value.
bool setOption(Config &config, const std::string &key, const std::string &value, std::string &error);

// Reads a configuration file into `config`.  Blank lines and lines that
// start with "#" are skipped; every other line is "key = value".  Returns
// false with "FILE:LINE: message" on the first bad line, or when the file
// cannot be read.
bool loadConfigFile(Config &config, const std::string &path, std::string &error);

// An origin as a browser serialises it: scheme "http" or "https", host in
// lower case, the port only when it is not the scheme's default, nothing
// after it (a single "/" is dropped).  Refuses "null", wildcards, paths,
// user information, queries and malformed hosts or ports.
bool normaliseOrigin(const std::string &text, std::string &origin, std::string &error);

}  // namespace kestreld
