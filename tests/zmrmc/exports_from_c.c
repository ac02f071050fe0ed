/* The public header used from plain C: the library links and its conventions hold for a C caller. */
#include "ZmrMC.h"

#include <stdio.h>
#include <string.h>

static int failures;

static void check(int condition, const char* what) {
    if (!condition) {
        fprintf(stderr, "FAILED: %s\n", what);
        ++failures;
    }
}

int main(void) {
    unsigned char codes[256];
    const char* error = NULL;
    check(ConvertPasswordTokenToScanCode("<en-US/>abc", codes, sizeof codes, &error) == 1, "en-US converts");
    check(memcmp(codes, "\x1E\x30\x2E", 4) == 0, "en-US codes");
    check(ConvertStringToKeyboardScanCodes(0, "A< >B", codes, &error) == 1 && error == NULL, "key text");
    check(BiosSRIRelease() == 0, "release at zero");
    check(strcmp(BiosSettingsFindStringFromID(3, NULL), "") == 0, "no string before a read");
    check(sizeof(SRI) == (sizeof(void*) == 4 ? 68 : 76), "record size");
    printf("%d passed, %d failed\n", failures == 0 ? 1 : 0, failures == 0 ? 0 : 1);
    return failures == 0 ? 0 : 1;
}
