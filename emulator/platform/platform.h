/*
 * The platform under the firmware: the receiver's disk as a folder of the
 * PC, the confinement of the TAPs to it, the libc calls that take a path
 * (interposed under libc's names), the TAPs' lookups of firmware symbols
 * and the shell behind system().  Builds on the base room only.
 */
#ifndef EMULATOR_PLATFORM_PLATFORM_H
#define EMULATOR_PLATFORM_PLATFORM_H

#include <string>

#include "../base/base.h"

/* The platform's calls as libc has them, bypassing the interposed ones. */
void *emuRealSymbol(const char *name);
void *emuRealDlsym(void *handle, const char *name);

/* real_NAME: libc's own NAME, looked up once. */
#define REAL(name)                                     \
    static decltype(&::name) real_##name = nullptr;    \
    if (!real_##name) real_##name = (decltype(&::name))emuRealSymbol(#name)

/* A data object of a loaded TAP (handle from dlopen) found with the real
 * dlsym: only an object of exactly size bytes in one of the TAP's own
 * writable segments (a broken symbol table may name code, read-only data
 * or an address of anything); null otherwise. */
void *emuTapObject(void *handle, const char *name, size_t size);

/* Starts the count of firmware-symbol lookups afresh. */
void emuLookupReset(void);

/* Firmware disk paths: a path relative to cwd made absolute, with "." and
 * ".." resolved and never above the root ("" for an empty path), and the
 * PC path of a firmware path. */
std::string emuNormalise(const std::string &cwd, const char *path);
std::string emuHostPath(const std::string &firmwarePath);

/* A Linux path of the receiver as the PC has it: /mnt/hd -> disk folder. */
std::string emuMapPath(const char *path);

/* Whether the path is "/mnt" itself (with or without final slashes) while
 * a receiver runs in this process: the receiver's own folder above its
 * disk, which exists there and whose times the receiver sets (the
 * archive's first entries are "mnt/" and "mnt/hd/").  The PC's /mnt stays
 * untouched. */
bool emuIsMountParent(const char *path);

/* Whether a call may create, change or delete the (mapped) path while a
 * receiver runs: only inside the disk and output folders.
 * followFinalLink: whether the call follows a final symbolic link. */
bool emuMayChange(const std::string &mapped, bool followFinalLink);

/* Whether the (mapped) path is the disk folder, the output folder or a
 * folder above either, its final link not followed: such a folder must
 * not be renamed or removed while a receiver runs.  true as well when
 * that cannot be told safely. */
bool emuHoldsFolders(const std::string &mapped);

/* The built-in shell behind system(): its result as system() gives it. */
int emuShell(const char *command);

/* ---- Faults injected into the TAPs' calls (faults.cpp) -------------- */

/* The calls that --fail names, in its order of names. */
enum {
    FAULT_OPEN, FAULT_READ, FAULT_WRITE, FAULT_STAT64, FAULT_LSTAT64,
    FAULT_MKDIR, FAULT_UTIME, FAULT_MMAP, FAULT_SYSTEM, FAULT_FOPEN, FAULT_CALLS
};
/* What a call on a path does to it: looks only, changes what is there,
 * or may create it. */
enum { FAULT_LOOKS, FAULT_CHANGES, FAULT_CREATES };

/* Whether option is one of the fault options (--fail, --disk-full,
 * --short-write, --read-only, --heap-blocks), and whether its value is
 * good (false with a one-line reason). */
bool faultsIsOption(const std::string &option);
bool faultsCheckOption(const std::string &option, const std::string &value, std::string &reason);

/* The faults of a receiver that starts: words are option and value pairs
 * as tapemu's command line gives them, null-terminated (null: none);
 * traceCalls traces every call that the faults count.  The counts start
 * at 0.  false with a reason when a word is bad; faultsStop ends them. */
bool faultsStart(const char *const *words, bool traceCalls, std::string &reason);
void faultsStop(void);

/* One call of the platform, made from code at caller (the interposed
 * call's return address): tap is set when it is a TAP's call, which the
 * faults count and strike; the calls made while it runs are the
 * firmware's own. */
struct FaultScope {
    explicit FaultScope(const void *caller);
    ~FaultScope();
    FaultScope(const FaultScope &) = delete;
    FaultScope &operator=(const FaultScope &) = delete;
    bool tap = false;
    bool counted = false;  /* counted as a call on the disk: its number is n */
    bool onDisk = false;   /* a write to a file on the disk */
    unsigned n = 0;
};

/* While one lives, the firmware's calls do a TAP's disk work for it (the
 * folder or file that TAP_Hdd_Create makes) and count as the TAP's. */
struct FaultsOnBehalf {
    FaultsOnBehalf();
    ~FaultsOnBehalf();
};

/* The fault that strikes a TAP's call, counted if it lies on the disk:
 * 0 to go on, else the errno it fails with (the fault traced).  For a
 * call on a path, access is FAULT_LOOKS, FAULT_CHANGES or FAULT_CREATES
 * (a read-only folder refuses the last two); for one on a descriptor,
 * size is its length in bytes (traced). */
int faultsPath(FaultScope &scope, int call, const char *path, int access);
int faultsDescriptor(FaultScope &scope, int call, int fd, size_t size);
int faultsSystem(FaultScope &scope, const char *command);
/* The same for a call that is not counted (name: for the trace), which
 * only a read-only folder refuses: rmdir, unlink, rename and the like. */
int faultsChange(FaultScope &scope, const char *name, const char *path, int access);

/* A TAP's write of *count bytes to fd: 0, with *count cut short where a
 * short write or the full disk says so, or the errno it fails with; and
 * then the bytes it wrote, which fill the disk. */
int faultsWrite(FaultScope &scope, int fd, size_t *count);
void faultsWritten(FaultScope &scope, long long bytes);

/* Whether TAP_MemAlloc of size bytes must return 0 with blocksInUse
 * blocks in use (--heap-blocks; the fault traced). */
bool faultsHeapRefused(unsigned blocksInUse, unsigned long size);

#endif
