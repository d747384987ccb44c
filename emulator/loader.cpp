/*
 * The firmware's TAP loader: checks a TAP file's identity sections, loads
 * it as a shared object in a symbol scope of its own, fills its call
 * pointers, puts it in a slot and starts it through __TAP_Init_ and
 * TAP_Main.
 */
#include <dlfcn.h>
#include <elf.h>
#include <link.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <vector>

#include "emucore.h"

static bool readWhole(const std::string &path, std::vector<unsigned char> &bytes) {
    int fd = open(path.c_str(), O_RDONLY);
    if (fd < 0) return false;
    unsigned char buffer[65536];
    ssize_t n;
    while ((n = read(fd, buffer, sizeof buffer)) > 0) bytes.insert(bytes.end(), buffer, buffer + n);
    close(fd);
    return n == 0;
}

static unsigned long long little(const std::vector<unsigned char> &b, size_t at, int size) {
    unsigned long long v = 0;
    for (int i = size - 1; i >= 0; i--) v = v << 8 | b[at + i];
    return v;
}

int emuReadTapId(const std::string &hostPath, dword *id, std::string &reason) {
    std::vector<unsigned char> b;
    if (!readWhole(hostPath, b)) {
        reason = "cannot read the file";
        return 0;
    }
    if (b.size() < 52 || memcmp(b.data(), "\x7F" "ELF", 4) != 0 || (b[4] != 1 && b[4] != 2)) {
        reason = "not an ELF file";
        return 0;
    }
    if (b[5] != 1) {
        reason = "not a little-endian ELF file";
        return 0;
    }
    bool wide = b[4] == 2;
    if (wide && b.size() < 64) {
        reason = "not an ELF file";
        return 0;
    }
    unsigned long long shoff = wide ? little(b, 0x28, 8) : little(b, 0x20, 4);
    unsigned entsize = (unsigned)little(b, wide ? 0x3A : 0x2E, 2);
    unsigned count = (unsigned)little(b, wide ? 0x3C : 0x30, 2);
    unsigned names = (unsigned)little(b, wide ? 0x3E : 0x32, 2);
    unsigned needed = wide ? 64 : 40;
    if (count == 0 || entsize < needed || names >= count || shoff > b.size() ||
        (unsigned long long)count * entsize > b.size() - shoff) {
        reason = "no readable section table";
        return 0;
    }
    auto field = [&](unsigned index, unsigned off32, unsigned off64, int size32, int size64) {
        size_t at = (size_t)shoff + (size_t)index * entsize + (wide ? off64 : off32);
        return little(b, at, wide ? size64 : size32);
    };
    unsigned long long namesOffset = field(names, 0x10, 0x18, 4, 8);
    unsigned long long namesSize = field(names, 0x14, 0x20, 4, 8);
    if (namesOffset > b.size() || namesSize > b.size() - namesOffset) {
        reason = "no readable section names";
        return 0;
    }
    static const char wanted[] = "._tap_id";
    for (unsigned i = 0; i < count; i++) {
        unsigned long long name = field(i, 0x00, 0x00, 4, 4);
        if (name + sizeof wanted > namesSize) continue;
        if (memcmp(&b[(size_t)(namesOffset + name)], wanted, sizeof wanted) != 0) continue;
        unsigned long long offset = field(i, 0x10, 0x18, 4, 8);
        unsigned long long size = field(i, 0x14, 0x20, 4, 8);
        if (size != 4 || offset > b.size() - 4) {
            reason = "section ._tap_id is not 4 bytes";
            return 0;
        }
        *id = (dword)little(b, (size_t)offset, 4);
        return 1;
    }
    reason = "no ._tap_id section";
    return 0;
}

/* What the dynamic loader trusts before it maps a file: the program
 * headers, the loadable segments and the dynamic segment's entries must
 * lie within the file and its mapped image.  A file that fails is refused
 * with a reason instead of being handed to dlopen, which would crash on it. */
