/*
 * The running receiver's options and folders.
 */
#include <string.h>

#include "base.h"

EmuState emu;

void emuDefaultOptions(EmuOptions *options) {
    if (!options) return;
    memset(options, 0, sizeof *options);
    options->firstPts = 0;
    options->pictures = 1;
    options->year = 2016, options->month = 1, options->day = 1;
}

std::string emuConsolePath(void) { return emu.out + "/console.bin"; }

const char *emuDiskFolder(void) { return emu.started ? emu.disk.c_str() : nullptr; }
const char *emuOutFolder(void) { return emu.started ? emu.out.c_str() : nullptr; }
