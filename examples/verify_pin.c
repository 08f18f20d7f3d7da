/* SPDX-License-Identifier: MIT */
/*
 * verify_pin: has the holder type the PIN on the reader's keypad and the
 * card check it.  It loads libkestrel at run time, as host applications
 * do, calls iVerifyPIN for the card in the contact slot and prints the
 * result, the library's GB18030 text turned into UTF-8.
 *
 *   verify_pin [path-to-libkestrel.so]     (default ./libkestrel.so)
 *
 * Under the virtual reader, script what the holder types:
 *   vreader --keypad 123456 -- ./verify_pin
 */
#include <dlfcn.h>
#include <iconv.h>
#include <stdio.h>
#include <string.h>

typedef long (*verify_fn)(int, char *);

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

int main(int argc, char **argv) {
    const char *path = argc > 1 ? argv[1] : "./libkestrel.so";
    void *lib = dlopen(path, RTLD_NOW);
    if (!lib) {
        printf("cannot load %s: %s\n", path, dlerror());
        return 1;
    }
    verify_fn verify = (verify_fn)dlsym(lib, "iVerifyPIN");
    if (!verify) {
        printf("no iVerifyPIN in %s\n", path);
        return 1;
    }
    static char out[100], text[400];  /* KESTREL_PIN_OUT_SIZE */
    long rc = verify(1, out);
    to_utf8(out, text, sizeof text);
    printf("iVerifyPIN: %ld %s\n", rc, text);
    dlclose(lib);
    return rc == 0 ? 0 : 1;
}
