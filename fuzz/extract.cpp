/*
 * The extractor's walk on an arbitrary archive: the input is the
 * ".Payload" section of an installer file, at file offset 0 and with its
 * CRC-32 as ".PayloadCRC" would hold it, and deliverPayload unpacks it
 * under "/" with the log and the progress bar, on a fresh disk each time
 * (it holds FirmwareTMS.dat and Zephyrdesk.tap already).
 *
 * The installer maps the section; AddressSanitizer does not watch mapped
 * memory, so the bytes of the mapping's last page past the section's end
 * are poisoned here (the link wraps the installer's mmap and munmap): a
 * read past the section is a finding like any other.  The file holding
 * the section is a sealed memory file: no archive entry can change it
 * under the mapping.
 *
 * Each input is unpacked as it is and, when that changes it, once more
 * with the checksums of its header blocks made right (fuzztar.h).  After
 * every run: the firmware heap blocks, the directory stack and the TAP's
 * working directory are as before, and payloadCRC32 agrees with zlib's
 * crc32.
 */
#include <errno.h>
#include <fcntl.h>
#include <sanitizer/asan_interface.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>
#include <utime.h>
#include <zlib.h>

#include "Zephyrdesk-Install.h"
#include "emulator/tapemu.h"
#include "fuzzreceiver.h"
#include "fuzztar.h"
#include "velalib.h"

/* ---- The installer's mmap and munmap, wrapped at link time ------------ */

extern "C" void *__real_mmap(void *address, size_t length, int protection, int flags, int fd, off_t offset);
extern "C" int __real_munmap(void *address, size_t length);

static size_t pageSize(void) { return (size_t)sysconf(_SC_PAGESIZE); }
static size_t wholePages(size_t length) { return (length + pageSize() - 1) / pageSize() * pageSize(); }

extern "C" void *__wrap_mmap(void *address, size_t length, int protection, int flags, int fd, off_t offset) {
    void *map = __real_mmap(address, length, protection, flags, fd, offset);
    bool section = protection == PROT_READ && (flags & MAP_SHARED) && fd >= 0;  // the installer's kind
    if (map != MAP_FAILED && section && length != 0)
        ASAN_POISON_MEMORY_REGION((char *)map + length, wholePages(length) - length);
    return map;
}

extern "C" int __wrap_munmap(void *address, size_t length) {
    if (length != 0) ASAN_UNPOISON_MEMORY_REGION(address, wholePages(length));
    return __real_munmap(address, length);
}

/* ---- The target ------------------------------------------------------ */

/* A sealed memory file holding the section's bytes, or -1. */
static int sectionFile(const uint8_t *data, size_t size) {
    int fd = memfd_create("payload", MFD_CLOEXEC | MFD_ALLOW_SEALING);
    if (fd < 0) return -1;
    size_t done = 0;
    while (done < size) {
        ssize_t n = write(fd, data + done, size - done);
        if (n <= 0) {
            close(fd);
            return -1;
        }
        done += (size_t)n;
    }
    if (fcntl(fd, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE | F_SEAL_SEAL) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

/* Files that the disk holds before the run: the firmware list that an
 * older archive copy must not replace (with the seeds' time, 11 February
 * 2018) and a TAP that the archive replaces. */
static void presetDisk(void) {
    static const char *const files[] = {"/mnt/hd/ProgramFiles/FirmwareTMS.dat", "/mnt/hd/ProgramFiles/Zephyrdesk.tap"};
    for (const char *file : files) {
        int fd = open(file, O_WRONLY | O_CREAT | O_TRUNC, 0666);
        FUZZ_CHECK(fd >= 0 && write(fd, "on the disk\n", 12) == 12, "cannot make %s", file);
        close(fd);
        struct utimbuf times = {1518307200, 1518307200};
        FUZZ_CHECK(utime(file, &times) == 0, "cannot set the time of %s", file);
    }
}

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    fuzzStartReceiver();
    return 0;
}

/* One installation from the section's bytes on a fresh disk, and the
 * checks after it. */
static void extract(const uint8_t *data, size_t size) {
    fuzzFreshDisk();
    presetDisk();
    createLogFile();
    dword crc = (dword)crc32(0, data, (uInt)size);
    int fd = sectionFile(data, size);
    FUZZ_CHECK(fd >= 0, "no memory file for the section: %s", strerror(errno));
    char path[64];
    snprintf(path, sizeof path, "/proc/self/fd/%d", fd);
    gMyTAPFileName = path;
    gPayloadCRCFound = 1;
    gPayloadCRC = crc;

    unsigned blocks = emuHeapBlocksInUse();
    deliverPayload(0, (dword)size);

    FUZZ_CHECK(emuHeapBlocksInUse() == blocks, "%u firmware heap blocks in use, %u before",
               emuHeapBlocksInUse(), blocks);
    FUZZ_CHECK(TAPDirStackDepth == -1, "directory stack depth %d", TAPDirStackDepth);
    char cwd[PATH_BUFFER_SIZE] = "";
    HDD_TAP_GetCurrentDir(cwd);
    FUZZ_CHECK(strcmp(cwd, "/ProgramFiles") == 0, "working directory \"%s\"", cwd);
    FUZZ_CHECK(fcntl(fd, F_GETFD) != -1, "the section's file was closed");

    gMyTAPFileName = NULL;
    close(fd);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size > 0x7FFFFFFF) return 0;
    dword crc = (dword)crc32(0, data, (uInt)size);
    FUZZ_CHECK(payloadCRC32(data, (dword)size) == crc, "payloadCRC32 of %zu bytes is not zlib's %08X", size,
               (unsigned)crc);
    if (size > 1)
        FUZZ_CHECK(payloadCRC32(data + 1, (dword)size - 1) == (dword)crc32(0, data + 1, (uInt)size - 1),
                   "payloadCRC32 from an odd address");
    extract(data, size);
    uint8_t *repaired = (uint8_t *)malloc(size ? size : 1);
    memcpy(repaired, data, size);
    if (fuzzRepairChecksums(repaired, size)) extract(repaired, size);
    free(repaired);
    return 0;
}
