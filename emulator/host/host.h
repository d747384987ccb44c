/*
 * tapemu's host side: the program as the user starts it, outside the
 * sandbox.  It checks the folders, puts the TAP files onto the disk,
 * starts the receiver side in the sandbox, sends it the key script, and
 * writes the outputs (trace.txt, console.bin, screen-NNNN.png) through
 * descriptors of its own that it opened before any TAP ran, relaying the
 * receiver side's standard output and error to its own.  Builds on the
 * base, display, platform and sandbox rooms.
 */
#ifndef EMULATOR_HOST_HOST_H
#define EMULATOR_HOST_HOST_H

#include <string>
#include <vector>

/* A run of the receiver side, as the command line asks for it. */
struct HostRun {
    std::string disk, out;
    std::vector<std::string> taps;             /* as the user named them */
    std::vector<long> keys;                    /* key codes, HOST_IDLE for an idle event */
    std::vector<std::string> receiverOptions;  /* for the receiver side: --language 2 ... */
    bool pictures = false;                     /* screen-NNNN.png for every synced frame */
    int pts = 0;                               /* the console's /dev/pts/N; -1: none */
    bool window = false;                       /* the screen in a window, the keyboard as the remote */
    int scale = 1;                             /* the window's pixels per screen pixel */
    /* No sandbox (--no-sandbox --window): the receiver side is a plain
     * child process that writes trace.txt and console.bin itself and
     * keeps to tapemu's own checks of libc's path calls. */
    bool unconfined = false;
};
enum { HOST_IDLE = -1 };

/* The code of a remote key by its name in a key script (OK, EXIT, BACK,
 * ..., DIGIT_0 to DIGIT_9; IDLE gives HOST_IDLE); false for another name. */
bool hostKeyCode(const std::string &name, long *code);

/* Whether disk is an existing folder and out exists (it is created when
 * missing) apart from it: neither the same folder nor inside the other.
 * false with a one-line reason. */
bool hostFolders(const std::string &disk, const std::string &out, std::string &reason);

/* The firmware path of a TAP named on the command line as emuLoadTap
 * takes it: a path on the disk stays; a PC path into the disk folder
 * becomes its place there; any other PC file is copied into the disk's
 * /ProgramFiles first (replacing whatever entry has its name there, never
 * writing through a link).  A name that is none of these is passed on for
 * the receiver side to refuse.  false with a reason when the copy fails. */
bool hostPlaceTap(int diskFolder, const std::string &disk, const std::string &tap, std::string &firmwarePath,
                  std::string &reason);

/* Runs the receiver side in the sandbox until it ends: the key script,
 * then, with a window, the keys pressed in it until it is closed.
 * Returns tapemu's exit status: the receiver side's, or 1 after a
 * one-line reason on stderr (no sandbox, no window, a crash of the
 * receiver side). */
int hostRun(const HostRun &run);

/* Makes the sandbox around a receiver side that only says hello: prints
 * the command line and returns 0 when it works, or prints the one line of
 * the refusal and returns 1. */
int hostSandboxCheck(void);

#endif
