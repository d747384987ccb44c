/*
 * Faults of the receiver's disk and heap, injected into the TAPs' calls:
 * a call that fails with a chosen errno (every one or only the Nth), a
 * disk that fills up, a write that comes up short, a folder that cannot
 * be written, a heap with few blocks.  Only the TAPs' own calls are
 * counted and faulted: calls made from a loaded TAP file's code, or from
 * the test program that attached itself as a TAP, on the disk (a path
 * under /mnt/hd, a descriptor of a file there; system() whatever its
 * command), and the disk work that TAP_Hdd_Create does for the TAP.
 * The firmware's own work (the trace, the copies of TAP files, its
 * checks of a path, the built-in shell, the host side) is never counted
 * or faulted, nor is anything that a library under the firmware does.
 * Every fault that strikes leaves one FAULT line in the trace.
 */
#include <errno.h>
#include <link.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "platform.h"

/* ---- What the options ask for -------------------------------------- */

static const char *const callNames[FAULT_CALLS] = {"open",  "read", "write",  "stat64", "lstat64",
                                                   "mkdir", "utime", "mmap", "system", "fopen"};

struct ErrorName {
    const char *name;
    int value;
};

/* The errno names that --fail takes, with this platform's values. */
static const ErrorName errorNames[] = {
    {"EPERM", EPERM},   {"ENOENT", ENOENT},   {"EINTR", EINTR},     {"EIO", EIO},
    {"ENXIO", ENXIO},   {"EBADF", EBADF},     {"EAGAIN", EAGAIN},   {"ENOMEM", ENOMEM},
    {"EACCES", EACCES}, {"EFAULT", EFAULT},   {"EBUSY", EBUSY},     {"EEXIST", EEXIST},
    {"EXDEV", EXDEV},   {"ENODEV", ENODEV},   {"ENOTDIR", ENOTDIR}, {"EISDIR", EISDIR},
    {"EINVAL", EINVAL}, {"ENFILE", ENFILE},   {"EMFILE", EMFILE},   {"ETXTBSY", ETXTBSY},
    {"EFBIG", EFBIG},   {"ENOSPC", ENOSPC},   {"ESPIPE", ESPIPE},   {"EROFS", EROFS},
    {"EMLINK", EMLINK}, {"ENAMETOOLONG", ENAMETOOLONG}, {"ENOSYS", ENOSYS},
    {"ENOTEMPTY", ENOTEMPTY}, {"ELOOP", ELOOP}, {"EOVERFLOW", EOVERFLOW}, {"ESTALE", ESTALE},
    {"EDQUOT", EDQUOT}, {"ETIMEDOUT", ETIMEDOUT},
};

/* One --fail: every call of its kind (nth 0) or only the nth. */
struct FailRule {
    int call;
    int error;
    unsigned nth;
    std::string option;  // as the command line gives it, for the trace
};

/* The faults of the running receiver, from emuStart to emuStop. */
struct Faults {
    bool active = false;  // any fault or --trace-calls: calls are looked at
    bool traceCalls = false;
    std::vector<FailRule> fails;
    std::vector<unsigned> shortWrites;
    bool diskFull = false;
    unsigned long long diskFullBytes = 0;
    std::vector<std::string> readOnly;  // "/mnt/hd/ProgramFiles/Settings", as the option named it
    std::vector<std::string> readOnlyOption;
    bool heapLimited = false;
    unsigned heapBlocks = 0;
    unsigned counts[FAULT_CALLS] = {};
    unsigned long long written = 0;  // bytes the TAPs wrote to the disk
};
static Faults faults;

/* > 0 while a call of the platform runs: the calls it makes itself are
 * the firmware's. */
static int callDepth = 0;
/* > 0 while the firmware does a TAP's disk work for it (TAP_Hdd_Create). */
static int onBehalf = 0;

static std::string errorName(int error) {
    for (const ErrorName &e : errorNames)
        if (e.value == error) return e.name;
    return std::to_string(error);
}

static bool parseCount(const std::string &text, unsigned long long limit, unsigned long long *value) {
    if (text.empty() || text.size() > 20) return false;
    unsigned long long v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + (unsigned)(c - '0');
        if (v > limit) return false;
    }
    *value = v;
    return true;
}

static std::string knownCalls(void) {
    std::string list;
    for (const char *name : callNames) list += (list.empty() ? "" : ", ") + std::string(name);
    return list;
}

