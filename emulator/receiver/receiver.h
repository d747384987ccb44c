/*
 * The start of a receiver on tapemu's receiver side, inside the sandbox
 * (emuStart and emuStop, for a receiver in this process, are in
 * tapemu.h).
 */
#ifndef EMULATOR_RECEIVER_RECEIVER_H
#define EMULATOR_RECEIVER_RECEIVER_H

#include <stddef.h>

#include <string>

#include "../tapemu.h"

/* Starts a fresh receiver as emuStart does, but where the kernel confines
 * the process: the disk is /mnt/hd itself, libc's path calls and system()
 * reach the kernel unchanged, and the trace and the pictures go to the
 * channel (open it first).  options->disk and ->out are not used.
 * Returns 1, or 0 with a one-line reason in err. */
int emuStartConfined(const EmuOptions *options, char *err, size_t errSize);

/* The private folder for the copies of the loaded TAP files (see
 * emuLoadTap), made at the first load of a receiver's run under TMPDIR
 * (else /tmp), never inside the disk or output folder, and removed by
 * emuStop.  "" when none can be made. */
const std::string &receiverCopiesFolder(void);

#endif
