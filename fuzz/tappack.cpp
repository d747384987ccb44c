/*
 * tappack's info, list and check on an arbitrary file, each run through
 * tappack's own command line as `tappack info FILE` and so on.
 *
 * Then tappack's walk and listing of the payload once more with the
 * checksums of its header blocks made right (fuzztar.h), when that changes
 * it.  Checked besides: every command ends with status 0 or 1; check says
 * "sound installer" (status 0) only when list also takes the file.
 * tappack prints to standard output (sent to /dev/null here) and standard
 * error (tools/run-fuzz.sh runs this target with -close_fd_mask=2).
 */
#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <unistd.h>

#include "fuzzreceiver.h"
#include "fuzztar.h"
#include "tappack.h"

int tappackMain(int argc, char **argv);

static char kFile[] = "/mnt/in.tap";

static void writeInput(const uint8_t *data, size_t size) {
    int fd = open(kFile, O_WRONLY | O_CREAT | O_TRUNC, 0666);
    FUZZ_CHECK(fd >= 0, "cannot write %s", kFile);
    size_t done = 0;
    while (done < size) {
        ssize_t n = write(fd, data + done, size - done);
        FUZZ_CHECK(n > 0, "cannot write %s", kFile);
        done += (size_t)n;
    }
    close(fd);
}

static int command(const char *name) {
    char program[] = "tappack";
    char verb[16];
    snprintf(verb, sizeof verb, "%s", name);
    char *argv[] = {program, verb, kFile, NULL};
    int status = tappackMain(3, argv);
    fflush(stdout);
    FUZZ_CHECK(status == 0 || status == 1, "tappack %s ends with %d", name, status);
    return status;
}

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    fuzzRequireSandbox();
    fuzzFreshDisk();
    FUZZ_CHECK(freopen("/dev/null", "w", stdout) != NULL, "no /dev/null for standard output");
    return 0;
}

/* The walk and the listing of the file's payload with the checksums of
 * its header blocks made right, when that changes it. */
static void walkRepaired(void) {
    TapFile tap;
    std::string error;
    if (!readTap(kFile, tap, error) || !tap.payload.present || tap.payload.offset > tap.bytes.size() ||
        tap.payload.size > tap.bytes.size() - tap.payload.offset)
        return;
    std::vector<unsigned char> archive(tap.bytes.begin() + (long)tap.payload.offset,
                                       tap.bytes.begin() + (long)(tap.payload.offset + tap.payload.size));
    if (!fuzzRepairChecksums(archive.data(), archive.size())) return;
    TarWalk walk;
    walkArchive(archive.data(), archive.size(), walk);
    FUZZ_CHECK(listingLines(walk.entries).size() == walk.entries.size(), "a listing line per entry");
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    writeInput(data, size);
    command("info");
    int listed = command("list");
    int checked = command("check");
    FUZZ_CHECK(checked != 0 || listed == 0, "check calls the file sound, list does not take it");
    walkRepaired();
    return 0;
}
