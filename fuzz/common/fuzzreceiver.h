/*
 * What every fuzz target shares: the proof that it runs in the fuzz
 * sandbox, the scratch disk /mnt/hd, and a receiver of the stand-in's
 * firmware on that disk with the target attached as a TAP.
 *
 * The targets run inside bubblewrap (tools/run-fuzz.sh): the PC's file
 * system read-only, /mnt a scratch folder of their own, no capabilities.
 * The code under test writes Linux paths such as /mnt/hd/ProgramFiles/...
 * and, in the extractor, any name of the archive under "/"; in the
 * sandbox those land in the scratch folder or fail with EROFS.
 */
#ifndef FUZZ_COMMON_FUZZRECEIVER_H
#define FUZZ_COMMON_FUZZRECEIVER_H

#include <stdio.h>
#include <stdlib.h>

/* Ends the process with a message unless it runs in the fuzz sandbox: the
 * root, /proc, /dev, /tmp and /sys read-only, /mnt a writable file system
 * of its own, and no capabilities. */
void fuzzRequireSandbox(void);

/* Empties /mnt and makes the disk afresh: /mnt/hd with
 * /ProgramFiles/Settings/Logs, and /mnt/out for the receiver's outputs. */
void fuzzFreshDisk(void);

/* Checks the sandbox, makes the disk, changes the process's working
 * directory to /mnt and starts a receiver on /mnt/hd (a
 * fixed clock, no trace and no console capture of its own) with
 * another TAP in slot 0 and the target attached as the TAP
 * "/ProgramFiles/Fuzz.tap" after it, in /ProgramFiles.  Returns the
 * target's slot; ends the process when the receiver does not start. */
int fuzzStartReceiver(void);

/* A finding of a target: the message on stderr, then abort(), which
 * libFuzzer takes as a crash and keeps the input for. */
#define FUZZ_CHECK(condition, ...)                                                  \
    do {                                                                            \
        if (!(condition)) {                                                         \
            fprintf(stderr, "fuzz check failed: %s: ", #condition);                 \
            fprintf(stderr, __VA_ARGS__);                                           \
            fputc('\n', stderr);                                                    \
            abort();                                                                \
        }                                                                           \
    } while (0)

#endif
