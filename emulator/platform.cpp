/*
 * Between the TAPs and libc.  The calls that take a path are defined here
 * under libc's names, so that every caller in the process reaches them
 * first: "/mnt/hd/..." lands in the disk folder, "/dev/pts/N" opens the
 * console capture, and while a receiver runs nothing outside the disk and
 * output folders can be created, changed or deleted (EACCES).  dlsym is
 * defined here too, to count and hide the TAPs' lookups of firmware
 * symbols by name.
 */
#include <dirent.h>
#include <dlfcn.h>
#include <errno.h>
#include <limits.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>
#include <utime.h>

#include <vector>

#include "emucore.h"

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

/* real_NAME: libc's own NAME, looked up once. */
#define REAL(name)                                     \
    static decltype(&::name) real_##name = nullptr;    \
    if (!real_##name) real_##name = (decltype(&::name))emuRealSymbol(#name)

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

/* ---- Mapping -------------------------------------------------------- */

static bool isMounted(const char *path) {
    return strncmp(path, EMU_MOUNT, 7) == 0 && (path[7] == 0 || path[7] == '/');
}

std::string emuMapPath(const char *path) {
    if (!path) return "";
    if (!emu.started || !isMounted(path)) return path;
    return emu.disk + (path + 7);
}

/* N of "/dev/pts/N", or -1 for any other path. */
static int ptsNumber(const char *path) {
    static const char prefix[] = "/dev/pts/";
    if (!path || strncmp(path, prefix, sizeof prefix - 1) != 0) return -1;
    const char *p = path + sizeof prefix - 1;
    if (!*p) return -1;
    int n = 0;
    for (; *p; p++) {
        if (*p < '0' || *p > '9' || n > 100000) return -1;
        n = n * 10 + (*p - '0');
    }
    return n;
}

/* ---- Confinement ---------------------------------------------------- */

static std::string parentOf(const std::string &path) {
    size_t slash = path.rfind('/');
    if (slash == 0 || slash == std::string::npos) return "/";
    return path.substr(0, slash);
}

/* The path with every existing part resolved (links followed) and the
 * rest, which does not exist yet, appended as it is. */
static std::string resolveExisting(const std::string &path, int depth = 0) {
    char real[PATH_MAX];
    if (realpath(path.c_str(), real)) return real;
    if (path == "/" || path.empty() || depth > 64) return path;
    size_t slash = path.rfind('/');
    std::string name = path.substr(slash + 1);
    std::string base = resolveExisting(parentOf(path), depth + 1);
    if (name.empty() || name == ".") return base;
    if (name == "..") return parentOf(base);
    return base == "/" ? "/" + name : base + "/" + name;
}

static bool within(const std::string &path, const std::string &root) {
    return !root.empty() && (path == root || (path.size() > root.size() && path.compare(0, root.size(), root) == 0 &&
                                              path[root.size()] == '/'));
}

bool emuMayChange(const std::string &mapped, bool followFinalLink) {
    if (!emu.started) return true;
    std::string path = mapped;
    if (path.empty()) return true;  // fails by itself
    if (path[0] != '/') {
        char cwd[PATH_MAX];
        if (!getcwd(cwd, sizeof cwd)) return false;
        path = std::string(cwd) + "/" + path;
    }
    for (int hops = 0; hops < 40; hops++) {
        while (path.size() > 1 && path.back() == '/') path.pop_back();
        std::string name = path.substr(path.rfind('/') + 1);
        std::string target;
        if (name.empty() || name == "." || name == "..")
            target = resolveExisting(path);
        else {
            std::string base = resolveExisting(parentOf(path));
            target = base == "/" ? "/" + name : base + "/" + name;
        }
        struct stat64 st;
        char link[PATH_MAX];
        ssize_t n;
        if (!followFinalLink || lstat64(target.c_str(), &st) != 0 || !S_ISLNK(st.st_mode) ||
            (n = readlink(target.c_str(), link, sizeof link - 1)) <= 0)
            return within(target, emu.diskReal) || within(target, emu.outReal);
        link[n] = 0;
        path = link[0] == '/' ? std::string(link) : parentOf(target) + "/" + link;
    }
    return false;  // a loop of links
}

static bool refuse(void) {
    errno = EACCES;
    return true;
}

/* true (errno EACCES) when the call must not change the mapped path. */
static bool refused(const std::string &mapped, bool follow = true) {
    if (emuMayChange(mapped, follow)) return false;
    return refuse();
}

static bool openWrites(int flags) { return (flags & (O_WRONLY | O_RDWR | O_CREAT | O_TRUNC | O_APPEND)) != 0; }

static bool modeWrites(const char *mode) { return mode && (mode[0] != 'r' || strchr(mode, '+')); }

/* ---- The interposed calls ------------------------------------------- */

typedef int (*OpenFunction)(const char *, int, ...);

static int openConsole(int n, int flags, mode_t mode) {
    (void)flags, (void)mode;
    if (emu.options.firstPts < 0 || n < emu.options.firstPts) {
        errno = ENOENT;
        return -1;
    }
    REAL(open);
    return real_open(emuConsolePath().c_str(), O_RDWR | O_CREAT | O_APPEND, 0644);
}

static int mappedOpen(OpenFunction real, const char *path, int flags, mode_t mode) {
    if (emu.started) {
        int n = ptsNumber(path);
        if (n >= 0) return openConsole(n, flags, mode);
    }
    std::string mapped = emuMapPath(path);
    if (openWrites(flags) && refused(mapped, !(flags & O_NOFOLLOW))) return -1;
    return real(mapped.c_str(), flags, mode);
}

static mode_t modeArgument(int flags, va_list ap) {
    return (flags & O_CREAT) || (flags & O_TMPFILE) == O_TMPFILE ? (mode_t)va_arg(ap, int) : 0;
}

EMU_EXPORT int open(const char *path, int flags, ...) {
    va_list ap;
    va_start(ap, flags);
    mode_t mode = modeArgument(flags, ap);
    va_end(ap);
    REAL(open);
    return mappedOpen(real_open, path, flags, mode);
}

EMU_EXPORT int open64(const char *path, int flags, ...) {
    va_list ap;
    va_start(ap, flags);
    mode_t mode = modeArgument(flags, ap);
    va_end(ap);
    REAL(open64);
    return mappedOpen(real_open64, path, flags, mode);
}

EMU_EXPORT int __open_2(const char *path, int flags) {
    REAL(open);
    return mappedOpen(real_open, path, flags, 0);
}

EMU_EXPORT int __open64_2(const char *path, int flags) {
    REAL(open64);
    return mappedOpen(real_open64, path, flags, 0);
}

EMU_EXPORT int creat(const char *path, mode_t mode) {
    REAL(open);
    return mappedOpen(real_open, path, O_WRONLY | O_CREAT | O_TRUNC, mode);
}

EMU_EXPORT int creat64(const char *path, mode_t mode) {
    REAL(open64);
    return mappedOpen(real_open64, path, O_WRONLY | O_CREAT | O_TRUNC, mode);
}

typedef FILE *(*FopenFunction)(const char *, const char *);

static FILE *mappedFopen(FopenFunction real, const char *path, const char *mode) {
    if (emu.started && ptsNumber(path) >= 0) {
        int fd = openConsole(ptsNumber(path), O_RDWR, 0);
        if (fd < 0) return nullptr;
        FILE *f = fdopen(fd, "a+");
        if (!f) close(fd);
        return f;
    }
    std::string mapped = emuMapPath(path);
    if (modeWrites(mode) && refused(mapped)) return nullptr;
    return real(mapped.c_str(), mode);
}

EMU_EXPORT FILE *fopen(const char *path, const char *mode) {
    REAL(fopen);
    return mappedFopen(real_fopen, path, mode);
}

EMU_EXPORT FILE *fopen64(const char *path, const char *mode) {
    REAL(fopen64);
    return mappedFopen(real_fopen64, path, mode);
}

EMU_EXPORT int stat(const char *path, struct stat *st) {
    REAL(stat);
    return real_stat(emuMapPath(path).c_str(), st);
}

EMU_EXPORT int stat64(const char *path, struct stat64 *st) {
    REAL(stat64);
    return real_stat64(emuMapPath(path).c_str(), st);
}

EMU_EXPORT int lstat(const char *path, struct stat *st) {
    REAL(lstat);
    return real_lstat(emuMapPath(path).c_str(), st);
}

EMU_EXPORT int lstat64(const char *path, struct stat64 *st) {
    REAL(lstat64);
    return real_lstat64(emuMapPath(path).c_str(), st);
}

EMU_EXPORT int access(const char *path, int how) {
    REAL(access);
    return real_access(emuMapPath(path).c_str(), how);
}

EMU_EXPORT DIR *opendir(const char *path) {
    REAL(opendir);
    return real_opendir(emuMapPath(path).c_str());
}

EMU_EXPORT int chdir(const char *path) {
    REAL(chdir);
    return real_chdir(emuMapPath(path).c_str());
}

EMU_EXPORT int mkdir(const char *path, mode_t mode) {
    REAL(mkdir);
    std::string mapped = emuMapPath(path);
    struct stat64 st;
    if (!emuMayChange(mapped, false)) {
        errno = lstat64(mapped.c_str(), &st) == 0 ? EEXIST : EACCES;  // an existing folder stays as it was
        return -1;
    }
    return real_mkdir(mapped.c_str(), mode);
}

EMU_EXPORT int rmdir(const char *path) {
    REAL(rmdir);
    std::string mapped = emuMapPath(path);
    if (refused(mapped, false)) return -1;
    return real_rmdir(mapped.c_str());
}

EMU_EXPORT int unlink(const char *path) {
    REAL(unlink);
    std::string mapped = emuMapPath(path);
    if (refused(mapped, false)) return -1;
    return real_unlink(mapped.c_str());
}

EMU_EXPORT int remove(const char *path) {
    REAL(remove);
    std::string mapped = emuMapPath(path);
    if (refused(mapped, false)) return -1;
    return real_remove(mapped.c_str());
}

EMU_EXPORT int rename(const char *from, const char *to) {
    REAL(rename);
    std::string a = emuMapPath(from), b = emuMapPath(to);
    if ((refused(a, false) || refused(b, false))) return -1;
    return real_rename(a.c_str(), b.c_str());
}

EMU_EXPORT int symlink(const char *target, const char *linkPath) {
    REAL(symlink);
    std::string mapped = emuMapPath(linkPath);
    if (refused(mapped, false)) return -1;
    return real_symlink(target, mapped.c_str());
}

EMU_EXPORT int link(const char *from, const char *to) {
    REAL(link);
    std::string a = emuMapPath(from), b = emuMapPath(to);
    // a second name inside the disk for an outside file would let later writes reach it
    if (refused(b, false) || refused(a, false)) return -1;
    return real_link(a.c_str(), b.c_str());
}

EMU_EXPORT int utime(const char *path, const struct utimbuf *times) {
    REAL(utime);
    std::string mapped = emuMapPath(path);
    if (refused(mapped)) return -1;
    return real_utime(mapped.c_str(), times);
}

EMU_EXPORT int utimes(const char *path, const struct timeval times[2]) {
    REAL(utimes);
    std::string mapped = emuMapPath(path);
    if (refused(mapped)) return -1;
    return real_utimes(mapped.c_str(), times);
}

EMU_EXPORT int chmod(const char *path, mode_t mode) {
    REAL(chmod);
    std::string mapped = emuMapPath(path);
    if (refused(mapped)) return -1;
    return real_chmod(mapped.c_str(), mode);
}

EMU_EXPORT int truncate(const char *path, off_t length) {
    REAL(truncate);
    std::string mapped = emuMapPath(path);
    if (refused(mapped)) return -1;
    return real_truncate(mapped.c_str(), length);
}

EMU_EXPORT int truncate64(const char *path, off64_t length) {
    REAL(truncate64);
    std::string mapped = emuMapPath(path);
    if (refused(mapped)) return -1;
    return real_truncate64(mapped.c_str(), length);
}

EMU_EXPORT int system(const char *command) {
    REAL(system);
    if (!emu.started) return real_system(command);
    if (!command) return 1;  // a shell is there
    return emuShell(command);
}
