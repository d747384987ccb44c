/*
 * The ELF reader and HDD_TAP_GetInfo on an arbitrary file: the input is a
 * TAP file on the disk, read by HDD_TAP_GetInfo under each of its three
 * names (Linux path, TAP path, bare name in the working directory), and
 * searched for ".Payload" and ".PayloadCRC" as the installer searches its
 * own file.
 *
 * After every run: the three names give the same answer, and the target's
 * slot (whose file the input is) the same TAP ID; every text of a record
 * read is terminated inside its field; the reader is closed with every
 * copy released, and the firmware heap blocks are as before.
 */
#include <fcntl.h>
#include <stdint.h>
#include <string.h>
#include <unistd.h>

#include "emulator/tapemu.h"
#include "fuzzreceiver.h"
#include "velalib.h"

static const char *const kNames[] = {"/mnt/hd/ProgramFiles/Fuzz.tap", "/ProgramFiles/Fuzz.tap", "Fuzz.tap"};

static void writeTapFile(const uint8_t *data, size_t size) {
    int fd = open(kNames[0], O_WRONLY | O_CREAT | O_TRUNC, 0666);
    FUZZ_CHECK(fd >= 0, "cannot write %s", kNames[0]);
    size_t done = 0;
    while (done < size) {
        ssize_t n = write(fd, data + done, size - done);
        FUZZ_CHECK(n > 0, "cannot write %s", kNames[0]);
        done += (size_t)n;
    }
    close(fd);
}

static void checkClosed(const char *after) {
    FUZZ_CHECK(fTAP == 0 && ELFHeader == NULL && SectionHeaders == NULL && shstrtab == NULL && symtab == NULL &&
                   strtab == NULL,
               "the reader is still open after %s", after);
}

static void checkTerminated(const char *field, size_t size, const char *what) {
    FUZZ_CHECK(memchr(field, 0, size) != NULL, "%s without its terminator", what);
}

/* The installer's search of its own file: the payload's offset and size,
 * and the CRC beside it. */
static void findPayload(void) {
    if (ELFOpenFile(kNames[0]) && ELFReadELFHeader() && ELFReadSectionHeaders() && ELFReadShstrtabSection()) {
        int payload = ELFGetSectionIndex(".Payload");
        dword offset = 0, size = 0, crc = 0;
        if (payload != 0) {
            ELFGetSectionOffset(payload, &offset, &size);
            byte start[64];
            ELFReadData(payload, start, sizeof start);
        }
        int crcIndex = ELFGetSectionIndex(".PayloadCRC");
        if (crcIndex != 0) ELFReadDWORD(crcIndex, &crc);
        ELFGetSectionOffset(ELFGetSectionIndex(".shstrtab"), NULL, NULL);
    }
    ELFCleanup();
    checkClosed("the search for .Payload");
}

static int slot = -1;  // the target's slot, whose file the input is

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    slot = fuzzStartReceiver();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    writeTapFile(data, size);
    unsigned blocks = emuHeapBlocksInUse();

    TapInfo first;
    int firstResult = 0;
    for (size_t i = 0; i < sizeof kNames / sizeof kNames[0]; i++) {
        TapInfo info;
        memset(&info, 0, sizeof info);
        int result = HDD_TAP_GetInfo(kNames[i], &info);
        checkClosed("HDD_TAP_GetInfo");
        FUZZ_CHECK(result == 0 || result == 1, "HDD_TAP_GetInfo gave %d", result);
        if (result == 1) {
            checkTerminated(info.ProgramName, sizeof info.ProgramName, "program name");
            checkTerminated(info.Author, sizeof info.Author, "author");
            checkTerminated(info.Description, sizeof info.Description, "description");
            checkTerminated(info.Version, sizeof info.Version, "version");
        }
        if (i == 0) {
            first = info;
            firstResult = result;
        } else {
            FUZZ_CHECK(result == firstResult, "%s gives %d, %s gives %d", kNames[i], result, kNames[0], firstResult);
            FUZZ_CHECK(result == 0 || memcmp(&info, &first, sizeof info) == 0, "%s reads another record than %s",
                       kNames[i], kNames[0]);
        }
    }
    FUZZ_CHECK(HDD_TAP_GetInfo(kNames[0], NULL) == 0, "HDD_TAP_GetInfo without a record");
    // the file is the target's own slot's
    dword id = HDD_TAP_GetIDByIndex((unsigned)slot);
    FUZZ_CHECK(id == (firstResult ? first.TapID : 0), "slot %d has the ID 0x%08X, its file 0x%08X", slot,
               (unsigned)id, firstResult ? (unsigned)first.TapID : 0);
    checkClosed("HDD_TAP_GetIDByIndex");
    findPayload();

    FUZZ_CHECK(emuHeapBlocksInUse() == blocks, "%u firmware heap blocks in use, %u before", emuHeapBlocksInUse(),
               blocks);
    return 0;
}