static bool segmentsSound(const std::string &hostPath, std::string &reason) {
    std::vector<unsigned char> b;
    if (!readWhole(hostPath, b) || b.size() < 52) {
        reason = "cannot read the file";
        return false;
    }
    bool wide = b[4] == 2;
    unsigned long long size = b.size();
    unsigned long long phoff = wide ? little(b, 0x20, 8) : little(b, 0x1C, 4);
    unsigned entsize = (unsigned)little(b, wide ? 0x36 : 0x2A, 2);
    unsigned count = (unsigned)little(b, wide ? 0x38 : 0x2C, 2);
    if (count == 0 || entsize < (wide ? 56u : 32u) || phoff > size ||
        (unsigned long long)count * entsize > size - phoff) {
        reason = "no readable program headers";
        return false;
    }
    struct Segment {
        unsigned long long type, offset, vaddr, filesz, memsz;
    };
    std::vector<Segment> loads;
    Segment dynamic{0, 0, 0, 0, 0};
    bool hasDynamic = false;
    for (unsigned i = 0; i < count; i++) {
        size_t at = (size_t)(phoff + (unsigned long long)i * entsize);
        Segment s;
        s.type = little(b, at, 4);
        s.offset = wide ? little(b, at + 8, 8) : little(b, at + 4, 4);
        s.vaddr = wide ? little(b, at + 16, 8) : little(b, at + 8, 4);
        s.filesz = wide ? little(b, at + 32, 8) : little(b, at + 16, 4);
        s.memsz = wide ? little(b, at + 40, 8) : little(b, at + 20, 4);
        if (s.type != 1 && s.type != 2) continue;  // PT_LOAD, PT_DYNAMIC
        if (s.offset > size || s.filesz > size - s.offset || s.filesz > s.memsz ||
            s.vaddr + s.memsz < s.vaddr) {
            reason = "a segment lies beyond the end of the file";
            return false;
        }
        if (s.type == 1) loads.push_back(s);
        if (s.type == 2) dynamic = s, hasDynamic = true;
    }
    // [address, address + length) inside one loadable segment's image
    auto mapped = [&](unsigned long long address, unsigned long long length, bool fromFile) {
        for (const Segment &l : loads) {
            unsigned long long end = l.vaddr + (fromFile ? l.filesz : l.memsz);
            if (address >= l.vaddr && address <= end && length <= end - address) return true;
        }
        return false;
    };
    if (loads.empty() || !hasDynamic || !mapped(dynamic.vaddr, dynamic.filesz, true)) {
        reason = "no dynamic segment inside the loaded image";
        return false;
    }
    unsigned step = wide ? 16 : 8;
    unsigned long long table[40] = {0};  // values of the tags below 40
    bool present[40] = {false};
    static const unsigned long long addressTags[] = {0x6ffffef5, 0x6ffffff0, 0x6ffffffc, 0x6ffffffe};
    for (unsigned long long at = dynamic.offset; at + step <= dynamic.offset + dynamic.filesz; at += step) {
        unsigned long long tag = little(b, (size_t)at, step / 2), value = little(b, (size_t)at + step / 2, step / 2);
        if (tag == 0) break;  // DT_NULL
        if (tag < 40) table[tag] = value, present[tag] = true;
        for (unsigned long long t : addressTags)
            if (tag == t && !mapped(value, 1, false)) {
                reason = "a dynamic entry points outside the loaded image";
                return false;
            }
    }
    // address tag, its size tag (0: one byte)
    static const unsigned ranges[][2] = {{3, 0}, {4, 0}, {5, 10}, {6, 0}, {7, 8}, {12, 0}, {13, 0},
                                         {17, 18}, {23, 2}, {25, 27}, {26, 28}};
    for (const auto &r : ranges)
        if (present[r[0]] && !mapped(table[r[0]], r[1] ? table[r[1]] : 1, false)) {
            reason = "a dynamic entry points outside the loaded image";
            return false;
        }
    if (!present[5] || !present[6]) {
        reason = "no dynamic symbol or string table";
        return false;
    }
    for (unsigned long long at = dynamic.offset; at + step <= dynamic.offset + dynamic.filesz; at += step) {
        unsigned long long tag = little(b, (size_t)at, step / 2), value = little(b, (size_t)at + step / 2, step / 2);
        if (tag == 0) break;
        if ((tag == 1 || tag == 14 || tag == 15 || tag == 29) && value >= table[10]) {
            reason = "a dynamic entry names a string beyond the string table";
            return false;
        }
    }
    return true;
}

