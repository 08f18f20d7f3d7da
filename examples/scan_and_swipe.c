/* SPDX-License-Identifier: MIT */
/*
 * scan_and_swipe: scans a QR code with the reader's scanner, reads the
 * card swiped through its magnetic-stripe head and prints the reader's
 * identification with the PSAM's terminal number.  It loads libkestrel at
 * run time, as host applications do.
 *
 *   scan_and_swipe [path-to-libkestrel.so]     (default ./libkestrel.so)
 *
 * Under the virtual reader:  vreader --scan=ORDER-0042 -- ./scan_and_swipe
 */
#include <dlfcn.h>
#include <iconv.h>
#include <stdio.h>
#include <string.h>

#include "kestrel.h"

typedef long (*out_fn)(char *);

/* The library's texts are GB18030; the terminal's are UTF-8. */
static void to_utf8(const char *gb, char *out, size_t out_size) {
    iconv_t cd = iconv_open("UTF-8", "GB18030");
    char *in = (char *)gb, *dst = out;
    size_t in_left = strlen(gb), out_left = out_size - 1;
    if (cd != (iconv_t)-1) {
        iconv(cd, &in, &in_left, &dst, &out_left);
        iconv_close(cd);
    }
    *dst = '\0';
}

/* Calls the function `name` with a cleared buffer (the scanner and stripe
 * functions add no NUL after their answer) and prints its result under
 * `label`.  Returns 0 on success. */
static int run(void *lib, const char *name, const char *label) {
    static char out[KESTREL_SCAN_ANSWER_SIZE], text[4 * KESTREL_SCAN_ANSWER_SIZE];
    out_fn fn = (out_fn)dlsym(lib, name);
    if (!fn) {
        printf("no %s in the library\n", name);
        return 1;
    }
    memset(out, 0, sizeof out);
    long rc = fn(out);
    if (rc != 0) {
        to_utf8(out, text, sizeof text);
        printf("%-14s failed, %ld: %s\n", label, rc, text);
        return 1;
    }
    printf("%-14s %s\n", label, out);
    return 0;
}

int main(int argc, char **argv) {
    const char *path = argc > 1 ? argv[1] : "./libkestrel.so";
    void *lib = dlopen(path, RTLD_NOW);
    if (!lib) {
        printf("cannot load %s: %s\n", path, dlerror());
        return 1;
    }
    int failed = 0;
    failed |= run(lib, "GetScanMode", "scanner mode");
    failed |= run(lib, "SendScanCmd", "scanned code");
    /* The tracks in the stripe head's own format. */
    failed |= run(lib, "ReadMagInfo", "stripe");
    /* "identification|terminal number|" */
    failed |= run(lib, "iGetDeviceInfo", "device");
    dlclose(lib);
    return failed;
}
