/*
 * The host side's run of the receiver side in the sandbox: the channel's
 * pipes, ring and console FIFO, the start through the sandbox room, and
 * the relay until the receiver side has ended.  The outputs are written
 * through descriptors opened here before the receiver side starts, so no
 * link that a TAP plants can redirect them (and the sandbox shows the
 * output folder read-only anyway).  Whatever the receiver side sends is
 * checked before it is used: a TAP shares its address space.  With a
 * window, the same loop shows every synced screen and takes the keys
 * pressed in it, so the window stays live while a TAP holds the
 * receiver's thread: the keys wait in the command pipe, in order, until
 * the receiver side reads its next command.
 */
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "../base/channel.h"
#include "../display/osd.h"
#include "../display/picture.h"
#include "../sandbox/sandbox.h"
#include "host.h"
#include "window.h"

static const int EXIT_RUN = 1;
static const int POLL_MILLISECONDS = 100;
static const int CONSOLE_GATHER_MICROSECONDS = 2000;
static const int WINDOW_POLL_MILLISECONDS = 15;  // how soon the window answers the desktop and the keyboard

static void complain(const std::string &line) {
    std::string text = "tapemu: " + line + "\n";
    if (write(2, text.data(), text.size()) < 0) return;
}

static bool writeAll(int fd, const void *bytes, size_t n) {
    const char *p = (const char *)bytes;
    while (n > 0) {
        ssize_t w = write(fd, p, n);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        p += w, n -= (size_t)w;
    }
    return true;
}

/* A new file name in the output folder, for writing: whatever entry had
 * the name goes first, so neither a link nor a second hard link of
 * another file is written through. */
