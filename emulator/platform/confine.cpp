/*
 * The receiver's disk and confinement: "/mnt/hd/..." lands in the disk
 * folder, and while a receiver runs nothing outside the disk and output
 * folders may be created, changed or deleted.
 */
#include <errno.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform.h"

/* ---- Mapping -------------------------------------------------------- */

static bool isMounted(const char *path) {
    return strncmp(path, EMU_MOUNT, 7) == 0 && (path[7] == 0 || path[7] == '/');
}

std::string emuMapPath(const char *path) {
    if (!path) return "";
    if (!emu.started || emu.kernelConfined || !isMounted(path)) return path;
    return emu.disk + (path + 7);
}

bool emuIsMountParent(const char *path) {
    if (!path || !emu.started || emu.kernelConfined || strncmp(path, "/mnt", 4) != 0) return false;
    path += 4;
    while (*path == '/') path++;
    return *path == 0;
}
/* ---- Confinement ---------------------------------------------------- */

static std::string parentOf(const std::string &path) {
    size_t slash = path.rfind('/');
    if (slash == 0 || slash == std::string::npos) return "/";
    return path.substr(0, slash);
}

/* The path with every existing part resolved (links followed) and the
 * rest, which does not exist yet, appended as it is.  false when that
 * cannot be told safely: a path too long to resolve, a loop of links, a
 * part that exists but does not resolve (a dangling link on the way), any
 * other error of the platform. */
static bool resolveExisting(const std::string &path, std::string &resolved, int depth = 0) {
    if (path.empty() || path.size() >= PATH_MAX || depth > 64) return false;
    char real[PATH_MAX];
    if (realpath(path.c_str(), real)) {
        resolved = real;
        return true;
    }
    if ((errno != ENOENT && errno != ENOTDIR) || path == "/") return false;
    size_t slash = path.rfind('/');
    std::string name = path.substr(slash + 1);
    std::string base;
    if (!resolveExisting(parentOf(path), base, depth + 1)) return false;
    if (name.empty() || name == ".") {
        resolved = base;
    } else if (name == "..") {
        resolved = parentOf(base);
    } else {
        resolved = base == "/" ? "/" + name : base + "/" + name;
        struct stat64 st;
        if (lstat64(resolved.c_str(), &st) == 0) return false;  // there, yet the path through it does not resolve
    }
    return true;
}

static bool within(const std::string &path, const std::string &root) {
    return !root.empty() && (path == root || (path.size() > root.size() && path.compare(0, root.size(), root) == 0 &&
                                              path[root.size()] == '/'));
}

/* The object that a call on the mapped path reaches, resolved: its folder
 * with every link followed, and the final link followed as well when the
 * call follows it.  false when that cannot be told safely. */
static bool callTarget(const std::string &mapped, bool followFinalLink, std::string &target) {
    std::string path = mapped;
    if (path[0] != '/') {
        char cwd[PATH_MAX];
        if (!getcwd(cwd, sizeof cwd)) return false;
        path = std::string(cwd) + "/" + path;
    }
    for (int hops = 0; hops < 40; hops++) {
        if (path.size() >= PATH_MAX) return false;
        while (path.size() > 1 && path.back() == '/') path.pop_back();
        std::string name = path.substr(path.rfind('/') + 1);
        if (name.empty() || name == "." || name == "..") {
            if (!resolveExisting(path, target)) return false;
        } else {
            std::string base;
            if (!resolveExisting(parentOf(path), base)) return false;
            target = base == "/" ? "/" + name : base + "/" + name;
        }
        struct stat64 st;
        if (!followFinalLink || lstat64(target.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return true;
        char link[PATH_MAX];
        ssize_t n = readlink(target.c_str(), link, sizeof link);
        if (n <= 0 || n >= (ssize_t)sizeof link) return false;
        link[n] = 0;
        path = link[0] == '/' ? std::string(link) : parentOf(target) + "/" + link;
    }
    return false;  // a loop of links
}

/* Keeps errno as the caller left it: looking at the path must not leave
 * a trace in errno after a call of the TAP that works. */
struct KeptErrno {
    int saved = errno;
    ~KeptErrno() { errno = saved; }
};

bool emuMayChange(const std::string &mapped, bool followFinalLink) {
    if (!emu.started || emu.kernelConfined) return true;  // the kernel decides
    if (mapped.empty()) return true;  // fails by itself
    KeptErrno kept;
    std::string target;
    if (!callTarget(mapped, followFinalLink, target)) return false;
    return within(target, emu.diskReal) || within(target, emu.outReal);
}

bool emuHoldsFolders(const std::string &mapped) {
    if (!emu.started || emu.kernelConfined || mapped.empty()) return false;
    KeptErrno kept;
    std::string target;
    if (!callTarget(mapped, false, target)) return true;
    return within(emu.diskReal, target) || within(emu.outReal, target);
}
