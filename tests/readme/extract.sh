#!/bin/sh
# SPDX-License-Identifier: MIT
# Prints the first fenced block of a Markdown file that follows the first
# line containing MARKER (without the fence lines).
#   extract.sh FILE MARKER
awk -v marker="$2" '
    !seen && index($0, marker) { seen = 1; next }
    seen == 1 && /^```/ { seen = 2; next }
    seen == 2 && /^```/ { exit }
    seen == 2 { print }
' "$1"
