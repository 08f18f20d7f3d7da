/* SPDX-License-Identifier: MIT */
/*
 * read_idcard: reads the resident identity card in the reader's
 * identity-card module and prints the holder's data.  It loads libkestrel
 * at run time, as host applications do, calls iReadIdentityCard and turns
 * the GB18030 answer into UTF-8 for the terminal.
 *
 *   read_idcard [path-to-libkestrel.so]     (default ./libkestrel.so)
 */
#include <dlfcn.h>
#include <iconv.h>
#include <stdio.h>
#include <string.h>

typedef long (*read_fn)(char *);

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

int main(int argc, char **argv) {
    static const char *const labels[] = {"name", "sex", "ethnic group", "date of birth", "address",
                                         "identity number", "valid from", "valid to", "issued by"};
    const char *path = argc > 1 ? argv[1] : "./libkestrel.so";
    void *lib = dlopen(path, RTLD_NOW);
    if (!lib) {
        printf("cannot load %s: %s\n", path, dlerror());
        return 1;
    }
    read_fn read_card = (read_fn)dlsym(lib, "iReadIdentityCard");
    if (!read_card) {
        printf("no iReadIdentityCard in %s\n", path);
        return 1;
    }
    static char out[4096], text[4 * 4096];
    long rc = read_card(out);
    to_utf8(out, text, sizeof text);
    printf("iReadIdentityCard: %ld\n", rc);
    if (rc != 0) {
        printf("  %s\n", text);
        dlclose(lib);
        return 1;
    }
    if (text[0] == '\0') printf("  a card of another kind (permanent residence or residence permit)\n");
    /* "|name|sex|...|": the fields follow the first "|". */
    char *field = text[0] == '|' ? text + 1 : text;
    for (size_t i = 0; i < sizeof labels / sizeof labels[0] && *field; i++) {
        char *end = strchr(field, '|');
        if (!end) break;
        *end = '\0';
        printf("  %-16s %s\n", labels[i], field);
        field = end + 1;
    }
    dlclose(lib);
    return 0;
}
