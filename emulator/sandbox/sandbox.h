/*
 * The sandbox that the kernel enforces around tapemu's receiver side (the
 * firmware and every TAP): bubblewrap (bwrap) with every namespace
 * unshared, no capabilities, no new privileges, a seccomp filter, the
 * host read-only, the disk folder writable at /mnt/hd and the console at
 * /dev/pts/N.  Where bwrap is a program of another machine than tapemu
 * (the receiver build, which runs under qemu-mipsel), the receiver side
 * runs under qemu-mipsel inside it.  Builds on the base room only.
 */
#ifndef EMULATOR_SANDBOX_SANDBOX_H
#define EMULATOR_SANDBOX_SANDBOX_H

#include <sys/types.h>

#include <string>
#include <vector>

/* The receiver side's descriptors: its standard ones and the channel's
 * (which it finds at 3, 4 and 5, see base/channel.h), and what bwrap
 * binds: the disk folder and the console FIFO, both opened O_PATH. */
struct SandboxRequest {
    int stdinFd = -1, stdoutFd = -1, stderrFd = -1;
    int eventsFd = -1, commandsFd = -1, ringFd = -1;
    int diskFd = -1;     /* bound writable at /mnt/hd */
    int consoleFd = -1;  /* bound at /dev/pts/<pts>; -1: no console */
    int pts = 0;
    std::vector<std::string> receiverArgs;  /* after --receiver-side 3:4:5 */
    /* No sandbox: the receiver side as a plain child process with the
     * same descriptors (diskFd and consoleFd not used), which dies with
     * tapemu; for a host side that needs the two processes without the
     * sandbox (tapemu --no-sandbox --window). */
    bool unconfined = false;
};

enum { SANDBOX_EVENTS_FD = 3, SANDBOX_COMMANDS_FD = 4, SANDBOX_RING_FD = 5 };

/* The command line that sandboxStart runs: bwrap and its options, then
 * [qemu-mipsel -L PREFIX] tapemu --receiver-side 3:4:5 and the receiver
 * arguments (for an unconfined request: tapemu --receiver-side 3:4:5 and
 * the arguments).  False with a one-line reason when a piece is missing (bwrap,
 * the filter, tapemu beside the firmware library, qemu). */
bool sandboxCommand(const SandboxRequest &request, std::vector<std::string> &argv, std::string &reason);

/* Starts the receiver side in the sandbox, with nothing but the request's
 * descriptors open.  Returns bwrap's process id, or -1 with a reason. */
pid_t sandboxStart(const SandboxRequest &request, std::string &reason);

/* The one line for a sandbox that bwrap could not make, from its first
 * complaint. */
std::string sandboxRefusal(const std::string &complaint);

#endif