/* Takes one fault option into f; false with a reason. */
static bool takeOption(Faults &f, const std::string &option, const std::string &value, std::string &reason) {
    unsigned long long n = 0;
    if (option == "--fail") {
        size_t colon = value.find(':');
        size_t at = value.find('@', colon == std::string::npos ? 0 : colon);
        std::string call = value.substr(0, colon);
        std::string error =
            colon == std::string::npos ? "" : value.substr(colon + 1, at == std::string::npos ? std::string::npos : at - colon - 1);
        FailRule rule{-1, 0, 0, option + " " + value};
        for (int i = 0; i < FAULT_CALLS; i++)
            if (call == callNames[i]) rule.call = i;
        if (rule.call < 0) {
            reason = "bad fault " + value + " (wanted CALL:ERRNO[@N], CALL one of " + knownCalls() + ")";
            return false;
        }
        for (const ErrorName &e : errorNames)
            if (error == e.name) rule.error = e.value;
        if (!rule.error) {
            reason = "bad fault " + value + " (ERRNO is a name such as ENOSPC, EIO, EACCES, EROFS)";
            return false;
        }
        if (at != std::string::npos) {
            if (!parseCount(value.substr(at + 1), 0xFFFFFFFFull, &n) || n == 0) {
                reason = "bad fault " + value + " (N after @ counts from 1)";
                return false;
            }
            rule.nth = (unsigned)n;
        }
        f.fails.push_back(rule);
    } else if (option == "--disk-full") {
        if (!parseCount(value, ~0ull / 2, &n)) {
            reason = "bad disk size " + value + " (wanted a number of bytes)";
            return false;
        }
        if (!f.diskFull || n < f.diskFullBytes) f.diskFullBytes = n;  // the fullest disk counts
        f.diskFull = true;
    } else if (option == "--short-write") {
        if (!parseCount(value, 0xFFFFFFFFull, &n) || n == 0) {
            reason = "bad write number " + value + " (counts from 1)";
            return false;
        }
        f.shortWrites.push_back((unsigned)n);
    } else if (option == "--read-only") {
        if (value.empty() || value[0] != '/') {
            reason = "bad read-only folder " + value + " (wanted a firmware path such as /ProgramFiles/Settings)";
            return false;
        }
        std::string folder = emuNormalise("/", value.c_str());
        f.readOnly.push_back(folder == "/" ? EMU_MOUNT : EMU_MOUNT + folder);
        f.readOnlyOption.push_back(option + " " + value);
    } else if (option == "--heap-blocks") {
        if (!parseCount(value, 0xFFFFFFFFull, &n)) {
            reason = "bad heap block count " + value;
            return false;
        }
        if (!f.heapLimited || n < f.heapBlocks) f.heapBlocks = (unsigned)n;
        f.heapLimited = true;
    } else {
        reason = "unknown fault option " + option;
        return false;
    }
    return true;
}

bool faultsIsOption(const std::string &option) {
    return option == "--fail" || option == "--disk-full" || option == "--short-write" || option == "--read-only" ||
           option == "--heap-blocks";
}

bool faultsCheckOption(const std::string &option, const std::string &value, std::string &reason) {
    Faults scratch;
    return takeOption(scratch, option, value, reason);
}

bool faultsStart(const char *const *words, bool traceCalls, std::string &reason) {
    Faults f;
    for (size_t i = 0; words && words[i]; i += 2) {
        if (!words[i + 1]) {
            reason = std::string("fault option ") + words[i] + " needs a value";
            return false;
        }
        if (!takeOption(f, words[i], words[i + 1], reason)) return false;
    }
    f.traceCalls = traceCalls;
    f.active = traceCalls || !f.fails.empty() || !f.shortWrites.empty() || f.diskFull || !f.readOnly.empty();
    faults = f;
    callDepth = onBehalf = 0;
    return true;
}

void faultsStop(void) { faults = Faults(); }

/* Keeps errno as the TAP left it while the faults look at a call: a call
 * that goes on reports only what the real call does. */
struct KeepErrno {
    int saved = errno;
    ~KeepErrno() { errno = saved; }
};

/* ---- Whose call it is ---------------------------------------------- */

struct CallerSearch {
    uintptr_t address;
    int index;          // of the object that holds it, in the loader's order; -1: none
    std::string name;
    int seen;
};

