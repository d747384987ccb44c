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
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

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

/* Copies the TAP file on the disk into a private file of this load in the
 * copies folder, which the dynamic loader maps: a later change of the file
 * on the disk (the shell's cp rewrites it in place) cannot reach the
 * loaded code, and each load has globals of its own.  The copy's path, or
 * "" with a reason. */
static std::string privateCopy(const std::string &host, std::string &reason) {
    std::vector<unsigned char> bytes;
    reason = "cannot read the file";
    if (!loaderReadWhole(host, bytes)) return "";
    reason = "cannot make a private folder for the TAP files under TMPDIR or /tmp";
    const std::string &folder = receiverCopiesFolder();
    if (folder.empty()) return "";
    reason = "cannot copy it into the receiver's private folder";
    std::string name = host.substr(host.rfind('/') + 1);
    std::string copy = folder + "/" + std::to_string(copies.size() + 1) + "-" + name;
    // the copies folder lies outside the disk: the platform's own calls write it
    REAL(open);
    REAL(unlink);
    int fd = real_open(copy.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0700);
    if (fd < 0) return "";
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n <= 0) break;
        done += (size_t)n;
    }
    if (close(fd) != 0 || done != bytes.size()) {
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

