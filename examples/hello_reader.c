/* SPDX-License-Identifier: MIT */
/*
 * hello_reader: the smallest host program.  It loads libkestrel at run time,
 * as host applications do, opens the reader, powers the card in the contact
 * slot, asks it for an 8-byte challenge and prints what happened.
 *
 *   hello_reader [path-to-libkestrel.so]     (default ./libkestrel.so)
 */
#include <dlfcn.h>
#include <stdio.h>

typedef long (*open_fn)(const char *);
typedef long (*close_fn)(long);
typedef long (*power_fn)(long, unsigned char, char *);
typedef long (*apdu_fn)(long, unsigned char, long, unsigned char *, unsigned char *);

static void print_hex(const char *label, const unsigned char *b, long n) {
    printf("%s", label);
    for (long i = 0; i < n; i++) printf(" %02X", b[i]);
    printf("\n");
}

int main(int argc, char **argv) {
    const char *path = argc > 1 ? argv[1] : "./libkestrel.so";
    void *lib = dlopen(path, RTLD_NOW);
    if (!lib) {
        printf("cannot load %s: %s\n", path, dlerror());
        return 1;
    }
    open_fn open_reader = (open_fn)dlsym(lib, "ICC_Reader_Open");
    close_fn close_reader = (close_fn)dlsym(lib, "ICC_Reader_Close");
    power_fn power_on = (power_fn)dlsym(lib, "ICC_Reader_PowerOn");
    apdu_fn application = (apdu_fn)dlsym(lib, "ICC_Reader_Application");
    if (!open_reader || !close_reader || !power_on || !application) {
        printf("%s lacks the reader functions\n", path);
        return 1;
    }

    long reader = open_reader("USB1");
    if (reader < 0) {
        printf("no reader: ICC_Reader_Open returned %ld\n", reader);
        return 1;
    }
    printf("reader open, handle %ld\n", reader);

    char atr[64];
    long n = power_on(reader, 0x01, atr);
    if (n < 0) {
        printf("no card in the contact slot: ICC_Reader_PowerOn returned %ld\n", n);
        close_reader(reader);
        return 1;
    }
    print_hex("answer to reset:", (unsigned char *)atr, n);

    unsigned char challenge[] = {0x00, 0x84, 0x00, 0x00, 0x08};
    unsigned char rsp[4096];
    n = application(reader, 0x01, sizeof challenge, challenge, rsp);
    print_hex("GET CHALLENGE:", challenge, sizeof challenge);
    if (n < 2) {
        printf("exchange failed: %ld\n", n);
    } else {
        print_hex("response:", rsp, n - 2);
        printf("status word: %02X%02X\n", rsp[n - 2], rsp[n - 1]);
    }
    close_reader(reader);
    printf("reader closed\n");
    dlclose(lib);
    return n >= 2 ? 0 : 1;
}
