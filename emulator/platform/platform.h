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

#endif
