/*
 * The TAPs' lookups of firmware symbols by name, and the real dynamic
 * loader and libc behind the calls that this firmware interposes.  dlsym
 * is defined here under libc's name, so that every lookup in the process
 * reaches it first: lookups of firmware symbols are counted, and a hidden
 * one fails as on firmware without it.
 */
#include <dlfcn.h>
#include <elf.h>
#include <link.h>
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

/* ---- Data objects of a loaded TAP ----------------------------------- */

/* Where the TAP being searched has its writable segments. */
struct WritableSearch {
    uintptr_t base, address;
    size_t size;
    bool found;
};

static int findWritable(struct dl_phdr_info *info, size_t, void *context) {
    WritableSearch *w = (WritableSearch *)context;
    if (info->dlpi_addr != w->base) return 0;
    for (int i = 0; i < info->dlpi_phnum; i++) {
        const ElfW(Phdr) &ph = info->dlpi_phdr[i];
        uintptr_t start = w->base + ph.p_vaddr;
        if (ph.p_type == PT_LOAD && (ph.p_flags & PF_W) && w->address >= start &&
            w->address + w->size <= start + ph.p_memsz)
            w->found = true;
    }
    return 1;
}

void *emuTapObject(void *handle, const char *name, size_t size) {
    void *address = emuRealDlsym(handle, name);
    if (!address) return nullptr;
    Dl_info info;
    const ElfW(Sym) *symbol = nullptr;
    struct link_map *map = nullptr;
    if (!dladdr1(address, &info, (void **)&symbol, RTLD_DL_SYMENT) || !symbol ||
        ELF64_ST_TYPE(symbol->st_info) != STT_OBJECT || symbol->st_size != size ||
        dlinfo(handle, RTLD_DI_LINKMAP, &map) != 0 || !map)
        return nullptr;
    WritableSearch w{(uintptr_t)map->l_addr, (uintptr_t)address, size, false};
    dl_iterate_phdr(findWritable, &w);
    return w.found ? address : nullptr;
}

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