/* The dynamic loader itself does not survive every broken file (it
 * trusts the dynamic entries and runs the file's constructors): a child
 * process loads the file first, so that a file that kills the loader is
 * refused instead of taking the receiver down. */
static void *lookupInTap(void *handle, const char *name);
static void *lookupOnly(void *handle, const char *name) {
    lookupInTap(handle, name);
    return nullptr;
}

static bool loadsInChild(const std::string &hostPath, std::string &reason) {
    fflush(nullptr);
    pid_t child = fork();
    if (child < 0) return true;  // no probe possible: let dlopen tell
    if (child == 0) {
        int null = open("/dev/null", O_WRONLY);
        if (null >= 0) dup2(null, 2);  // ld.so's own complaints
        void *handle = dlopen(hostPath.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!handle) _exit(1);
        // the lookups the load makes next walk the same symbol table
        emuFillCalls(lookupOnly, handle);
        static const char *const entries[] = {"__TAP_Init_", "TAP_Main", "TAP_EventHandler"};
        for (const char *e : entries) emuRealDlsym(handle, e);
        _exit(0);
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0)
        if (errno != EINTR) return true;
    if (WIFEXITED(status) && WEXITSTATUS(status) <= 1) return true;  // 1: dlopen says why
    reason = "cannot load: the dynamic loader fails on this file";
    return false;
}

static void setError(char *err, size_t errSize, const std::string &text) {
    if (err && errSize) snprintf(err, errSize, "%s", text.c_str());
}