static int findCaller(struct dl_phdr_info *info, size_t, void *context) {
    CallerSearch *s = (CallerSearch *)context;
    int index = s->seen++;
    for (int i = 0; i < info->dlpi_phnum; i++) {
        const ElfW(Phdr) &ph = info->dlpi_phdr[i];
        uintptr_t start = info->dlpi_addr + ph.p_vaddr;
        if (ph.p_type == PT_LOAD && s->address >= start && s->address - start < ph.p_memsz) {
            s->index = index;
            s->name = info->dlpi_name ? info->dlpi_name : "";
            return 1;
        }
    }
    return 0;
}

/* Whether code at the address is a TAP's: the main program's (a test
 * program that is a TAP; tapemu's own main only starts the firmware) or a
 * loaded TAP file's, which runs from its private copy. */
static bool tapCode(const void *caller) {
    CallerSearch s{(uintptr_t)caller, -1, "", 0};
    dl_iterate_phdr(findCaller, &s);
    if (s.index == 0) return true;
    const std::string &copies = emu.tapCopies;
    return s.index > 0 && !copies.empty() && s.name.size() > copies.size() &&
           s.name.compare(0, copies.size(), copies) == 0 && s.name[copies.size()] == '/';
}

FaultScope::FaultScope(const void *caller) {
    KeepErrno keep;
    tap = faults.active && emu.started && callDepth == 0 && (onBehalf > 0 || tapCode(caller));
    callDepth++;
}

FaultScope::~FaultScope() { callDepth--; }

FaultsOnBehalf::FaultsOnBehalf() { onBehalf++; }
FaultsOnBehalf::~FaultsOnBehalf() { onBehalf--; }

/* ---- Where a call lands -------------------------------------------- */

static bool under(const std::string &path, const std::string &root) {
    return path == root || (path.size() > root.size() && path.compare(0, root.size(), root) == 0 &&
                            path[root.size()] == '/');
}

/* A PC path as the receiver names it: "/mnt/hd/..." when it lies on the
 * disk, "" otherwise. */
static std::string receiverPath(const std::string &absolute) {
    std::string path = emuNormalise("/", absolute.c_str());
    if (under(path, EMU_MOUNT)) return path;
    if (emu.kernelConfined) return "";
    for (const std::string *root : {&emu.diskReal, &emu.disk}) {
        if (root->empty() || (*root)[0] != '/') continue;
        std::string r = emuNormalise("/", root->c_str());
        if (r != "/" && under(path, r)) return EMU_MOUNT + path.substr(r.size());
    }
    return "";
}

static std::string diskPathOf(const char *path) {
    if (!path || !*path) return "";
    if (path[0] == '/') return receiverPath(path);
    char cwd[4096];
    if (!getcwd(cwd, sizeof cwd)) return "";
    return receiverPath(std::string(cwd) + "/" + path);
}

static std::string diskPathOfDescriptor(int fd) {
    if (fd < 0) return "";
    char link[4096];
    std::string proc = "/proc/self/fd/" + std::to_string(fd);
    ssize_t n = readlink(proc.c_str(), link, sizeof link - 1);
    if (n <= 0 || link[0] != '/') return "";  // pipes, sockets, the console's terminal
    link[n] = 0;
    return receiverPath(link);
}

/* ---- Counting and striking ----------------------------------------- */

static void traceCall(int call, unsigned n, const std::string &what, const std::string &extra) {
    if (faults.traceCalls)
        traceLine(std::string("CALL ") + callNames[call] + " #" + std::to_string(n) + " " + traceString(what.c_str()) +
                  extra);
}

/* One FAULT line; call is a FAULT_ number, or -1 for one of the calls
 * that are not counted (named by uncounted, n is then 0). */
static const char *uncounted = "";
static void traceFault(int call, unsigned n, const std::string &what, const std::string &extra,
                       const std::string &result, const std::string &option) {
    std::string number = call < 0 ? "" : " #" + std::to_string(n);
    traceLine(std::string("FAULT ") + (call < 0 ? uncounted : callNames[call]) + number + " " + traceString(what.c_str()) +
              extra + " -> " + result + " (" + option + ")");
}

/* Counts the call; the errno of the --fail that strikes it (traced), or 0. */
static int countAndFail(FaultScope &scope, int call, const std::string &what, const std::string &extra,
                        const char *failure) {
    scope.n = ++faults.counts[call];
    scope.counted = true;
    traceCall(call, scope.n, what, extra);
    for (const FailRule &rule : faults.fails) {
        if (rule.call != call || (rule.nth && rule.nth != scope.n)) continue;
        traceFault(call, scope.n, what, extra, std::string(failure) + " " + errorName(rule.error), rule.option);
        return rule.error;
    }
    return 0;
}

