/*
 * The host side's folders: the disk and output folders apart from each
 * other, and the TAP files the user names put onto the disk before the
 * receiver side starts.  Entries on the disk may be links that a TAP left
 * there: nothing here writes through one.
 */
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "../platform/platform.h"
#include "host.h"

static bool makeFolders(const std::string &path) {
    for (size_t i = 1; i <= path.size(); i++) {
        if (i != path.size() && path[i] != '/') continue;
        if (mkdir(path.substr(0, i).c_str(), 0777) != 0 && errno != EEXIST) return false;
    }
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

static std::string resolved(const std::string &path) {
    char real[PATH_MAX];
    return realpath(path.c_str(), real) ? real : path;
}

static bool within(const std::string &path, const std::string &root) {
    return path == root || root == "/" || (path.size() > root.size() && path.compare(0, root.size(), root) == 0 &&
                                           path[root.size()] == '/');
}

bool hostFolders(const std::string &disk, const std::string &out, std::string &reason) {
    struct stat st;
    if (stat(disk.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        reason = "disk folder " + disk + " does not exist";
        return false;
    }
    std::string diskReal = resolved(disk), outReal = resolved(out);
    if (within(outReal, diskReal) || within(diskReal, outReal)) {
        reason = "the disk folder " + disk + " and the output folder " + out +
                 " may not be the same folder or one inside the other";
        return false;
    }
    if (!makeFolders(out)) {
        reason = "cannot create output folder " + out;
        return false;
    }
    return true;
}

/* Copies the PC file from into the disk's /ProgramFiles as name. */
static bool copyOntoDisk(int diskFolder, const std::string &from, const std::string &name) {
    int in = open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) return false;
    int folder = openat(diskFolder, "ProgramFiles", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (folder < 0 && errno == ENOENT && mkdirat(diskFolder, "ProgramFiles", 0777) == 0)
        folder = openat(diskFolder, "ProgramFiles", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    int out = -1;
    if (folder >= 0 && (unlinkat(folder, name.c_str(), 0) == 0 || errno == ENOENT))
        out = openat(folder, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0755);
    bool ok = out >= 0;
    char buffer[65536];
    while (ok) {
        ssize_t n = read(in, buffer, sizeof buffer);
        if (n == 0) break;
        ok = n > 0 && write(out, buffer, (size_t)n) == n;
    }
    if (out >= 0 && close(out) != 0) ok = false;
    if (folder >= 0) close(folder);
    close(in);
    return ok;
}

bool hostPlaceTap(int diskFolder, const std::string &disk, const std::string &tap, std::string &firmwarePath,
                  std::string &reason) {
    struct stat st;
    firmwarePath = tap;
    if (tap.empty()) return true;
    std::string onDisk = emuNormalise("/", tap.c_str());
    if (tap[0] == '/' && fstatat(diskFolder, ("." + onDisk).c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
        firmwarePath = onDisk;
        return true;
    }
    if (stat(tap.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return true;  // the receiver side says so
    std::string real = resolved(tap), diskReal = resolved(disk);
    if (within(real, diskReal) && real != diskReal) {
        firmwarePath = real.substr(diskReal == "/" ? 0 : diskReal.size());
        return true;
    }
    std::string name = tap.substr(tap.rfind('/') + 1);
    firmwarePath = "/ProgramFiles/" + name;
    if (!copyOntoDisk(diskFolder, tap, name)) {
        reason = tap + ": cannot copy it into /ProgramFiles";
        return false;
    }
    return true;
}