static int freshOutput(int folder, const char *name) {
    if (unlinkat(folder, name, 0) != 0 && errno != ENOENT) return -1;
    return openat(folder, name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
}

/* Everything one run holds: the host side's ends of the channel and the
 * outputs (-1 where there is none). */
struct Session {
    int events = -1, stdoutPipe = -1, stderrPipe = -1, commands = -1, console = -1;
    int outFolder = -1, trace = -1, consoleCopy = -1;
    bool pictures = false;
    bool window = false;        // the window is open
    bool scriptEnded = false;   // the end of the script ("E") is in pendingCommands
    size_t keysPressed = 0;     // in the window
    std::vector<uint32_t> screen;  // the last synced screen
    bool screenShown = true;       // ... is in the window
    std::string pendingCommands;
    std::vector<unsigned char> records;  // event bytes not taken yet
    ChannelRing *ring = nullptr;
    const unsigned char *ringData = nullptr;
    uint32_t tail = 0;
    bool hello = false, done = false, recordsDamaged = false, ringDamaged = false;
    std::string early;  // stderr before the receiver side said hello: bwrap's own
    std::string consoleFolder;  // where the console FIFO is named until then
    int frames = 0;
};

static void closeFd(int &fd) {
    if (fd >= 0) close(fd);
    fd = -1;
}

/* The console FIFO's name goes once bwrap has bound it. */
static void forgetConsoleName(Session &s) {
    if (s.consoleFolder.empty()) return;
    unlink((s.consoleFolder + "/console").c_str());
    rmdir(s.consoleFolder.c_str());
    s.consoleFolder.clear();
}

/* The ring's bytes up to position to go into trace.txt. */
static void drainTo(Session &s, uint32_t to) {
    if (!s.ring || s.ringDamaged) return;
    uint32_t head = __atomic_load_n(&s.ring->head, __ATOMIC_ACQUIRE);
    uint32_t available = head - s.tail, wanted = to - s.tail;
    if (available > CHANNEL_RING_DATA || wanted > available) {
        s.ringDamaged = true;
        complain("the receiver side damaged its trace ring; trace.txt ends there");
        return;
    }
    uint32_t at = s.tail & (CHANNEL_RING_DATA - 1);
    uint32_t first = wanted < CHANNEL_RING_DATA - at ? wanted : CHANNEL_RING_DATA - at;
    if (s.trace >= 0) {
        writeAll(s.trace, s.ringData + at, first);
        writeAll(s.trace, s.ringData, wanted - first);
    }
    s.tail += wanted;
    __atomic_store_n(&s.ring->tail, s.tail, __ATOMIC_RELEASE);
}

static void takeFrame(Session &s, const unsigned char *payload, uint32_t length) {
    uint32_t size[2];
    memcpy(size, payload, sizeof size);
    // the size alone: the screen of the frame before, once more
    bool again = length == sizeof size && s.frames > 0;
    if (size[0] != OSD_SCREEN_WIDTH || size[1] != OSD_SCREEN_HEIGHT ||
        (!again && length != sizeof size + size[0] * size[1] * 4)) {
        s.recordsDamaged = true;
        return;
    }
    s.frames++;
    if ((!s.pictures || s.outFolder < 0) && !s.window) return;
    if (again && s.screen.size() != (size_t)size[0] * size[1]) s.screen.assign((size_t)size[0] * size[1], 0);
    if (!again) {
        s.screen.resize((size_t)size[0] * size[1]);
        memcpy(s.screen.data(), payload + sizeof size, s.screen.size() * 4);
        s.screenShown = false;
    }
    if (!s.pictures || s.outFolder < 0) return;
    char name[32];
    snprintf(name, sizeof name, "screen-%04d.png", s.frames);
    PictureBuffer picture = {s.screen.data(), (int)size[0], (int)size[1]};
    int fd = freshOutput(s.outFolder, name);
    if (fd < 0 || !pictureWritePngFd(fd, &picture)) complain(std::string("cannot write ") + name);
}

/* Takes every whole record that has arrived. */
static void takeRecords(Session &s) {
    size_t at = 0;
    const uint32_t longestFrame = 8 + OSD_SCREEN_WIDTH * OSD_SCREEN_HEIGHT * 4;
    while (!s.recordsDamaged && s.records.size() - at >= sizeof(ChannelRecord)) {
        ChannelRecord record;
        memcpy(&record, s.records.data() + at, sizeof record);
        bool sound = ((record.type == CHANNEL_HELLO || record.type == CHANNEL_DONE) && record.length == 0) ||
                     (record.type == CHANNEL_TRACE && record.length <= CHANNEL_TRACE_MAX) ||
                     (record.type == CHANNEL_FRAME && record.length >= 8 && record.length <= longestFrame);
        if (!sound) {
            s.recordsDamaged = true;
            break;
        }
        if (s.records.size() - at - sizeof record < record.length) break;
        const unsigned char *payload = s.records.data() + at + sizeof record;
        drainTo(s, record.ringHead);
        if (record.type == CHANNEL_HELLO) {
            if (!s.hello) writeAll(2, s.early.data(), s.early.size());
            s.early.clear();
            s.hello = true;
            forgetConsoleName(s);
        } else if (record.type == CHANNEL_DONE) {
            s.done = true;
        } else if (record.type == CHANNEL_TRACE) {
            if (s.trace >= 0) writeAll(s.trace, payload, record.length);
        } else {
            takeFrame(s, payload, record.length);
        }
        at += sizeof record + record.length;
    }
    if (s.recordsDamaged) {
        complain("the receiver side sent a damaged record; its records are dropped from here on");
        s.records.clear();
        return;
    }
    s.records.erase(s.records.begin(), s.records.begin() + (ptrdiff_t)at);
}

/* Appends what a pipe has to into; false at its end. */
static bool readSome(int fd, std::vector<unsigned char> &into) {
    static unsigned char chunk[1 << 18];
    ssize_t n = read(fd, chunk, sizeof chunk);
    if (n > 0) into.insert(into.end(), chunk, chunk + n);
    return n > 0 || (n < 0 && (errno == EINTR || errno == EAGAIN));
}

/* Copies what a pipe has to fd (or into early); false at its end. */
static bool relay(int from, int to, std::string *early) {
    std::vector<unsigned char> bytes;
    if (!readSome(from, bytes)) return false;
    if (early)
        early->append(bytes.begin(), bytes.end());
    else if (to >= 0)
        writeAll(to, bytes.data(), bytes.size());
    return true;
}

/* The ring up to its head, unless records may still hold trace from
 * before it: the head is read first, so a record that is not in the pipe
 * yet was written after it.  (Once the records are damaged, there is no
 * order to keep.) */
static void drainIdle(Session &s) {
    if (!s.ring || s.ringDamaged || !s.records.empty()) return;
    uint32_t head = __atomic_load_n(&s.ring->head, __ATOMIC_ACQUIRE);
    if (s.events >= 0 && !s.recordsDamaged) {
        struct pollfd p = {s.events, POLLIN, 0};
        if (poll(&p, 1, 0) != 0) return;
    }
    drainTo(s, head);
}

/* The command line of one event: a key, or HOST_IDLE for an idle event. */
static std::string commandFor(long key) {
    char line[32];
    snprintf(line, sizeof line, key == HOST_IDLE ? "I\n" : "K %lx\n", (unsigned long)key);
    return line;
}

/* The newest screen into the window, the keys pressed there into the
 * commands, and the end of the script once it has been closed. */
static void serveWindow(Session &s) {
    if (!s.window) return;
    if (!s.screenShown) windowShow(s.screen.data());
    s.screenShown = true;
    std::vector<long> keys;
    bool open = windowEvents(keys);
    for (long key : keys) s.pendingCommands += commandFor(key);
    s.keysPressed += keys.size();
    if (!open) {
        // as the end of a key script: what was pressed, then the end
        s.window = false;
        s.pendingCommands += "E\n";
        s.scriptEnded = true;
    }
}

static void relayUntilTheEnd(Session &s) {
    while (s.events >= 0 || s.stdoutPipe >= 0 || s.stderrPipe >= 0) {
        struct pollfd p[5];
        int *fds[5] = {&s.events, &s.stdoutPipe, &s.stderrPipe, &s.console, &s.commands};
        for (int i = 0; i < 5; i++) p[i] = {*fds[i], (short)(i == 4 ? POLLOUT : POLLIN), 0};
        if (s.pendingCommands.empty()) p[4].fd = -1;
        if (poll(p, 5, s.window ? WINDOW_POLL_MILLISECONDS : POLL_MILLISECONDS) < 0 && errno != EINTR) break;
        if (p[0].revents) {
            if (s.recordsDamaged) {
                std::vector<unsigned char> dropped;
                if (!readSome(s.events, dropped)) closeFd(s.events);
            } else if (readSome(s.events, s.records)) {
                takeRecords(s);
            } else {
                closeFd(s.events);
            }
        }
        if (p[1].revents && !relay(s.stdoutPipe, 1, nullptr)) closeFd(s.stdoutPipe);
        if (p[2].revents && !relay(s.stderrPipe, 2, s.hello ? nullptr : &s.early)) closeFd(s.stderrPipe);
        if (p[3].revents) relay(s.console, s.consoleCopy, nullptr);
        bool consoleOnly = p[3].revents && !p[0].revents && !p[1].revents && !p[2].revents && !p[4].revents;
        if (p[4].revents) {
            ssize_t n = write(s.commands, s.pendingCommands.data(), s.pendingCommands.size());
            if (n > 0) s.pendingCommands.erase(0, (size_t)n);
            if ((n < 0 && errno != EAGAIN && errno != EINTR) || (s.pendingCommands.empty() && s.scriptEnded)) {
                s.pendingCommands.clear();
                closeFd(s.commands);
            }
        }
        drainIdle(s);
        serveWindow(s);
        // a TAP writes its console in pieces of a few bytes: let them gather
        // rather than waking for each (the FIFO holds a megabyte)
        if (consoleOnly) usleep(CONSOLE_GATHER_MICROSECONDS);
    }
}

/* A pipe whose ends close on exec; false when none can be made. */
static bool makePipe(int ends[2]) { return pipe2(ends, O_CLOEXEC) == 0; }

/* The console: a FIFO in a folder of the host side's own, which bwrap
 * binds at /dev/pts/N.  *bind is for bwrap, *reader stays with the host
 * side (read and write, so that it never sees an end). */
static bool makeConsole(Session &s, int *bind) {
    const char *tmp = getenv("TMPDIR");
    std::string folder = std::string(tmp && *tmp ? tmp : "/tmp") + "/tapemu-XXXXXX";
    if (!mkdtemp(&folder[0])) return false;
    s.consoleFolder = folder;
    std::string fifo = folder + "/console";
    bool ok = mkfifo(fifo.c_str(), 0600) == 0;
    s.console = ok ? open(fifo.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC) : -1;
    if (s.console >= 0) fcntl(s.console, F_SETPIPE_SZ, 1 << 20);  // not everywhere allowed
    *bind = ok ? open(fifo.c_str(), O_PATH | O_CLOEXEC) : -1;
    return s.console >= 0 && *bind >= 0;
}


/* Starts the receiver side on the disk folder with the given arguments
 * and relays until it has ended; the outputs in s may be -1.  Returns the
 * exit status as hostRun does. */
static int runReceiverSide(Session &s, int diskFolder, int pts, bool unconfined,
                           const std::vector<std::string> &arguments, std::vector<std::string> *command) {
    SandboxRequest request;
    request.unconfined = unconfined;
    request.diskFd = diskFolder;
    request.pts = pts;
    request.receiverArgs = arguments;
    int in[2] = {-1, -1}, out[2] = {-1, -1}, err[2] = {-1, -1}, events[2] = {-1, -1}, commands[2] = {-1, -1};
    int ring = memfd_create("tapemu-trace", MFD_CLOEXEC), consoleBind = -1;
    void *memory = MAP_FAILED;
    if (ring >= 0 && ftruncate(ring, CHANNEL_RING_BYTES) == 0)
        memory = mmap(nullptr, CHANNEL_RING_BYTES, PROT_READ | PROT_WRITE, MAP_SHARED, ring, 0);
    bool ready = memory != MAP_FAILED && makePipe(in) && makePipe(out) && makePipe(err) && makePipe(events) &&
                 makePipe(commands) && (pts < 0 || unconfined || makeConsole(s, &consoleBind));
    pid_t pid = -1;
    std::string reason = "cannot make the sandbox: " + std::string(strerror(errno));
    if (ready) {
        s.ring = (ChannelRing *)memory;
        s.ringData = (const unsigned char *)memory + CHANNEL_RING_HEADER;
        fcntl(events[1], F_SETPIPE_SZ, 1 << 20);  // a frame in few pieces; not everywhere allowed
        request.stdinFd = in[0], request.stdoutFd = out[1], request.stderrFd = err[1];
        request.eventsFd = events[1], request.commandsFd = commands[0], request.ringFd = ring;
        request.consoleFd = consoleBind;
        if (command) sandboxCommand(request, *command, reason);
        pid = sandboxStart(request, reason);
    }
    for (int fd : {in[0], in[1], out[1], err[1], events[1], commands[0], ring, consoleBind})
        if (fd >= 0) close(fd);
    s.stdoutPipe = out[0], s.stderrPipe = err[0], s.events = events[0], s.commands = commands[1];
    int status = 0;
    if (pid > 0) {
        if (s.commands >= 0) fcntl(s.commands, F_SETFL, O_NONBLOCK);
        relayUntilTheEnd(s);
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        unsigned char rest[65536];
        ssize_t n;
        while (s.console >= 0 && (n = read(s.console, rest, sizeof rest)) > 0)
            if (s.consoleCopy >= 0) writeAll(s.consoleCopy, rest, (size_t)n);
        if (s.ring) drainTo(s, __atomic_load_n(&s.ring->head, __ATOMIC_ACQUIRE));
    }
    for (int *fd : {&s.events, &s.stdoutPipe, &s.stderrPipe, &s.commands, &s.console}) closeFd(*fd);
    forgetConsoleName(s);
    if (memory != MAP_FAILED) munmap(memory, CHANNEL_RING_BYTES);
    s.ring = nullptr;
    if (pid <= 0) {
        complain(reason);
        return EXIT_RUN;
    }
    if (!s.hello) {
        std::string first = s.early.substr(0, s.early.find('\n'));
        complain(unconfined ? "the receiver side did not start (" + first + ")" : sandboxRefusal(first));
        return EXIT_RUN;
    }
    int code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    if (code > 128) {
        // bwrap gives a command killed by signal N as 128 + N (as the code above does without bwrap)
        complain(std::string("the receiver side crashed (") + strsignal(code - 128) +
                 "); trace.txt keeps everything up to the crash");
        return EXIT_RUN;
    }
    if (s.recordsDamaged) return EXIT_RUN;  // said so already
    if (!s.done) {
        // a TAP that called exit() or _exit()
        complain("the receiver side ended before the script did (exit status " + std::to_string(code) +
                 "); trace.txt keeps everything up to there");
        return EXIT_RUN;
    }
    return code;
}

/* The window's title: tapemu and the first TAP's file name. */
static std::string windowTitle(const HostRun &run) {
    if (run.taps.empty()) return "tapemu";
    const std::string &tap = run.taps[0];
    return "tapemu: " + tap.substr(tap.rfind('/') + 1);
}

/* A folder's absolute path, for a receiver side that starts elsewhere. */
static std::string absolute(const std::string &folder) {
    char real[PATH_MAX];
    return realpath(folder.c_str(), real) ? real : folder;
}

int hostRun(const HostRun &run) {
    signal(SIGPIPE, SIG_IGN);  // a receiver side that is gone is no reason to die
    std::string reason;
    if (!hostFolders(run.disk, run.out, reason)) {
        complain(reason);
        return EXIT_RUN;
    }
    if (run.window) {
        if (!windowOpen(windowTitle(run), run.scale, reason)) {
            complain(reason);
            return EXIT_RUN;
        }
        fputs(windowKeyMap().c_str(), stdout);
        fflush(stdout);
    }
    Session s;
    s.pictures = run.pictures;
    s.window = run.window;
    int disk = open(run.disk.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    s.outFolder = open(run.out.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    std::vector<std::string> arguments = run.receiverOptions;
    if (run.unconfined)
        arguments.insert(arguments.begin(), {"--unconfined", "--disk", absolute(run.disk), "--out",
                                             absolute(run.out)});
    bool placed = disk >= 0 && s.outFolder >= 0;
    for (size_t i = 0; placed && i < run.taps.size(); i++) {
        std::string firmwarePath;
        placed = hostPlaceTap(disk, run.disk, run.taps[i], firmwarePath, reason);
        arguments.push_back(firmwarePath);
    }
    // without the sandbox the receiver side writes trace.txt and console.bin itself
    bool outputs = placed && !run.unconfined;
    s.trace = outputs ? freshOutput(s.outFolder, "trace.txt") : -1;
    s.consoleCopy = outputs ? freshOutput(s.outFolder, "console.bin") : -1;
    int status = EXIT_RUN;
    if (!placed || (outputs && (s.trace < 0 || s.consoleCopy < 0))) {
        complain(reason.empty() ? "cannot write the outputs in " + run.out : reason);
    } else {
        for (long key : run.keys) s.pendingCommands += commandFor(key);
        if (!run.window) {
            s.pendingCommands += "E\n";
            s.scriptEnded = true;
        }
        status = runReceiverSide(s, disk, run.pts, run.unconfined, arguments, nullptr);
    }
    windowClose();
    if (status == 0) {
        printf("tapemu: ran %zu key(s); trace in %s/trace.txt, console in %s/console.bin",
               run.keys.size() + s.keysPressed, run.out.c_str(), run.out.c_str());
        if (s.frames && s.pictures) printf(", %d screen(s) as %s/screen-NNNN.png", s.frames, run.out.c_str());
        printf("\n");
        fflush(stdout);
    }
    for (int *fd : {&disk, &s.outFolder, &s.trace, &s.consoleCopy}) closeFd(*fd);
    return status;
}

int hostSandboxCheck(void) {
    signal(SIGPIPE, SIG_IGN);
    const char *tmp = getenv("TMPDIR");
    std::string folder = std::string(tmp && *tmp ? tmp : "/tmp") + "/tapemu-check-XXXXXX";
    if (!mkdtemp(&folder[0])) {
        complain("cannot make a folder in " + folder.substr(0, folder.rfind('/')));
        return EXIT_RUN;
    }
    int disk = open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    Session s;
    s.pendingCommands = "E\n";
    s.scriptEnded = true;
    std::vector<std::string> command;
    int status = runReceiverSide(s, disk, 0, false, {"--check"}, &command);
    close(disk);
    rmdir(folder.c_str());
    if (status != 0) return EXIT_RUN;
    std::string line;
    for (const std::string &word : command)
        line += (line.empty() ? "" : " ") +
                (word.find_first_of(" \"'") == std::string::npos && !word.empty() ? word : "'" + word + "'");
    printf("tapemu: the sandbox works: %s\n", line.c_str());
    return 0;
}
