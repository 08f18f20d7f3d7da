// SPDX-License-Identifier: MIT
// readertest: exercises libkestrel on a reader.
//
//   readertest TEST
//
// Loads ./libkestrel.so from the current directory, binds the functions it
// tests by name and runs one test:
//   1  read the identity card (iReadIdentityCard)
//   2  read the social-security card's basic information (iReadCardBas)
//   3  read the bank-card number (iReadBankNo)
//   4  authenticate and read a block of a contactless memory card
// Any other number runs no test.  The exit status is 0 in every case.
#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

using OpenReaderFn = long (*)(const char *, int, int);
using CloseReaderFn = int (*)(long);
using ExchangeFn = int (*)(long, int, unsigned char *, int *, unsigned char *);
using SetNadFn = void (*)(long, unsigned char);
using ReadBankNoFn = int (*)(int, char *);
using ReadIdentityCardFn = long (*)(char *);
using ReadCardBasFn = long (*)(int, char *);

OpenReaderFn openReader;
CloseReaderFn closeReader;
ExchangeFn exchange;
SetNadFn setNad;
ReadBankNoFn readBankNo;
ReadIdentityCardFn readIdentityCard;
ReadCardBasFn readCardBas;

// The functions bound by name, in order, with the message printed when one
// cannot be bound.
struct Binding {
    const char *symbol;
    void **target;
    const char *message;
};

const Binding kBindings[] = {
    {"CT_open", reinterpret_cast<void **>(&openReader), "Dlsym OpenReader Error:%s.\n"},
    {"CT_close", reinterpret_cast<void **>(&closeReader), "Dlsym CloseReader Error:%s.\n"},
    {"ICC_tsi_api", reinterpret_cast<void **>(&exchange), "Dlsym CardResetPKI Error:%s.\n"},
    {"ICC_set_NAD", reinterpret_cast<void **>(&setNad), "Dlsym CardAPDUPKI Error:%s.\n"},
    {"iReadBankNo", reinterpret_cast<void **>(&readBankNo), "Dlsym iReadBankNo Error:%s.\n"},
    {"iReadIdentityCard", reinterpret_cast<void **>(&readIdentityCard), "Dlsym iReadIdentityCard Error:%s.\n"},
    {"iReadCardBas", reinterpret_cast<void **>(&readCardBas), "Dlsym iReadCardBas Error:%s.\n"},
};

// Response buffers of the reader link hold its largest message.
constexpr int kResponseSize = 4096;
// The contactless slot's node address.
constexpr unsigned char kContactlessNad = 0x15;

void printfHex(const unsigned char *bytes, int count) {
    for (int i = 0; i < count; ++i) printf("%02x", bytes[i]);
    printf("\n");
}

// Each test returns false when it failed, after printing why.
bool identityCardTest() {
    static char buf[4096];
    memset(buf, 0, sizeof buf);
    buf[0] = '0';
    puts("------iReadIdentityCard Test---------");
    long rc = readIdentityCard(buf);
    if (rc != 0) {
        printf("iReadIdentityCard Failed, return=%d\n", static_cast<int>(rc));
        return false;
    }
    puts("iReadIdentityCard Success");
    printfHex(reinterpret_cast<unsigned char *>(buf), 200);
    return true;
}

bool socialSecurityCardTest() {
    static char buf[1024];
    memset(buf, 0, sizeof buf);
    buf[0] = '0';
    puts("------iReadSBCard Test---------");
    long rc = readCardBas(1, buf);
    if (rc != 0) {
        printf("iReadSBCard Failed, return=%d\n", static_cast<int>(rc));
        return false;
    }
    puts("iReadSBCard Success");
    printfHex(reinterpret_cast<unsigned char *>(buf), 200);
    return true;
}

bool bankCardTest() {
    static char buf[1024];
    memset(buf, 0, sizeof buf);
    buf[0] = '0';
    puts("------iReadBankNo Test---------");
    int rc = readBankNo(1, buf);
    if (rc != 0) {
        printf("iReadBankNo Failed, return=%d\n", rc);
        return false;
    }
    puts("iReadBankNo Success");
    printfHex(reinterpret_cast<unsigned char *>(buf), 25);
    return true;
}

bool memoryCardTest() {
    puts("------iReadM1Card Test---------");
    long device = openReader("hid1", 0, 0);
    if (device == 0) {
        puts("iReadM1Card open card failed");
        return false;
    }
    setNad(device, kContactlessNad);
    static unsigned char rsp[kResponseSize];
    int rspLen = 0;

    unsigned char activate[] = {0x80, 0x11, 0x09, 0x00, 0x00};
    int sw = exchange(device, sizeof activate, activate, &rspLen, rsp);
    if (sw != 0x9000) printf("iReadM1Card Failed1, return = %d\n", sw);

    unsigned char authenticate[] = {0x80, 0x11, 0x02, 0x00, 0x08, 0x00, 0x00,
                                    0x5E, 0x3A, 0x91, 0xC7, 0x24, 0x8B};
    sw = exchange(device, sizeof authenticate, authenticate, &rspLen, rsp);
    if (sw != 0x9000) printf("iReadM1Card Failed2, return = %d\n", sw);

    unsigned char readBlock[] = {0x80, 0x11, 0x03, 0x00, 0x01, 0x00};
    rspLen = 0;
    sw = exchange(device, sizeof readBlock, readBlock, &rspLen, rsp);
    if (sw == 0x9000) {
        puts("iReadM1Card Success");
        printfHex(rsp, rspLen < 0 ? 0 : rspLen > kResponseSize ? kResponseSize : rspLen);
    } else {
        printf("iReadM1Card Failed, return = %d\n", sw);
    }
    closeReader(device);
    return true;
}

}  // namespace

int main(int argc, char **argv) {
    void *lib = dlopen("./libkestrel.so", RTLD_LAZY);
    if (!lib) {
        printf("Open Error:%s.\n", dlerror());
        return 0;
    }
    for (const Binding &b : kBindings) {
        dlerror();
        *b.target = dlsym(lib, b.symbol);
        if (const char *err = dlerror()) {
            printf(b.message, err);
            return 0;
        }
    }
    if (argc < 2) {
        puts("Usage: readertest TEST   (1 identity card, 2 social-security card, 3 bank-card number, "
             "4 contactless memory card)");
        dlclose(lib);
        return 0;
    }
    bool ok = true;
    switch (atoi(argv[1])) {
    case 1: ok = identityCardTest(); break;
    case 2: ok = socialSecurityCardTest(); break;
    case 3: ok = bankCardTest(); break;
    case 4: ok = memoryCardTest(); break;
    default: break;
    }
    // A failed test ends the program with the library still loaded.
    if (ok) dlclose(lib);
    return 0;
}
