/*
 * The bwrap command line around tapemu's receiver side, and its start
 * with nothing but the descriptors that the receiver side is meant to
 * have.  tapemu, the firmware library and the seccomp filter
 * (tapemu-seccomp.bpf, made at build time for the machine that bwrap
 * runs on) sit in one folder; where bwrap is a program of another machine
 * than that library, the receiver side runs under qemu-<machine> from PATH
 * with -L from QEMU_LD_PREFIX or /usr/<machine>-linux-gnu.
 */
#include <dirent.h>
#include <dlfcn.h>
#include <elf.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "../base/base.h"
#include "sandbox.h"

/* Where bwrap finds the filter and the folders to bind. */
enum { SECCOMP_FD = 6, DISK_FD = 7, CONSOLE_FD = 8, FIRST_UNUSED_FD = 9 };

/* The folder of this library, where tapemu and the filter are. */
static std::string libraryFolder(std::string *library = nullptr) {
    Dl_info info;
    std::string path;
    if (dladdr((void *)&sandboxCommand, &info) && info.dli_fname) path = info.dli_fname;
    if (library) *library = path;
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

static bool isProgram(const std::string &path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
}

/* name as the shell finds it in PATH; "" when it is nowhere. */
static std::string findInPath(const char *name) {
    const char *env = getenv("PATH");
    std::string path = env && *env ? env : "/usr/local/bin:/usr/bin:/bin";
    size_t at = 0;
    while (at <= path.size()) {
        size_t end = path.find(':', at);
        if (end == std::string::npos) end = path.size();
        std::string dir = path.substr(at, end - at);
        if (!dir.empty() && dir[0] == '/' && isProgram(dir + "/" + name)) return dir + "/" + name;
        at = end + 1;
    }
    return "";
}

/* The machine of an ELF file: e_machine with its class and byte order,
 * or 0 when the file is no ELF file. */
static unsigned long elfMachine(const std::string &path) {
    unsigned char header[20];
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return 0;
    bool whole = read(fd, header, sizeof header) == (ssize_t)sizeof header;
    close(fd);
    if (!whole || memcmp(header, ELFMAG, SELFMAG) != 0) return 0;
    unsigned machine = header[EI_DATA] == ELFDATA2MSB ? header[18] << 8 | header[19] : header[19] << 8 | header[18];
    return (unsigned long)machine << 16 | header[EI_CLASS] << 8 | header[EI_DATA];
}

/* The qemu-user name for this library's machine, "" for one it has none of. */
static const char *qemuFor(unsigned long machine) {
    if (machine == ((unsigned long)EM_MIPS << 16 | ELFCLASS32 << 8 | ELFDATA2LSB)) return "mipsel";
    if (machine == ((unsigned long)EM_MIPS << 16 | ELFCLASS32 << 8 | ELFDATA2MSB)) return "mips";
    return "";
}

bool sandboxCommand(const SandboxRequest &request, std::vector<std::string> &argv, std::string &reason) {
    std::string library;
    std::string folder = libraryFolder(&library);
    std::string bwrap = findInPath("bwrap");
    if (bwrap.empty() && !request.unconfined) {
        reason = "cannot make the sandbox: bwrap is not installed (apt-get install bubblewrap)";
        return false;
    }
    std::string receiver = folder + "/tapemu", filter = folder + "/tapemu-seccomp.bpf";
    if (!isProgram(receiver)) {
        reason = std::string(request.unconfined ? "cannot start the receiver side" : "cannot make the sandbox") +
                 ": no " + receiver + " beside " + library;
        return false;
    }
    std::string channel = std::to_string(SANDBOX_EVENTS_FD) + ":" + std::to_string(SANDBOX_COMMANDS_FD) + ":" +
                          std::to_string(SANDBOX_RING_FD);
    if (request.unconfined) {
        argv = {receiver, "--receiver-side", channel};
        argv.insert(argv.end(), request.receiverArgs.begin(), request.receiverArgs.end());
        return true;
    }
    if (access(filter.c_str(), R_OK) != 0) {
        reason = "cannot make the sandbox: no seccomp filter " + filter + " (build the tapemu target)";
        return false;
    }
    std::vector<std::string> emulator;
    unsigned long own = elfMachine(library), host = elfMachine(bwrap);
    if (own != host) {
        std::string machine = qemuFor(own);
        std::string qemu = machine.empty() ? "" : findInPath(("qemu-" + machine).c_str());
        if (qemu.empty()) {
            reason = "cannot make the sandbox: " + library + " is for another machine than " + bwrap + " and " +
                     (machine.empty() ? "no qemu runs it" : "qemu-" + machine + " is not in PATH (apt-get install qemu-user)");
            return false;
        }
        const char *prefix = getenv("QEMU_LD_PREFIX");
        std::string root = prefix && *prefix ? prefix : "/usr/" + machine + "-linux-gnu";
        emulator = {qemu, "-L", root};
    }

    argv = {bwrap,
            // every namespace of its own, and no way to make more
            "--unshare-user", "--unshare-ipc", "--unshare-pid", "--unshare-net", "--unshare-uts",
            "--unshare-cgroup", "--disable-userns",
            // no capabilities, no new privileges (bwrap's own), no terminal to push input into
            "--cap-drop", "ALL", "--new-session", "--die-with-parent",
            // the host read-only; private /dev, /proc, /tmp; no sockets of /run
            "--ro-bind", "/", "/", "--dev", "/dev", "--proc", "/proc", "--tmpfs", "/tmp", "--tmpfs", "/run",
            "--tmpfs", "/mnt", "--bind-fd", std::to_string(DISK_FD), EMU_MOUNT, "--tmpfs", "/dev/pts"};
    if (request.consoleFd >= 0) {
        argv.push_back("--bind-fd");
        argv.push_back(std::to_string(CONSOLE_FD));
        argv.push_back("/dev/pts/" + std::to_string(request.pts));
    }
    // tapemu and its libraries (and qemu's), wherever they are
    std::vector<std::string> shown = {folder};
    if (!emulator.empty()) shown.push_back(emulator[0]), shown.push_back(emulator[2]);
    for (const std::string &s : shown) {
        argv.push_back("--ro-bind");
        argv.push_back(s);
        argv.push_back(s);
    }
    argv.insert(argv.end(), {"--chdir", "/", "--seccomp", std::to_string(SECCOMP_FD), "--"});
    argv.insert(argv.end(), emulator.begin(), emulator.end());
    argv.push_back(receiver);
    argv.push_back("--receiver-side");
    argv.push_back(channel);
    argv.insert(argv.end(), request.receiverArgs.begin(), request.receiverArgs.end());
    return true;
}

/* In the child: every descriptor from first on is closed when bwrap
 * starts. */
static void closeOnExecFrom(int first) {
#ifdef CLOSE_RANGE_CLOEXEC
    if (close_range((unsigned)first, ~0u, CLOSE_RANGE_CLOEXEC) == 0) return;
#endif
    DIR *dir = opendir("/proc/self/fd");
    if (!dir) return;
    while (struct dirent *e = readdir(dir)) {
        int fd = atoi(e->d_name);
        if (fd >= first && fd != dirfd(dir)) fcntl(fd, F_SETFD, FD_CLOEXEC);
    }
    closedir(dir);
}

pid_t sandboxStart(const SandboxRequest &request, std::string &reason) {
    std::vector<std::string> args;
    if (!sandboxCommand(request, args, reason)) return -1;
    std::string filter = libraryFolder() + "/tapemu-seccomp.bpf";
    int seccomp = request.unconfined ? -1 : open(filter.c_str(), O_RDONLY | O_CLOEXEC);
    if (seccomp < 0 && !request.unconfined) {
        reason = "cannot make the sandbox: cannot open " + filter + ": " + strerror(errno);
        return -1;
    }
    std::vector<char *> argv;
    for (std::string &a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    const int sources[FIRST_UNUSED_FD] = {request.stdinFd,  request.stdoutFd, request.stderrFd,
                                         request.eventsFd, request.commandsFd, request.ringFd,
                                         seccomp,
                                         request.unconfined ? -1 : request.diskFd,
                                         request.unconfined ? -1 : request.consoleFd};
    pid_t parent = getpid();
    fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        int moved[FIRST_UNUSED_FD];
        for (int i = 0; i < FIRST_UNUSED_FD; i++)
            moved[i] = sources[i] >= 0 ? fcntl(sources[i], F_DUPFD_CLOEXEC, 3 * FIRST_UNUSED_FD) : -1;
        for (int i = 0; i < FIRST_UNUSED_FD; i++)
            if (moved[i] >= 0)
                dup2(moved[i], i);
            else
                close(i);
        closeOnExecFrom(FIRST_UNUSED_FD);
        struct rlimit noCore = {0, 0};  // a crash in the sandbox leaves no core file anywhere
        setrlimit(RLIMIT_CORE, &noCore);
        sigset_t none;  // signals as a fresh program has them, not as tapemu's host side set them
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        signal(SIGPIPE, SIG_DFL);
        // without bwrap's --die-with-parent: the same through the kernel
        if (request.unconfined && (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || getppid() != parent)) _exit(127);
        execv(argv[0], argv.data());
        dprintf(2, "cannot run %s: %s\n", argv[0], strerror(errno));
        _exit(127);
    }
    int saved = errno;
    if (seccomp >= 0) close(seccomp);
    if (pid < 0) reason = std::string("cannot start bwrap: ") + strerror(saved);
    return pid;
}

std::string sandboxRefusal(const std::string &complaint) {
    if (complaint.find("namespace") != std::string::npos || complaint.find("uid map") != std::string::npos ||
        complaint.find("unshare") != std::string::npos)
        return "the kernel refuses the sandbox (" + complaint +
               "): it needs unprivileged user namespaces (sysctl user.max_user_namespaces above 0, and "
               "kernel.unprivileged_userns_clone=1 or kernel.apparmor_restrict_unprivileged_userns=0 where "
               "the kernel has them); or run tapemu --no-sandbox, which lets the TAPs run unconfined";
    return "cannot make the sandbox (" + (complaint.empty() ? std::string("bwrap gave no reason") : complaint) +
           "); tapemu --no-sandbox runs the TAPs unconfined";
}
