/*
 * The firmware's disk calls: firmware paths from the root of the disk,
 * names relative to the calling TAP's working directory.
 */
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "entries.h"
#include "../platform/platform.h"
#include "../tasks/tasks.h"

static bool isFolder(const std::string &host) {
    struct stat64 st;
    return stat64(host.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

int fwHddChangeDir(const char *path) {
    std::string dir = emuNormalise(emuCurrentCwd(), path);
    int r = emu.options.chdirFail;
    if (!dir.empty() && isFolder(emuHostPath(dir))) {
        int slot = _curTapTask;
        if (slot >= 0 && slot < EMU_SLOTS && emuSlots[slot].used) emuSetSlotCwd(slot, dir);
        r = emu.options.chdirOk;
    }
    traceLine("TAP_Hdd_ChangeDir " + traceString(path) + " -> " + num(r));
    return r;
}

int fwHddExist(const char *name) {
    std::string target = emuNormalise(emuCurrentCwd(), name);
    struct stat64 st;
    int r = !target.empty() && lstat64(emuHostPath(target).c_str(), &st) == 0 ? 1 : 0;
    traceLine("TAP_Hdd_Exist " + traceString(name) + " -> " + num(r));
    return r;
}

int fwHddCreate(const char *name, byte attribute) {
    std::string target = emuNormalise(emuCurrentCwd(), name);
    int r = 0;
    if (!target.empty() && target != "/") {
        std::string host = emuHostPath(target);
        FaultsOnBehalf forTheTap;  // the folder or file is the TAP's
        if (attribute == ATTR_FOLDER) {
            r = mkdir(host.c_str(), 0777) == 0 ? 1 : 0;
        } else if (attribute == ATTR_FILE) {
            int fd = open(host.c_str(), O_WRONLY | O_CREAT, 0666);
            if (fd >= 0) close(fd);
            r = fd >= 0 ? 1 : 0;
        }
    }
    traceLine("TAP_Hdd_Create " + traceString(name) + " " + num(attribute) + " -> " + num(r));
    return r;
}
