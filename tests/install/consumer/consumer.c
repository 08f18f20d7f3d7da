/* SPDX-License-Identifier: MIT */
/*
 * A host program built against an installed libkestrel: it includes the
 * installed header, links the installed library, and talks to the reader
 * (the virtual one, under vreader).  Exit status 0 when the reader opened,
 * the contact card answered to reset and a GET CHALLENGE came back with
 * 8 bytes and 90 00.
 */
#include <kestrel.h>
#include <stdio.h>

static void hex(const char *label, const unsigned char *b, long n) {
    printf("%s", label);
    for (long i = 0; i < n; i++) printf(" %02X", b[i]);
    printf("\n");
}

int main(void) {
    long reader = ICC_Reader_Open("USB1");
    if (reader < 1650 || reader > 1999) {
        printf("FAIL: ICC_Reader_Open returned %ld\n", reader);
        return 1;
    }
    int ok = 1;
    char atr[64];
    long n = ICC_Reader_PowerOn(reader, 0x01, atr);
    if (n <= 0) {
        printf("FAIL: ICC_Reader_PowerOn returned %ld\n", n);
        ok = 0;
    } else {
        hex("answer to reset:", (const unsigned char *)atr, n);
        unsigned char challenge[] = {0x00, 0x84, 0x00, 0x00, 0x08};
        unsigned char rsp[KESTREL_MAX_RESPONSE];
        n = ICC_Reader_Application(reader, 0x01, sizeof challenge, challenge, rsp);
        if (n != 10 || rsp[8] != 0x90 || rsp[9] != 0x00) {
            printf("FAIL: GET CHALLENGE returned %ld\n", n);
            if (n > 0) hex("response:", rsp, n);
            ok = 0;
        } else {
            hex("challenge:", rsp, 8);
        }
    }
    long closed = ICC_Reader_Close(reader);
    if (closed != 0) {
        printf("FAIL: ICC_Reader_Close returned %ld\n", closed);
        ok = 0;
    }
    if (ok) printf("consumer: reader, card and exchange OK\n");
    return ok ? 0 : 1;
}
