#include "fuzzreceiver.h"

#include <errno.h>
#include <ftw.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include "emulator/tapemu.h"

static void fail(const char *what) {
    fprintf(stderr,
            "fuzz target: %s; run it through tools/run-fuzz.sh (make fuzz), which gives it the sandbox\n", what);
    exit(2);
}

static int readOnly(const char *path) {
    struct statvfs fs;
    return statvfs(path, &fs) == 0 && (fs.f_flag & ST_RDONLY);
}

/* Whether the process holds no capability at all (CapEff of /proc/self/status). */
static int withoutCapabilities(void) {
    FILE *status = fopen("/proc/self/status", "r");
    if (!status) return 0;
    char line[256];
    int none = 0;
    while (fgets(line, sizeof line, status))
        if (strncmp(line, "CapEff:", 7) == 0) none = strspn(line + 7, "\t 0") == strlen(line + 7) - 1;
    fclose(status);
    return none;
}

void fuzzRequireSandbox(void) {
    static const char *const readOnlyPaths[] = {"/", "/proc", "/dev", "/tmp", "/sys"};
    for (const char *path : readOnlyPaths) {
        if (access(path, F_OK) != 0) continue;
        if (!readOnly(path)) {
            fprintf(stderr, "fuzz target: %s is writable\n", path);
            fail("not in the fuzz sandbox");
        }
    }
    // the root is read-only, so a writable /mnt is a mount of its own
    struct statvfs fs;
    if (statvfs("/mnt", &fs) != 0 || (fs.f_flag & ST_RDONLY)) fail("/mnt is not a writable scratch folder");
    if (!withoutCapabilities()) fail("the process holds capabilities");
}

static int removeEntry(const char *path, const struct stat *, int, struct FTW *where) {
    if (where->level == 0) return 0;  // /mnt itself stays
    if (remove(path) != 0) {
        fprintf(stderr, "fuzz target: cannot remove %s: %s\n", path, strerror(errno));
        abort();
    }
    return 0;
}

static void makeFolder(const char *path) {
    if (mkdir(path, 0777) != 0 && errno != EEXIST) {
        fprintf(stderr, "fuzz target: cannot make %s: %s\n", path, strerror(errno));
        abort();
    }
}

void fuzzFreshDisk(void) {
    if (nftw("/mnt", removeEntry, 16, FTW_DEPTH | FTW_PHYS) != 0) {
        fprintf(stderr, "fuzz target: cannot empty /mnt: %s\n", strerror(errno));
        abort();
    }
    static const char *const folders[] = {"/mnt/hd", "/mnt/hd/ProgramFiles", "/mnt/hd/ProgramFiles/Settings",
                                          "/mnt/hd/ProgramFiles/Settings/Logs", "/mnt/out"};
    for (const char *folder : folders) makeFolder(folder);
}

int fuzzStartReceiver(void) {
    fuzzRequireSandbox();
    fuzzFreshDisk();
    // paths relative to the process's own working directory meet the scratch folder
    if (chdir("/mnt") != 0) fail("cannot change into /mnt");
    EmuOptions options;
    emuDefaultOptions(&options);
    options.disk = "/mnt/hd";
    options.out = "/mnt/out";
    options.pictures = 0;
    options.noOutputs = 1;
    options.firstPts = -1;
    options.fixedTime = 1;
    options.year = 2016, options.month = 2, options.day = 29;
    options.hour = 13, options.minute = 5, options.second = 9;
    char err[256] = "";
    if (!emuStart(&options, err, sizeof err)) {
        fprintf(stderr, "fuzz target: %s\n", err);
        fail("the receiver does not start");
    }
    // Slot 0 holds another TAP with a working directory of its own, so that
    // code which reads slot 0 instead of its own slot is caught.
    if (emuAttachProgram("/ProgramFiles/Resident.tap", "/", nullptr) != 0) fail("no slot 0 for the resident TAP");
    int slot = emuAttachProgram("/ProgramFiles/Fuzz.tap", "/ProgramFiles", nullptr);
    if (slot < 0) fail("no slot for the target");
    return slot;
}
