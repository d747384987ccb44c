/*
 * A receiver's life in the stand-in: emuStart brings up a fresh one on a
 * disk folder (empty task table, clock, outputs, confinement),
 * emuStartConfined one inside the sandbox, and emuStop ends every TAP,
 * writes the closing summary and closes the outputs.  Builds on the
 * firmware's rooms before it: base, display, platform, tasks, calls and
 * loader.
 */
#include <dirent.h>
#include <fcntl.h>
#include <dlfcn.h>
#include <errno.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "../calls/calls.h"
#include "../display/osd.h"
#include "../loader/loader.h"
#include "../platform/platform.h"
#include "../tasks/tasks.h"
#include "receiver.h"

/* The library of UTF-8 firmware's routine, while the receiver plays one. */
static void *utf8Library = nullptr;

static void setError(char *err, size_t errSize, const std::string &text) {
    if (err && errSize) snprintf(err, errSize, "%s", text.c_str());
}

static bool makeFolders(const std::string &path) {
    for (size_t i = 1; i <= path.size(); i++) {
        if (i != path.size() && path[i] != '/') continue;
        std::string part = path.substr(0, i);
        if (mkdir(part.c_str(), 0777) != 0 && errno != EEXIST) return false;
    }
    struct stat64 st;
    return stat64(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

static bool within(const std::string &path, const std::string &root) {
    if (root.empty() || path.empty()) return false;  // no output folder inside the sandbox
    return path == root || (path.size() > root.size() && path.compare(0, root.size(), root) == 0 &&
                            path[root.size()] == '/');
}

/* A fresh folder under TMPDIR (else /tmp), never inside the disk or
 * output folder.  "" when none can be made. */
static std::string makeCopiesFolder(void) {
    const char *tmp = getenv("TMPDIR");
    const char *bases[] = {tmp && *tmp ? tmp : "/tmp", "/tmp"};
    for (const char *base : bases) {
        std::string pattern = std::string(base) + "/tapemu-XXXXXX";
        if (!mkdtemp(&pattern[0])) continue;
        char real[PATH_MAX];
        if (realpath(pattern.c_str(), real) && !within(real, emu.diskReal) && !within(real, emu.outReal) &&
            !within(emu.diskReal, real) && !within(emu.outReal, real))
            return real;
        rmdir(pattern.c_str());
    }
    return "";
}

const std::string &receiverCopiesFolder(void) {
    if (emu.tapCopies.empty()) emu.tapCopies = makeCopiesFolder();
    return emu.tapCopies;
}

/* Removes the copies folder and the copies left in it. */
static void removeCopiesFolder(void) {
    if (emu.tapCopies.empty()) return;
    if (DIR *dir = opendir(emu.tapCopies.c_str())) {
        while (struct dirent64 *e = readdir64(dir))
            if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0)
                unlink((emu.tapCopies + "/" + e->d_name).c_str());
        closedir(dir);
    }
    rmdir(emu.tapCopies.c_str());
    emu.tapCopies.clear();
}

/* The UTF-8 routine lives in a library beside this one. */
static bool loadUtf8Firmware(std::string &lib) {
    Dl_info info;
    std::string dir = ".";
    if (dladdr((void *)&emuStart, &info) && info.dli_fname) {
        dir = info.dli_fname;
        size_t slash = dir.rfind('/');
        dir = slash == std::string::npos ? "." : dir.substr(0, slash);
    }
    lib = dir + "/libtapemu_utf8.so";
    utf8Library = dlopen(lib.c_str(), RTLD_NOW | RTLD_GLOBAL);
    return utf8Library != nullptr;
}

/* The fault options of emu.options, copied into emu. */
static void copyFaults(void) {
    emu.faultWords.clear();
    emu.faultPointers.clear();
    for (const char *const *w = emu.options.faults; w && *w; w++) emu.faultWords.push_back(*w);
    for (const std::string &w : emu.faultWords) emu.faultPointers.push_back(w.c_str());
    emu.faultPointers.push_back(nullptr);
    emu.options.faults = emu.faultPointers.data();
}

/* The rest of a start, on the folders in emu: the faults, the clock, no
 * pictures, a fresh heap, an empty task table and screen, the UTF-8
 * routine when asked for. */
static int startFresh(char *err, size_t errSize) {
    copyFaults();
    std::string failure;
    if (!faultsStart(emu.options.faults, emu.options.traceCalls != 0, failure)) {
        traceClose();
        if (emu.consoleFd >= 0) close(emu.consoleFd);
        emu.consoleFd = -1;
        setError(err, errSize, failure);
        return 0;
    }
    callsResetClock();
    callsResetPictures();
    callsResetHeap();
    tasksReset();
    emuLookupReset();
    osdReset();
    std::string lib;
    if (emu.options.utf8Firmware && !loadUtf8Firmware(lib))
        failure = "cannot load " + lib;
    if (!failure.empty()) {
        traceClose();
        if (emu.consoleFd >= 0) close(emu.consoleFd);
        emu.consoleFd = -1;
        removeCopiesFolder();
        faultsStop();
        setError(err, errSize, failure);
        return 0;
    }
    emu.started = true;
    return 1;
}

int emuStart(const EmuOptions *options, char *err, size_t errSize) {
    if (emu.started) emuStop();
    if (!options || !options->disk || !options->out) {
        setError(err, errSize, "no disk or output folder given");
        return 0;
    }
    struct stat64 st;
    if (stat64(options->disk, &st) != 0 || !S_ISDIR(st.st_mode)) {
        setError(err, errSize, std::string("disk folder ") + options->disk + " does not exist");
        return 0;
    }
    if (!makeFolders(options->out)) {
        setError(err, errSize, std::string("cannot create output folder ") + options->out);
        return 0;
    }
    emu = EmuState();
    emu.options = *options;
    emu.disk = options->disk;
    emu.out = options->out;
    while (emu.disk.size() > 1 && emu.disk.back() == '/') emu.disk.pop_back();
    while (emu.out.size() > 1 && emu.out.back() == '/') emu.out.pop_back();
    emu.options.disk = emu.disk.c_str();
    emu.options.out = emu.out.c_str();
    char real[PATH_MAX];
    emu.diskReal = realpath(emu.disk.c_str(), real) ? real : emu.disk;
    emu.outReal = realpath(emu.out.c_str(), real) ? real : emu.out;

    if (options->noOutputs) return startFresh(err, errSize);
    if (!traceOpen(emu.out + "/trace.txt")) {
        setError(err, errSize, "cannot create " + emu.out + "/trace.txt");
        return 0;
    }
    emu.consoleFd = emuCreateOutput(emuConsolePath(), O_APPEND);
    if (emu.consoleFd < 0) {
        traceClose();
        setError(err, errSize, "cannot create " + emuConsolePath());
        return 0;
    }
    return startFresh(err, errSize);
}

int emuStartConfined(const EmuOptions *options, char *err, size_t errSize) {
    if (emu.started) emuStop();
    emu = EmuState();
    emu.kernelConfined = true;
    emu.options = *options;
    emu.disk = emu.diskReal = EMU_MOUNT;
    emu.options.disk = emu.disk.c_str();
    emu.options.out = nullptr;
    // the console terminal, kept open: the TAPs' opens of it get duplicates
    if (options->firstPts >= 0)
        emu.consoleFd = open(("/dev/pts/" + std::to_string(options->firstPts)).c_str(), O_RDWR | O_CLOEXEC);
    return startFresh(err, errSize);
}

void emuStop(void) {
    if (!emu.started) return;
    tasksStop();
    faultsStop();
    traceClose();
    if (emu.consoleFd >= 0) close(emu.consoleFd);
    emu.consoleFd = -1;
    emu.started = false;
    loaderUnloadAll();
    removeCopiesFolder();
    if (utf8Library) dlclose(utf8Library);
    utf8Library = nullptr;
    osdReset();
}

dword emuOsdPixel(int region, int x, int y) { return osdPixel(region, x, y); }