static bool exists(const std::string &diskPath, bool folder) {
    struct stat64 st;
    std::string host = emuMapPath(diskPath.c_str());
    return stat64(host.c_str(), &st) == 0 && (!folder || S_ISDIR(st.st_mode));
}

static std::string parentOf(const std::string &path) {
    size_t slash = path.rfind('/');
    return slash == 0 || slash == std::string::npos ? "/" : path.substr(0, slash);
}

static int readOnlyFault(FaultScope &scope, int call, const std::string &where, int access);

int faultsPath(FaultScope &scope, int call, const char *path, int access) {
    KeepErrno keep;
    if (!scope.tap) return 0;
    std::string where = diskPathOf(path);
    if (where.empty()) return 0;
    if (int error = countAndFail(scope, call, where, "", "-1")) return error;
    return readOnlyFault(scope, call, where, access);
}

int faultsChange(FaultScope &scope, const char *name, const char *path, int access) {
    KeepErrno keep;
    if (!scope.tap) return 0;
    std::string where = diskPathOf(path);
    if (where.empty()) return 0;
    uncounted = name;
    return readOnlyFault(scope, -1, where, access);
}

/* The EROFS of a read-only folder for a call that changes or creates where. */
static int readOnlyFault(FaultScope &scope, int call, const std::string &where, int access) {
    if (access == FAULT_LOOKS) return 0;
    for (size_t i = 0; i < faults.readOnly.size(); i++) {
        if (!under(where, faults.readOnly[i])) continue;
        // as the kernel does on a read-only file system: a call on what is
        // not there, or whose folder is not there, fails by itself first;
        // so does the creation of a folder that exists (EEXIST)
        bool there = exists(where, false);
        if (!there && (access != FAULT_CREATES || !exists(parentOf(where), true))) return 0;
        if (there && call == FAULT_MKDIR) return 0;
        traceFault(call, scope.n, where, "", "-1 EROFS", faults.readOnlyOption[i]);
        return EROFS;
    }
    return 0;
}

int faultsDescriptor(FaultScope &scope, int call, int fd, size_t size) {
    KeepErrno keep;
    if (!scope.tap) return 0;
    std::string where = diskPathOfDescriptor(fd);
    if (where.empty()) return 0;
    return countAndFail(scope, call, where, " " + std::to_string(size), call == FAULT_MMAP ? "MAP_FAILED" : "-1");
}

int faultsSystem(FaultScope &scope, const char *command) {
    KeepErrno keep;
    if (!scope.tap) return 0;
    return countAndFail(scope, FAULT_SYSTEM, command ? command : "", "", "-1");
}

int faultsWrite(FaultScope &scope, int fd, size_t *count) {
    KeepErrno keep;
    if (!scope.tap) return 0;
    std::string where = diskPathOfDescriptor(fd);
    if (where.empty()) return 0;
    scope.onDisk = true;
    std::string extra = " " + std::to_string(*count);
    if (int error = countAndFail(scope, FAULT_WRITE, where, extra, "-1")) return error;
    for (unsigned nth : faults.shortWrites) {
        if (nth != scope.n) continue;
        *count /= 2;
        traceFault(FAULT_WRITE, scope.n, where, extra, std::to_string(*count), "--short-write " + std::to_string(nth));
        break;
    }
    if (faults.diskFull && *count > 0) {
        unsigned long long room = faults.written < faults.diskFullBytes ? faults.diskFullBytes - faults.written : 0;
        std::string option = "--disk-full " + std::to_string(faults.diskFullBytes);
        if (room == 0) {
            traceFault(FAULT_WRITE, scope.n, where, extra, "-1 ENOSPC", option);
            return ENOSPC;
        }
        if (room < *count) {
            *count = (size_t)room;
            traceFault(FAULT_WRITE, scope.n, where, extra, std::to_string(*count), option);
        }
    }
    return 0;
}

void faultsWritten(FaultScope &scope, long long bytes) {
    if (scope.onDisk && bytes > 0) faults.written += (unsigned long long)bytes;
}

bool faultsHeapRefused(unsigned blocksInUse, unsigned long size) {
    if (!faults.heapLimited || blocksInUse < faults.heapBlocks) return false;
    traceLine("FAULT TAP_MemAlloc " + std::to_string(size) + " -> 0 (--heap-blocks " +
              std::to_string(faults.heapBlocks) + ")");
    return true;
}