static bool isFile(const std::string &path) {
    struct stat64 st;
    return stat64(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

static bool copyInto(const std::string &from, const std::string &to) {
    std::vector<unsigned char> bytes;
    if (!readWhole(from, bytes)) return false;
    int fd = open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0755);
    if (fd < 0) return false;
    bool ok = write(fd, bytes.data(), bytes.size()) == (ssize_t)bytes.size();
    return close(fd) == 0 && ok;
}

/* Where the TAP being filled has its writable segments. */
struct WritableSearch {
    uintptr_t base, address;
    bool found;
};

static int findWritable(struct dl_phdr_info *info, size_t, void *context) {
    WritableSearch *w = (WritableSearch *)context;
    if (info->dlpi_addr != w->base) return 0;
    for (int i = 0; i < info->dlpi_phnum; i++) {
        const ElfW(Phdr) &ph = info->dlpi_phdr[i];
        uintptr_t start = w->base + ph.p_vaddr;
        if (ph.p_type == PT_LOAD && (ph.p_flags & PF_W) && w->address >= start &&
            w->address + sizeof(void *) <= start + ph.p_memsz)
            w->found = true;
    }
    return 1;
}

/* A call pointer of the TAP: only a pointer-sized data object in one of
 * the TAP's own writable segments is filled in (a broken symbol table may
 * name code or read-only data instead). */
static void *lookupInTap(void *handle, const char *name) {
    void *address = emuRealDlsym(handle, name);
    if (!address) return nullptr;
    Dl_info info;
    const ElfW(Sym) *symbol = nullptr;
    struct link_map *map = nullptr;
    if (!dladdr1(address, &info, (void **)&symbol, RTLD_DL_SYMENT) || !symbol ||
        ELF64_ST_TYPE(symbol->st_info) != STT_OBJECT || symbol->st_size != sizeof(void *) ||
        dlinfo(handle, RTLD_DI_LINKMAP, &map) != 0 || !map)
        return nullptr;
    WritableSearch w{(uintptr_t)map->l_addr, (uintptr_t)address, false};
    dl_iterate_phdr(findWritable, &w);
    return w.found ? address : nullptr;
}

struct StartCall {
    int (*init)(TapEntryRecord *);
    TapEntryRecord record;
    int (*main)(void);
    int mainResult;
};

static void runInit(void *context) {
    StartCall *call = (StartCall *)context;
    call->init(&call->record);
}

static void runMain(void *context) {
    StartCall *call = (StartCall *)context;
    call->mainResult = call->main();
}

void emuRememberHandle(void *handle);

int emuLoadTap(const char *path, char *err, size_t errSize) {
    if (!emu.started) {
        setError(err, errSize, "the receiver is not running");
        return -1;
    }
    if (!path || !*path) {
        setError(err, errSize, "no TAP file given");
        return -1;
    }
    std::string firmwarePath, host;
    if (path[0] == '/' && isFile(emuHostPath(emuNormalise("/", path)))) {
        firmwarePath = emuNormalise("/", path);
        host = emuHostPath(firmwarePath);
    } else if (char *real = isFile(path) ? realpath(path, nullptr) : nullptr;
               real && strncmp(real, (emu.diskReal + "/").c_str(), emu.diskReal.size() + 1) == 0) {
        // a PC path to a file that is on the disk already
        firmwarePath = real + emu.diskReal.size();
        free(real);
        host = emuHostPath(firmwarePath);
    } else if (isFile(path)) {
        free(real);
        // a file on the PC: the user copies it onto the receiver first
        std::string name = path;
        name = name.substr(name.rfind('/') + 1);
        firmwarePath = "/ProgramFiles/" + name;
        host = emuHostPath(firmwarePath);
        mkdir(emuHostPath("/ProgramFiles").c_str(), 0777);
        char a[PATH_MAX], b[PATH_MAX];
        bool same = realpath(path, a) && realpath(host.c_str(), b) && strcmp(a, b) == 0;
        if (!same && !copyInto(path, host)) {
            setError(err, errSize, std::string(path) + ": cannot copy it into /ProgramFiles");
            return -1;
        }
    } else {
        setError(err, errSize, std::string(path) + ": no such TAP file");
        return -1;
    }

    dword id = 0;
    std::string reason;
    if (!emuReadTapId(host, &id, reason)) {
        setError(err, errSize, std::string(path) + ": " + reason);
        return -1;
    }
    if (!segmentsSound(host, reason) || !loadsInChild(host, reason)) {
        setError(err, errSize, std::string(path) + ": " + reason);
        return -1;
    }
    void *handle = dlopen(host.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char *why = dlerror();
        setError(err, errSize, std::string(path) + ": cannot load: " + (why ? why : "?"));
        return -1;
    }
    StartCall call{};
    call.init = (int (*)(TapEntryRecord *))emuRealDlsym(handle, "__TAP_Init_");
    if (!call.init) {
        dlclose(handle);
        setError(err, errSize, std::string(path) + ": no entry point __TAP_Init_");
        return -1;
    }
    int slot = emuClaimSlot(firmwarePath.c_str(), nullptr, nullptr, id);
    if (slot < 0) {
        dlclose(handle);
        setError(err, errSize, std::string(path) + ": no free slot");
        return -1;
    }
    emuSlots[slot].handle = handle;
    emuRememberHandle(handle);
    emuFillCalls(lookupInTap, handle);

    char line[64];
    snprintf(line, sizeof line, " id 0x%08X", (unsigned)id);
    traceLine("LOAD " + std::to_string(slot) + " " + traceString(firmwarePath.c_str()) + line);

    if (!emuRunInSlot(slot, runInit, &call)) return slot;  // hung: already ended
    call.main = call.record.main ? call.record.main : (int (*)(void))emuRealDlsym(handle, "TAP_Main");
    if (!emuSlots[slot].used) return slot;
    _tapTask[slot].handler =
        call.record.eventHandler ? call.record.eventHandler : (EmuEventHandler)emuRealDlsym(handle, "TAP_EventHandler");
    if (!call.main) {
        traceLine("MAIN " + std::to_string(slot) + " missing");
        emuEndSlot(slot, "ended without TAP_Main");
        return slot;
    }
    if (!emuRunInSlot(slot, runMain, &call)) return slot;
    traceLine("MAIN " + std::to_string(slot) + " -> " + std::to_string(call.mainResult));
    if (call.mainResult == 0) emuEndSlot(slot, "ended as TAP_Main returned 0");
    return slot;
}
