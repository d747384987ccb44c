/*
 * The firmware's TAP loader: checks a TAP file, loads it as a shared
 * object in a symbol scope of its own, fills its call pointers, puts it in
 * a slot and starts it through __TAP_Init_ and TAP_Main; and the test
 * programs that make themselves a TAP.  Builds on the base, platform,
 * tasks and calls rooms.
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
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <utility>
#include <vector>

#include "../calls/calls.h"
#include "../platform/platform.h"
#include "../receiver/receiver.h"
#include "../tasks/tasks.h"
#include "loader.h"

/* Every TAP file loaded since the receiver started: the code stays loaded
 * until it stops, since pointers into it may still be on a stack. */
static std::vector<void *> loaded;

/* The private copies of the TAP files, one per load, in emu.tapCopies. */
static std::vector<std::string> copies;

void loaderUnloadAll(void) {
    for (void *handle : loaded) dlclose(handle);
    loaded.clear();
    for (const std::string &copy : copies) unlink(copy.c_str());
    copies.clear();
}

/* The parts of a TAP file that its private copy leaves as a hole: the
 * bytes of sections with contents that are not loaded (a TAP's payload
 * of megabytes), cut to whole pages, and outside everything that the
 * loader and the checks read (headers, segments, the section table and
 * its names).  The copy keeps the file's size and every other byte.
 * Nothing is left out of a file whose tables cannot be read. */
template <typename Ehdr, typename Phdr, typename Shdr>
static std::vector<std::pair<off_t, off_t>> unloadedParts(int fd, off_t size) {
    std::vector<std::pair<off_t, off_t>> holes, kept;
    Ehdr eh;
    if (pread(fd, &eh, sizeof eh, 0) != (ssize_t)sizeof eh) return holes;
    if (eh.e_phentsize != sizeof(Phdr) || eh.e_shentsize != sizeof(Shdr) || eh.e_shnum == 0 ||
        eh.e_shstrndx >= eh.e_shnum || eh.e_phoff > (unsigned long long)size ||
        eh.e_shoff > (unsigned long long)size || (off_t)(eh.e_shnum * sizeof(Shdr)) > size - (off_t)eh.e_shoff ||
        (off_t)(eh.e_phnum * sizeof(Phdr)) > size - (off_t)eh.e_phoff)
        return holes;
    std::vector<Phdr> ph(eh.e_phnum);
    std::vector<Shdr> sh(eh.e_shnum);
    if (pread(fd, ph.data(), ph.size() * sizeof(Phdr), (off_t)eh.e_phoff) != (ssize_t)(ph.size() * sizeof(Phdr)) ||
        pread(fd, sh.data(), sh.size() * sizeof(Shdr), (off_t)eh.e_shoff) != (ssize_t)(sh.size() * sizeof(Shdr)))
        return holes;
    kept.push_back({0, (off_t)sizeof eh});
    kept.push_back({(off_t)eh.e_phoff, (off_t)(eh.e_phoff + ph.size() * sizeof(Phdr))});
    kept.push_back({(off_t)eh.e_shoff, (off_t)(eh.e_shoff + sh.size() * sizeof(Shdr))});
    for (const Phdr &p : ph) kept.push_back({(off_t)p.p_offset, (off_t)(p.p_offset + p.p_filesz)});
    const Shdr &names = sh[eh.e_shstrndx];
    kept.push_back({(off_t)names.sh_offset, (off_t)(names.sh_offset + names.sh_size)});
    const off_t page = 4096;
    for (const Shdr &s : sh) {
        if (s.sh_type != SHT_PROGBITS || (s.sh_flags & SHF_ALLOC) || s.sh_offset > (unsigned long long)size ||
            s.sh_size > (unsigned long long)(size - (off_t)s.sh_offset))
            continue;
        off_t from = ((off_t)s.sh_offset + page - 1) / page * page;
        off_t to = ((off_t)(s.sh_offset + s.sh_size)) / page * page;
        bool clear = to - from >= 16 * page;
        for (const auto &k : kept) clear = clear && (k.second <= from || k.first >= to);
        if (clear) holes.push_back({from, to});
    }
    std::sort(holes.begin(), holes.end());
    for (size_t i = 1; i < holes.size(); i++)
        if (holes[i].first < holes[i - 1].second) return {};  // overlapping sections: no holes
    return holes;
}

/* Copies the bytes [at, end) of from to the same place in to: the kernel
 * copies where it can.  false on a failure. */
static bool copyRange(int from, int to, off_t at, off_t end) {
    if (lseek(to, at, SEEK_SET) != at) return false;
    while (at < end) {
        off_t before = at;
        ssize_t n = sendfile(to, from, &at, (size_t)std::min<off_t>(end - at, 1 << 30));
        if (n > 0) continue;
        if (n == 0) return false;  // the file ended early
        at = before;
        static unsigned char buffer[1 << 16];
        n = pread(from, buffer, (size_t)std::min<off_t>(end - at, sizeof buffer), at);
        if (n <= 0) return false;
        for (ssize_t done = 0; done < n;) {
            ssize_t w = pwrite(to, buffer + done, (size_t)(n - done), at + done);
            if (w <= 0) return false;
            done += w;
        }
        at += n;
    }
    return true;
}

