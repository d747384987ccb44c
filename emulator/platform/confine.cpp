/*
 * The receiver's disk and confinement: "/mnt/hd/..." lands in the disk
 * folder, and while a receiver runs nothing outside the disk and output
 * folders may be created, changed or deleted.
 */
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
    if (!emu.started || emu.kernelConfined) return true;  // the kernel decides
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
