/*
 * The TAPs' lookups of firmware symbols by name, and the real dynamic
 * loader and libc behind the calls that this firmware interposes.  dlsym
 * is defined here under libc's name, so that every lookup in the process
 * reaches it first: lookups of firmware symbols are counted, and a hidden
 * one fails as on firmware without it.
 */
#include <dlfcn.h>
#include <string.h>

#include <string>
#include <vector>

#include "platform.h"

/* ---- The real dynamic loader and libc ------------------------------- */

typedef void *(*DlsymFunction)(void *, const char *);

static DlsymFunction realDlsym(void) {
    static DlsymFunction real = nullptr;
    if (!real) real = (DlsymFunction)dlvsym(RTLD_NEXT, "dlsym", "GLIBC_2.34");
    if (!real) real = (DlsymFunction)dlvsym(RTLD_NEXT, "dlsym", "GLIBC_2.2.5");
    if (!real) real = (DlsymFunction)dlvsym(RTLD_NEXT, "dlsym", "GLIBC_2.0");
    return real;
}

void *emuRealDlsym(void *handle, const char *name) {
    DlsymFunction real = realDlsym();
    return real ? real(handle, name) : nullptr;
}

void *emuRealSymbol(const char *name) { return emuRealDlsym(RTLD_NEXT, name); }

/* ---- Counted lookups of firmware symbols ---------------------------- */

static const char *const firmwareNames[] = {"_tapTask", "_curTapTask", "PvrTimeToLinux",
                                            "_Z26Appl_ConvertToValidUTF8StrPhi"};
enum { FIRMWARE_NAMES = sizeof firmwareNames / sizeof firmwareNames[0] };
static unsigned lookupCounts[FIRMWARE_NAMES];
static std::vector<std::string> hiddenNames;

void emuLookupReset(void) { memset(lookupCounts, 0, sizeof lookupCounts); }

unsigned emuLookupCount(const char *name) {
    for (int i = 0; name && i < FIRMWARE_NAMES; i++)
        if (strcmp(name, firmwareNames[i]) == 0) return lookupCounts[i];
    return 0;
}

void emuHideSymbol(const char *name, int hidden) {
    if (!name) return;
    for (size_t i = 0; i < hiddenNames.size(); i++)
        if (hiddenNames[i] == name) {
            if (!hidden) hiddenNames.erase(hiddenNames.begin() + i);
            return;
        }
    if (hidden) hiddenNames.push_back(name);
}

EMU_EXPORT void *dlsym(void *handle, const char *name) {
    for (int i = 0; i < FIRMWARE_NAMES; i++)
        if (strcmp(name, firmwareNames[i]) == 0) lookupCounts[i]++;
    for (const std::string &h : hiddenNames)
        if (h == name) return emuRealDlsym(handle, "\x01 no such firmware symbol");  // sets dlerror
    return emuRealDlsym(handle, name);
}
