/*
 * Between the TAPs and libc.  The calls that take a path are defined here
 * under libc's names, so that every caller in the process reaches them
 * first: "/mnt/hd/..." lands in the disk folder, "/dev/pts/N" opens the
 * console capture, and while a receiver runs nothing outside the disk and
 * output folders can be created, changed or deleted (EACCES).
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
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>
#include <utime.h>

#include <vector>

#include "platform.h"

/* The pointer as it is, hidden from the compiler: libc declares the path
 * arguments non-null, yet a TAP may pass null, which the real call refuses
 * (EFAULT) or, for utimensat, takes as the futimens form. */
static inline const char *unchecked(const char *p) {
    __asm__("" : "+r"(p));
    return p;
}

/* N of "/dev/pts/N", or -1 for any other path. */
static int ptsNumber(const char *path) {
    static const char prefix[] = "/dev/pts/";
    path = unchecked(path);
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
static bool refuse(void) {
    errno = EACCES;
    return true;
}

/* true (errno EACCES) when the call must not change the mapped path. */
static bool refused(const std::string &mapped, bool follow = true) {
    if (emuMayChange(mapped, follow)) return false;
    return refuse();
}

/* true (EACCES) when the call would rename or remove the disk folder, the
 * output folder or a folder above them. */
static bool holdsFolders(const std::string &mapped) {
    if (!emuHoldsFolders(mapped)) return false;
    return refuse();
}

/* The real call on the mapped path, unless that path must not change
 * (-1, EACCES).  follow: whether the call follows a final link. */
template <typename Real, typename... Args>
static int onMapped(Real real, const char *path, bool follow, Args... args) {
    std::string mapped = emuMapPath(path);
    if (refused(mapped, follow)) return -1;
    return real(mapped.c_str(), args...);
}

static bool openWrites(int flags) { return (flags & (O_WRONLY | O_RDWR | O_CREAT | O_TRUNC | O_APPEND)) != 0; }

static bool modeWrites(const char *mode) { return mode && (mode[0] != 'r' || strchr(mode, '+')); }

/* What an open or fopen does to its file, for the faults. */
static int openAccess(int flags) {
    if (flags & O_CREAT) return FAULT_CREATES;
    return openWrites(flags) ? FAULT_CHANGES : FAULT_LOOKS;
}
static int modeAccess(const char *mode) {
    if (!modeWrites(mode)) return FAULT_LOOKS;
    return mode[0] == 'r' ? FAULT_CHANGES : FAULT_CREATES;
}

/* The code that called the interposed call. */
#define CALLER __builtin_return_address(0)

/* -1 with errno set to error. */
static int failWith(int error) {
    errno = error;
    return -1;
}

/* ---- The interposed calls ------------------------------------------- */

typedef int (*OpenFunction)(const char *, int, ...);

/* A terminal of the console: a new descriptor of the console that the
 * receiver opened at its start.  Without the sandbox that is the capture
 * out/console.bin, so that nothing put in place of it since then is
 * followed; in the sandbox it is the terminal bound at /dev/pts/N, which
 * the kernel would open anew for every piece a TAP writes (a path walk
 * and an open of the host side's FIFO for each piece; a duplicate is one
 * cheap call). */
static int openConsole(int n, int flags, mode_t mode) {
    (void)flags, (void)mode;
    if (emu.options.firstPts < 0 || n < emu.options.firstPts || emu.consoleFd < 0 ||
        (emu.kernelConfined && n != emu.options.firstPts)) {
        errno = ENOENT;
        return -1;
    }
    return dup(emu.consoleFd);
}

static int mappedOpen(OpenFunction real, const char *path, int flags, mode_t mode, const void *caller) {
    FaultScope scope(caller);
    if (int error = faultsPath(scope, FAULT_OPEN, unchecked(path), openAccess(flags))) return failWith(error);
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
    return mappedOpen(real_open, path, flags, mode, CALLER);
}

EMU_EXPORT int open64(const char *path, int flags, ...) {
    va_list ap;
    va_start(ap, flags);
    mode_t mode = modeArgument(flags, ap);
    va_end(ap);
    REAL(open64);
    return mappedOpen(real_open64, path, flags, mode, CALLER);
}

EMU_EXPORT int __open_2(const char *path, int flags) {
    REAL(open);
    return mappedOpen(real_open, path, flags, 0, CALLER);
}

EMU_EXPORT int __open64_2(const char *path, int flags) {
    REAL(open64);
    return mappedOpen(real_open64, path, flags, 0, CALLER);
}

EMU_EXPORT int creat(const char *path, mode_t mode) {
    REAL(open);
    return mappedOpen(real_open, path, O_WRONLY | O_CREAT | O_TRUNC, mode, CALLER);
}

EMU_EXPORT int creat64(const char *path, mode_t mode) {
    REAL(open64);
    return mappedOpen(real_open64, path, O_WRONLY | O_CREAT | O_TRUNC, mode, CALLER);
}

typedef FILE *(*FopenFunction)(const char *, const char *);

static FILE *mappedFopen(FopenFunction real, const char *path, const char *mode, const void *caller) {
    FaultScope scope(caller);
    if (int error = faultsPath(scope, FAULT_FOPEN, unchecked(path), modeAccess(mode))) {
        errno = error;
        return nullptr;
    }
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
    return mappedFopen(real_fopen, path, mode, CALLER);
}

EMU_EXPORT FILE *fopen64(const char *path, const char *mode) {
    REAL(fopen64);
    return mappedFopen(real_fopen64, path, mode, CALLER);
}

/* A status call on the mapped path, unless a fault strikes it. */
template <typename Real, typename Status>
static int mappedStatus(Real real, int call, const char *path, Status *st, const void *caller) {
    FaultScope scope(caller);
    if (int error = faultsPath(scope, call, unchecked(path), FAULT_LOOKS)) return failWith(error);
    return real(emuMapPath(path).c_str(), st);
}

EMU_EXPORT int stat(const char *path, struct stat *st) {
    REAL(stat);
    return mappedStatus(real_stat, FAULT_STAT64, path, st, CALLER);
}

EMU_EXPORT int stat64(const char *path, struct stat64 *st) {
    REAL(stat64);
    return mappedStatus(real_stat64, FAULT_STAT64, path, st, CALLER);
}

EMU_EXPORT int lstat(const char *path, struct stat *st) {
    REAL(lstat);
    return mappedStatus(real_lstat, FAULT_LSTAT64, path, st, CALLER);
}

EMU_EXPORT int lstat64(const char *path, struct stat64 *st) {
    REAL(lstat64);
    return mappedStatus(real_lstat64, FAULT_LSTAT64, path, st, CALLER);
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
    FaultScope scope(CALLER);
    if (int error = faultsPath(scope, FAULT_MKDIR, unchecked(path), FAULT_CREATES)) return failWith(error);
    if (emuIsMountParent(unchecked(path))) {
        errno = EEXIST;
        return -1;
    }
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
    FaultScope scope(CALLER);
    if (int error = faultsChange(scope, "rmdir", unchecked(path), FAULT_CHANGES)) return failWith(error);
    if (holdsFolders(emuMapPath(path))) return -1;
    return onMapped(real_rmdir, path, false);
}

EMU_EXPORT int unlink(const char *path) {
    REAL(unlink);
    FaultScope scope(CALLER);
    if (int error = faultsChange(scope, "unlink", unchecked(path), FAULT_CHANGES)) return failWith(error);
    return onMapped(real_unlink, path, false);
}

EMU_EXPORT int remove(const char *path) {
    REAL(remove);
    FaultScope scope(CALLER);
    if (int error = faultsChange(scope, "remove", unchecked(path), FAULT_CHANGES)) return failWith(error);
    if (holdsFolders(emuMapPath(path))) return -1;
    return onMapped(real_remove, path, false);
}

EMU_EXPORT int rename(const char *from, const char *to) {
    REAL(rename);
    FaultScope scope(CALLER);
    if (int error = faultsChange(scope, "rename", unchecked(from), FAULT_CHANGES)) return failWith(error);
    if (int error = faultsChange(scope, "rename", unchecked(to), FAULT_CREATES)) return failWith(error);
    std::string a = emuMapPath(from), b = emuMapPath(to);
    if (refused(a, false) || refused(b, false) || holdsFolders(a) || holdsFolders(b)) return -1;
    return real_rename(a.c_str(), b.c_str());
}

EMU_EXPORT int symlink(const char *target, const char *linkPath) {
    REAL(symlink);
    FaultScope scope(CALLER);
    if (int error = faultsChange(scope, "symlink", unchecked(linkPath), FAULT_CREATES)) return failWith(error);
    std::string mapped = emuMapPath(linkPath);
    if (refused(mapped, false)) return -1;
    return real_symlink(target, mapped.c_str());
}

EMU_EXPORT int link(const char *from, const char *to) {
    REAL(link);
    FaultScope scope(CALLER);
    if (int error = faultsChange(scope, "link", unchecked(to), FAULT_CREATES)) return failWith(error);
    std::string a = emuMapPath(from), b = emuMapPath(to);
    // a second name inside the disk for an outside file would let later writes reach it
    if (refused(b, false) || refused(a, false)) return -1;
    return real_link(a.c_str(), b.c_str());
}

EMU_EXPORT int utime(const char *path, const struct utimbuf *times) {
    REAL(utime);
    FaultScope scope(CALLER);
    if (int error = faultsPath(scope, FAULT_UTIME, unchecked(path), FAULT_CHANGES)) return failWith(error);
    if (emuIsMountParent(unchecked(path))) return 0;  // the receiver's /mnt, not the PC's
    return onMapped(real_utime, path, true, times);
}

EMU_EXPORT int utimes(const char *path, const struct timeval times[2]) {
    REAL(utimes);
    FaultScope scope(CALLER);
    if (int error = faultsChange(scope, "utimes", unchecked(path), FAULT_CHANGES)) return failWith(error);
    if (emuIsMountParent(unchecked(path))) return 0;
    return onMapped(real_utimes, path, true, times);
}

EMU_EXPORT int chmod(const char *path, mode_t mode) {
    REAL(chmod);
    FaultScope scope(CALLER);
    if (int error = faultsChange(scope, "chmod", unchecked(path), FAULT_CHANGES)) return failWith(error);
    return onMapped(real_chmod, path, true, mode);
}

EMU_EXPORT int truncate(const char *path, off_t length) {
    REAL(truncate);
    FaultScope scope(CALLER);
    if (int error = faultsChange(scope, "truncate", unchecked(path), FAULT_CHANGES)) return failWith(error);
    return onMapped(real_truncate, path, true, length);
}

EMU_EXPORT int truncate64(const char *path, off64_t length) {
    REAL(truncate64);
    FaultScope scope(CALLER);
    if (int error = faultsChange(scope, "truncate64", unchecked(path), FAULT_CHANGES)) return failWith(error);
    return onMapped(real_truncate64, path, true, length);
}

/* ---- Calls relative to a directory descriptor, and on descriptors --- */

/* The path of an open descriptor ("" when it has none, such as a closed
 * one); false when the path is too long to be read whole. */
static bool fdPath(int fd, std::string &path) {
    char link[PATH_MAX];
    std::string proc = "/proc/self/fd/" + std::to_string(fd);
    ssize_t n = readlink(proc.c_str(), link, sizeof link);
    path.clear();
    if (n >= (ssize_t)sizeof link) return false;
    if (n > 0) path.assign(link, (size_t)n);
    return true;
}

/* The path that an *at call with dirfd and path reaches, for the check:
 * absolute and AT_FDCWD paths are mapped like the plain calls' paths, an
 * empty one (AT_EMPTY_PATH) is the descriptor's own file.  "" for a null
 * path, which the call refuses by itself. */
static std::string atTarget(int dirfd, const char *path) {
    path = unchecked(path);
    if (!path) return "";
    if (dirfd == AT_FDCWD && !*path) return ".";
    if (path[0] == '/' || dirfd == AT_FDCWD) return emuMapPath(path);
    std::string base;
    if (!fdPath(dirfd, base) || base.empty() || base[0] != '/') return std::string("/nonexistent-descriptor/") + path;
    return base + "/" + path;
}

/* The path that the real *at call is given: mapped when absolute, kept in
 * mapped; a null path stays null. */
static const char *atArgument(const char *path, std::string &mapped) {
    path = unchecked(path);
    if (!path || path[0] != '/') return path;
    mapped = emuMapPath(path);
    return mapped.c_str();
}

/* true (EACCES) when a call that changes what the descriptor refers to
 * must not do so. */
static bool fdRefused(int fd) {
    if (!emu.started) return false;
    std::string path;
    if (!fdPath(fd, path)) return refuse();
    if (path.empty() || path[0] != '/') return false;  // pipes and sockets are no files on the disk
    return refused(path);
}

EMU_EXPORT int openat(int dirfd, const char *path, int flags, ...) {
    va_list ap;
    va_start(ap, flags);
    mode_t mode = modeArgument(flags, ap);
    va_end(ap);
    REAL(openat);
    if (emu.started && ptsNumber(path) >= 0) return openConsole(ptsNumber(path), flags, mode);
    if (openWrites(flags) && refused(atTarget(dirfd, path), !(flags & O_NOFOLLOW))) return -1;
    std::string mapped;
    return real_openat(dirfd, atArgument(path, mapped), flags, mode);
}

EMU_EXPORT int openat64(int dirfd, const char *path, int flags, ...) {
    va_list ap;
    va_start(ap, flags);
    mode_t mode = modeArgument(flags, ap);
    va_end(ap);
    return openat(dirfd, path, flags | O_LARGEFILE, mode);
}

EMU_EXPORT int mkdirat(int dirfd, const char *path, mode_t mode) {
    REAL(mkdirat);
    if (refused(atTarget(dirfd, path), false)) return -1;
    std::string mapped;
    return real_mkdirat(dirfd, atArgument(path, mapped), mode);
}

EMU_EXPORT int unlinkat(int dirfd, const char *path, int flags) {
    REAL(unlinkat);
    std::string target = atTarget(dirfd, path);
    if (refused(target, false) || holdsFolders(target)) return -1;
    std::string mapped;
    return real_unlinkat(dirfd, atArgument(path, mapped), flags);
}

EMU_EXPORT int renameat(int fromfd, const char *from, int tofd, const char *to) {
    REAL(renameat);
    std::string a = atTarget(fromfd, from), b = atTarget(tofd, to);
    if (refused(a, false) || refused(b, false) || holdsFolders(a) || holdsFolders(b)) return -1;
    std::string mappedFrom, mappedTo;
    return real_renameat(fromfd, atArgument(from, mappedFrom), tofd, atArgument(to, mappedTo));
}

EMU_EXPORT int linkat(int fromfd, const char *from, int tofd, const char *to, int flags) {
    REAL(linkat);
    // with AT_SYMLINK_FOLLOW the new name is one for the link's target
    if (refused(atTarget(tofd, to), false) || refused(atTarget(fromfd, from), (flags & AT_SYMLINK_FOLLOW) != 0))
        return -1;
    std::string mappedFrom, mappedTo;
    return real_linkat(fromfd, atArgument(from, mappedFrom), tofd, atArgument(to, mappedTo), flags);
}

EMU_EXPORT int symlinkat(const char *target, int dirfd, const char *linkPath) {
    REAL(symlinkat);
    if (refused(atTarget(dirfd, linkPath), false)) return -1;
    std::string mapped;
    return real_symlinkat(target, dirfd, atArgument(linkPath, mapped));
}

EMU_EXPORT int fchmodat(int dirfd, const char *path, mode_t mode, int flags) {
    REAL(fchmodat);
    if (refused(atTarget(dirfd, path), !(flags & AT_SYMLINK_NOFOLLOW))) return -1;
    std::string mapped;
    return real_fchmodat(dirfd, atArgument(path, mapped), mode, flags);
}

EMU_EXPORT int fchownat(int dirfd, const char *path, uid_t owner, gid_t group, int flags) {
    REAL(fchownat);
    if (refused(atTarget(dirfd, path), !(flags & AT_SYMLINK_NOFOLLOW))) return -1;
    std::string mapped;
    return real_fchownat(dirfd, atArgument(path, mapped), owner, group, flags);
}

EMU_EXPORT int utimensat(int dirfd, const char *path, const struct timespec times[2], int flags) {
    REAL(utimensat);
    if (!unchecked(path)) {  // the futimens form: the descriptor's own file
        if (fdRefused(dirfd)) return -1;
        return real_utimensat(dirfd, unchecked(nullptr), times, flags);
    }
    if (refused(atTarget(dirfd, path), !(flags & AT_SYMLINK_NOFOLLOW))) return -1;
    std::string mapped;
    return real_utimensat(dirfd, atArgument(path, mapped), times, flags);
}

EMU_EXPORT int chown(const char *path, uid_t owner, gid_t group) {
    return fchownat(AT_FDCWD, path, owner, group, 0);
}

EMU_EXPORT int lchown(const char *path, uid_t owner, gid_t group) {
    return fchownat(AT_FDCWD, path, owner, group, AT_SYMLINK_NOFOLLOW);
}

EMU_EXPORT int mknod(const char *path, mode_t mode, dev_t device) {
    REAL(mknod);
    return onMapped(real_mknod, path, false, mode, device);
}

EMU_EXPORT int mkfifo(const char *path, mode_t mode) {
    REAL(mkfifo);
    return onMapped(real_mkfifo, path, false, mode);
}

EMU_EXPORT FILE *freopen(const char *path, const char *mode, FILE *stream) {
    REAL(freopen);
    if (!path) {  // the stream's own file in another mode
        if (modeWrites(mode) && stream && fdRefused(fileno(stream))) return nullptr;
        return real_freopen(nullptr, mode, stream);
    }
    std::string mapped = emuMapPath(path);
    if (modeWrites(mode) && refused(mapped)) return nullptr;
    return real_freopen(mapped.c_str(), mode, stream);
}

EMU_EXPORT FILE *freopen64(const char *path, const char *mode, FILE *stream) { return freopen(path, mode, stream); }

EMU_EXPORT int fchmod(int fd, mode_t mode) {
    REAL(fchmod);
    if (fdRefused(fd)) return -1;
    return real_fchmod(fd, mode);
}

EMU_EXPORT int fchown(int fd, uid_t owner, gid_t group) {
    REAL(fchown);
    if (fdRefused(fd)) return -1;
    return real_fchown(fd, owner, group);
}

EMU_EXPORT int futimens(int fd, const struct timespec times[2]) {
    REAL(futimens);
    if (fdRefused(fd)) return -1;
    return real_futimens(fd, times);
}

/* mkstemp and its kin create a file in the template's folder. */
EMU_EXPORT int mkostemp(char *pattern, int flags) {
    REAL(mkostemp);
    std::string mapped = emuMapPath(pattern);
    if (refused(mapped, false)) return -1;
    std::vector<char> buffer(mapped.begin(), mapped.end());
    buffer.push_back(0);
    int fd = real_mkostemp(buffer.data(), flags);
    size_t n = strlen(pattern);
    if (fd >= 0 && n >= 6) memcpy(pattern + n - 6, buffer.data() + buffer.size() - 7, 6);  // the name it chose
    return fd;
}

EMU_EXPORT int mkstemp(char *pattern) { return mkostemp(pattern, 0); }
EMU_EXPORT int mkstemp64(char *pattern) { return mkostemp(pattern, O_LARGEFILE); }

EMU_EXPORT int system(const char *command) {
    REAL(system);
    FaultScope scope(CALLER);
    if (int error = faultsSystem(scope, command)) return failWith(error);  // as when no shell could be started
    if (!emu.started || emu.kernelConfined) return real_system(command);  // the receiver's own shell
    if (!command) return 1;  // a shell is there
    // the receiver's shell runs in a process of its own: the caller's errno stays
    int saved = errno;
    int status = emuShell(command);
    errno = saved;
    return status;
}

/* ---- Calls on descriptors that the faults strike -------------------- */

EMU_EXPORT ssize_t write(int fd, const void *bytes, size_t count) {
    REAL(write);
    FaultScope scope(CALLER);
    if (int error = faultsWrite(scope, fd, &count)) return failWith(error);
    ssize_t n = real_write(fd, bytes, count);
    faultsWritten(scope, n);
    return n;
}

EMU_EXPORT ssize_t read(int fd, void *bytes, size_t count) {
    REAL(read);
    FaultScope scope(CALLER);
    if (int error = faultsDescriptor(scope, FAULT_READ, fd, count)) return failWith(error);
    return real_read(fd, bytes, count);
}

EMU_EXPORT void *mmap(void *address, size_t length, int protection, int flags, int fd, off_t offset) {
    REAL(mmap);
    FaultScope scope(CALLER);
    if (int error = faultsDescriptor(scope, FAULT_MMAP, fd, length)) {
        errno = error;
        return MAP_FAILED;
    }
    return real_mmap(address, length, protection, flags, fd, offset);
}

#if !defined(__LP64__)
EMU_EXPORT void *mmap64(void *address, size_t length, int protection, int flags, int fd, off64_t offset) {
    REAL(mmap64);
    FaultScope scope(CALLER);
    if (int error = faultsDescriptor(scope, FAULT_MMAP, fd, length)) {
        errno = error;
        return MAP_FAILED;
    }
    return real_mmap64(address, length, protection, flags, fd, offset);
}
#endif
