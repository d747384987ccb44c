/*
 * The running receiver's options and folders.
 */
#include <fcntl.h>
#include <string.h>
#include <unistd.h>

#include "base.h"

EmuState emu;

void emuDefaultOptions(EmuOptions *options) {
    if (!options) return;
    memset(options, 0, sizeof *options);
    options->firstPts = 0;
    options->pictures = 1;
    options->year = 2016, options->month = 1, options->day = 1;
    options->chdirOk = 0, options->chdirFail = -1;
}

std::string emuConsolePath(void) { return emu.out + "/console.bin"; }

int emuCreateOutput(const std::string &path, int flags) {
    unlink(path.c_str());
    return open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | flags, 0644);
}

const char *emuDiskFolder(void) { return emu.started ? emu.disk.c_str() : nullptr; }
const char *emuOutFolder(void) { return emu.started ? emu.out.c_str() : nullptr; }