/* Copies the TAP file on the disk into a private file of this load in the
 * copies folder, which the dynamic loader maps: a later change of the file
 * on the disk (the shell's cp rewrites it in place) cannot reach the
 * loaded code, and each load has globals of its own.  A payload that the
 * TAP reads from its file on the disk is left out (a hole of zero bytes).
 * The copy's path, or "" with a reason. */
static std::string privateCopy(const std::string &host, std::string &reason) {
    reason = "cannot read the file";
    int from = open(host.c_str(), O_RDONLY | O_CLOEXEC);
    if (from < 0) return "";
    struct stat64 st;
    if (fstat64(from, &st) != 0) {
        close(from);
        return "";
    }
    reason = "cannot make a private folder for the TAP files under TMPDIR or /tmp";
    const std::string &folder = receiverCopiesFolder();
    if (folder.empty()) {
        close(from);
        return "";
    }
    reason = "cannot copy it into the receiver's private folder";
    std::string name = host.substr(host.rfind('/') + 1);
    std::string copy = folder + "/" + std::to_string(copies.size() + 1) + "-" + name;
    // the copies folder lies outside the disk: the platform's own calls write it
    REAL(open);
    REAL(unlink);
    int fd = real_open(copy.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0700);
    if (fd < 0) {
        close(from);
        return "";
    }
    off_t size = (off_t)st.st_size;
    unsigned char ident[EI_NIDENT] = {0};
    std::vector<std::pair<off_t, off_t>> holes;
    if (S_ISREG(st.st_mode) && pread(from, ident, sizeof ident, 0) == (ssize_t)sizeof ident &&
        memcmp(ident, ELFMAG, SELFMAG) == 0 && ident[EI_DATA] == ELFDATA2LSB)
        holes = ident[EI_CLASS] == ELFCLASS64 ? unloadedParts<Elf64_Ehdr, Elf64_Phdr, Elf64_Shdr>(from, size)
                : ident[EI_CLASS] == ELFCLASS32 ? unloadedParts<Elf32_Ehdr, Elf32_Phdr, Elf32_Shdr>(from, size)
                                                : holes;
    bool ok = ftruncate(fd, size) == 0;
    off_t at = 0;
    for (const auto &hole : holes) {
        ok = ok && copyRange(from, fd, at, hole.first);
        at = hole.second;
    }
    ok = ok && copyRange(from, fd, at, size);
    close(from);
    if (close(fd) != 0 || !ok) {
        real_unlink(copy.c_str());
        return "";
    }
    copies.push_back(copy);
    return copy;
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
        emuTapObject(handle, "TAPDirStackDepth", sizeof(int));  // read when the TAP ends
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
    if (!loaderReadWhole(from, bytes)) return false;
    int fd = open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0755);
    if (fd < 0) return false;
    bool ok = write(fd, bytes.data(), bytes.size()) == (ssize_t)bytes.size();
    return close(fd) == 0 && ok;
}

/* A call pointer of the TAP: only a pointer-sized data object in one of
 * the TAP's own writable segments is filled in (a broken symbol table may
 * name code or read-only data instead). */
static void *lookupInTap(void *handle, const char *name) { return emuTapObject(handle, name, sizeof(void *)); }

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
    // every check is on the bytes that are loaded
    std::string code = privateCopy(host, reason);
    if (code.empty() || !emuReadTapId(code, &id, reason) || !loaderSegmentsSound(code, reason) ||
        !loadsInChild(code, reason)) {
        setError(err, errSize, std::string(path) + ": " + reason);
        return -1;
    }
    void *handle = dlopen(code.c_str(), RTLD_NOW | RTLD_LOCAL);
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
    loaded.push_back(handle);
    emuSlots[slot].code = handle;
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

void *emuTapSymbol(int slot, const char *name) {
    if (slot < 0 || slot >= EMU_SLOTS || !emuSlots[slot].used || !emuSlots[slot].code || !name) return nullptr;
    return emuRealDlsym(emuSlots[slot].code, name);
}

/* The test program itself: its call pointers are its own exported symbols. */
static void *lookupInProgram(void *, const char *name) { return emuRealDlsym(RTLD_DEFAULT, name); }

int emuAttachProgram(const char *firmwarePath, const char *cwd, EmuEventHandler handler) {
    if (!emu.started) return -1;
    dword id = 0;
    std::string reason;
    std::string host = emuHostPath(firmwarePath ? firmwarePath : "");
    if (access(host.c_str(), R_OK) == 0) emuReadTapId(host, &id, reason);
    int slot = emuClaimSlot(firmwarePath, cwd, handler, id);
    if (slot < 0) return -1;
    emuFillCalls(lookupInProgram, nullptr);
    _curTapTask = slot;
    return slot;
}

