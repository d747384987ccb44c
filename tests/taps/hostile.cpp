/*
 * Hostile: a TAP that tries every way it knows to create, change or
 * delete something outside the disk and the output folder, for the
 * confinement test (tests/emulator/hostile.sh).  Its targets are the
 * files of a canary folder, named with the output folder and the console
 * in /mnt/hd/hostile.cfg:
 *
 *     canary /abs/path/of/canary
 *     out /abs/path/of/out
 *     pts N
 *     control
 *
 * The last line is for a control run without the sandbox, which shows
 * that the attempts are real: it leaves out the attacks on the kernel and
 * the terminal, which would reach the PC itself there.
 * Every attempt is a real one (write, create, delete, chmod, touch,
 * link), whose success would show in the canary.  Each one goes as a line
 * "group: attempt -> result" into /mnt/hd/hostile-report.txt; the test
 * compares the canary before and after.  The attempts run on the first
 * event; EXIT ends the TAP.
 */
#include <dirent.h>
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <sys/uio.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <utime.h>

#include "tap.h"

TAP_ID(0x51525695);
TAP_PROGRAM_NAME("Hostile");
TAP_AUTHOR_NAME("Zephyrdesk team");
TAP_DESCRIPTION("Tries to escape the disk folder");
TAP_PROGRAM_VERSION("1.0");
TAP_ETCINFO("Feb 29 2016");

extern "C" int __openat_2(int dirfd, const char *path, int flags);

/* The report file, open from the constructor on. */
static int report = -1;
/* The canary folder, the output folder and the console's number. */
static char canary[512], outFolder[512];
static int pts = 0;
/* A control run, without the sandbox. */
static bool control = false;
/* Attempts made, for the closing line in the trace. */
static int attempts = 0;

static void readConfig(void) {
    if (canary[0]) return;
    int fd = open("/mnt/hd/hostile.cfg", O_RDONLY);
    char text[2048] = "";
    if (fd >= 0) {
        ssize_t n = read(fd, text, sizeof text - 1);
        text[n > 0 ? n : 0] = 0;
        close(fd);
    }
    for (char *line = strtok(text, "\n"); line; line = strtok(nullptr, "\n")) {
        if (strncmp(line, "canary ", 7) == 0) snprintf(canary, sizeof canary, "%s", line + 7);
        if (strncmp(line, "out ", 4) == 0) snprintf(outFolder, sizeof outFolder, "%s", line + 4);
        if (strncmp(line, "pts ", 4) == 0) pts = atoi(line + 4);
        if (strcmp(line, "control") == 0) control = true;
    }
    if (report < 0) report = open("/mnt/hd/hostile-report.txt", O_WRONLY | O_CREAT | O_APPEND, 0644);
}

/* A path in the canary (or out) folder, in one of a few rotating buffers. */
static const char *in(const char *folder, const char *name) {
    static char buffers[8][600];
    static int next = 0;
    char *b = buffers[next++ % 8];
    snprintf(b, sizeof buffers[0], "%s/%s", folder, name);
    return b;
}
static const char *C(const char *name) { return in(canary, name); }
static const char *O(const char *name) { return in(outFolder, name); }

static void note(const char *group, const char *what, long result, int error) {
    char line[1024];
    int n;
    if (result < 0)
        n = snprintf(line, sizeof line, "%s: %s -> refused%s%s%s\n", group, what, error ? " (" : "",
                     error ? strerror(error) : "", error ? ")" : "");
    else
        n = snprintf(line, sizeof line, "%s: %s -> done (%ld)\n", group, what, result);
    if (report >= 0 && write(report, line, (size_t)n) < 0) return;
    attempts++;
}

/* One attempt: the call's result (negative: refused, with errno). */
#define TRY(group, what, call)                 \
    do {                                       \
        errno = 0;                             \
        long result_ = (long)(call);           \
        note(group, what, result_, errno);     \
    } while (0)

/* Writing to a descriptor that an attempt opened: the attempt is done
 * only when the bytes went in. */
static long scribble(int fd) {
    if (fd < 0) return -1;
    long r = write(fd, "hostile\n", 8);
    int saved = errno;
    close(fd);
    errno = saved;
    return r < 0 ? -1 : fd;
}

static long pointer(const void *p) { return p ? 1 : -1; }

/* A shell's status as an attempt's result: done only when it says 0. */
static void noteStatus(const char *group, const char *what, int status) {
    char line[600];
    snprintf(line, sizeof line, "%s (exit status %d)", what, WIFEXITED(status) ? WEXITSTATUS(status) : -1);
    note(group, line, status == 0 ? 0 : -1, 0);
}

static long closed(FILE *f) {
    if (!f) return -1;
    long r = fputs("hostile\n", f) < 0 ? -1 : 1;
    return fclose(f) != 0 ? -1 : r;
}

/* ---- Code in the constructors ------------------------------------------- */

__attribute__((constructor)) static void atLoad(void) {
    readConfig();
    if (!canary[0]) return;
    TRY("constructor", "append to victim", scribble(open(C("victim"), O_WRONLY | O_APPEND)));
    TRY("constructor", "unlink hard1 (raw unlinkat)", syscall(SYS_unlinkat, AT_FDCWD, C("hard1"), 0));
    TRY("constructor", "chmod victim 0777", chmod(C("victim"), 0777));
}

/* ---- Plain libc calls ------------------------------------------------------- */

static void libcCalls(void) {
    const char *g = "libc";
    TRY(g, "open victim O_WRONLY|O_TRUNC", scribble(open(C("victim"), O_WRONLY | O_TRUNC)));
    TRY(g, "open new O_CREAT", scribble(open(C("new"), O_WRONLY | O_CREAT, 0644)));
    TRY(g, "open64 readonly O_RDWR", scribble(open64(C("readonly"), O_RDWR)));
    TRY(g, "creat new2", scribble(creat(C("new2"), 0644)));
    TRY(g, "fopen victim a", closed(fopen(C("victim"), "a")));
    TRY(g, "fopen64 new3 w", closed(fopen64(C("new3"), "w")));
    TRY(g, "freopen victim r+", closed(freopen(C("victim"), "r+", fopen("/dev/null", "r"))));
    TRY(g, "unlink victim", unlink(C("victim")));
    TRY(g, "remove readonly", remove(C("readonly")));
    TRY(g, "rename victim", rename(C("victim"), C("renamed")));
    TRY(g, "rename victim into the disk", rename(C("victim"), "/mnt/hd/stolen"));
    TRY(g, "chmod victim", chmod(C("victim"), 0777));
    TRY(g, "chown victim", chown(C("victim"), 1, 1));
    TRY(g, "lchown link", lchown(C("link"), 1, 1));
    TRY(g, "utime victim", utime(C("victim"), nullptr));
    TRY(g, "utimes victim", utimes(C("victim"), nullptr));
    TRY(g, "truncate victim", truncate(C("victim"), 0));
    TRY(g, "mkdir newdir", mkdir(C("newdir"), 0755));
    TRY(g, "rmdir empty", rmdir(C("empty")));
    TRY(g, "symlink newlink", symlink("victim", C("newlink")));
    TRY(g, "link victim newhard", link(C("victim"), C("newhard")));
    TRY(g, "link victim into the disk", link(C("victim"), "/mnt/hd/hardlink"));
    TRY(g, "open the link O_WRONLY", scribble(open(C("link"), O_WRONLY | O_APPEND)));
}

/* ---- Calls relative to a directory, and on descriptors ------------------- */

static void atCalls(void) {
    const char *g = "at";
    int dir = open(canary, O_RDONLY | O_DIRECTORY);
    int disk = open("/mnt/hd", O_RDONLY | O_DIRECTORY);
    TRY(g, "openat victim O_WRONLY|O_TRUNC", scribble(openat(dir, "victim", O_WRONLY | O_TRUNC)));
    TRY(g, "openat new O_CREAT", scribble(openat(dir, "new", O_WRONLY | O_CREAT, 0644)));
    TRY(g, "openat absolute victim", scribble(openat(disk, C("victim"), O_WRONLY | O_APPEND)));
    TRY(g, "__openat_2 victim", scribble(__openat_2(dir, "victim", O_WRONLY | O_APPEND)));
    TRY(g, "mkdirat newdir", mkdirat(dir, "newdir", 0755));
    TRY(g, "unlinkat victim", unlinkat(dir, "victim", 0));
    TRY(g, "unlinkat empty AT_REMOVEDIR", unlinkat(dir, "empty", AT_REMOVEDIR));
    TRY(g, "renameat victim", renameat(dir, "victim", dir, "moved"));
    TRY(g, "renameat victim into the disk", renameat(dir, "victim", disk, "stolen"));
    TRY(g, "renameat2 RENAME_EXCHANGE victim readonly", renameat2(dir, "victim", dir, "readonly", RENAME_EXCHANGE));
    TRY(g, "renameat2 RENAME_NOREPLACE victim", renameat2(dir, "victim", dir, "moved2", RENAME_NOREPLACE));
    TRY(g, "linkat link AT_SYMLINK_FOLLOW into the disk", linkat(dir, "link", disk, "followed", AT_SYMLINK_FOLLOW));
    TRY(g, "linkat victim newhard", linkat(dir, "victim", dir, "newhard", 0));
    TRY(g, "symlinkat newlink", symlinkat("victim", dir, "newlink"));
    TRY(g, "fchmodat victim", fchmodat(dir, "victim", 0777, 0));
    TRY(g, "fchownat victim", fchownat(dir, "victim", 1, 1, 0));
    TRY(g, "utimensat victim", utimensat(dir, "victim", nullptr, 0));
    TRY(g, "futimesat victim", futimesat(dir, "victim", nullptr));
    TRY(g, "mknodat fifo", mknodat(dir, "node", S_IFIFO | 0644, 0));
    TRY(g, "mkfifoat fifo", mkfifoat(dir, "fifo", 0644));
    int victim = open(C("victim"), O_RDONLY);
    static const char *volatile noPath = nullptr;  // utimensat(fd, NULL, ...) is futimens
    TRY(g, "utimensat(fd, NULL) on victim", utimensat(victim, noPath, nullptr, 0));
    TRY(g, "futimens victim", futimens(victim, nullptr));
    TRY(g, "fchmod victim", fchmod(victim, 0777));
    TRY(g, "fchown victim", fchown(victim, 1, 1));
    TRY(g, "fsetxattr victim", fsetxattr(victim, "user.hostile", "1", 1, 0));
    close(victim);
    close(dir);
    close(disk);
}

/* ---- Raw system calls ------------------------------------------------------- */

static void rawCalls(void) {
    const char *g = "raw";
    TRY(g, "openat victim O_WRONLY|O_TRUNC", scribble((int)syscall(SYS_openat, AT_FDCWD, C("victim"), O_WRONLY | O_TRUNC)));
    TRY(g, "openat new O_CREAT", scribble((int)syscall(SYS_openat, AT_FDCWD, C("new"), O_WRONLY | O_CREAT, 0644)));
    TRY(g, "unlinkat victim", syscall(SYS_unlinkat, AT_FDCWD, C("victim"), 0));
    TRY(g, "renameat victim", syscall(SYS_renameat, AT_FDCWD, C("victim"), AT_FDCWD, C("moved")));
    TRY(g, "mkdirat newdir", syscall(SYS_mkdirat, AT_FDCWD, C("newdir"), 0755));
    TRY(g, "fchmodat victim", syscall(SYS_fchmodat, AT_FDCWD, C("victim"), 0777));
    TRY(g, "utimensat victim", syscall(SYS_utimensat, AT_FDCWD, C("victim"), nullptr, 0));
    TRY(g, "linkat victim rawlink", syscall(SYS_linkat, AT_FDCWD, C("victim"), AT_FDCWD, C("rawlink"), 0));
    TRY(g, "symlinkat newlink", syscall(SYS_symlinkat, "victim", AT_FDCWD, C("newlink")));
    TRY(g, "truncate victim", syscall(SYS_truncate, C("victim"), 0));
    TRY(g, "mknodat node", syscall(SYS_mknodat, AT_FDCWD, C("node"), S_IFREG | 0644, 0));
#if defined(__x86_64__)
    // the x32 and i386 system call tables of an x86-64 kernel
    TRY(g, "x32 unlinkat victim", syscall(0x40000000 | SYS_unlinkat, AT_FDCWD, C("victim"), 0));
#endif
}

/* ---- The real libc through the loader ------------------------------------ */

typedef int (*OpenCall)(const char *, int, ...);
typedef int (*PathCall)(const char *);
typedef int (*ChmodCall)(const char *, mode_t);

static void loaderCalls(void) {
    const char *g = "loader";
    OpenCall nextOpen = (OpenCall)dlsym(RTLD_NEXT, "open");
    PathCall nextUnlink = (PathCall)dlsym(RTLD_NEXT, "unlink");
    TRY(g, "dlsym(RTLD_NEXT, open) victim O_TRUNC", nextOpen ? scribble(nextOpen(C("victim"), O_WRONLY | O_TRUNC)) : -1);
    TRY(g, "dlsym(RTLD_NEXT, unlink) victim", nextUnlink ? nextUnlink(C("victim")) : -1);
    void *libc = dlopen("libc.so.6", RTLD_NOW);
    OpenCall libcOpen = libc ? (OpenCall)dlsym(libc, "open") : nullptr;
    ChmodCall libcChmod = libc ? (ChmodCall)dlsym(libc, "chmod") : nullptr;
    PathCall libcRmdir = libc ? (PathCall)dlsym(libc, "rmdir") : nullptr;
    PathCall libcSystem = libc ? (PathCall)dlsym(libc, "system") : nullptr;
    TRY(g, "dlopen(libc.so.6) open new O_CREAT", libcOpen ? scribble(libcOpen(C("new"), O_WRONLY | O_CREAT, 0644)) : -1);
    TRY(g, "dlopen(libc.so.6) chmod victim", libcChmod ? libcChmod(C("victim"), 0777) : -1);
    TRY(g, "dlopen(libc.so.6) rmdir empty", libcRmdir ? libcRmdir(C("empty")) : -1);
    char command[1400];
    snprintf(command, sizeof command, "rm -f '%s'", C("victim"));
    noteStatus(g, "dlopen(libc.so.6) system rm victim", libcSystem ? libcSystem(command) : -1);
    void *versioned = dlvsym(RTLD_NEXT, "open", "GLIBC_2.2.5");
    if (!versioned) versioned = dlvsym(RTLD_NEXT, "open", "GLIBC_2.0");
    TRY(g, "dlvsym(RTLD_NEXT, open) victim", versioned ? scribble(((OpenCall)versioned)(C("victim"), O_WRONLY | O_APPEND)) : -1);
}

/* ---- A shell --------------------------------------------------------------- */

static void shellCalls(void) {
    const char *g = "exec";
    char script[4000];
    snprintf(script, sizeof script,
             "echo hostile >> '%s' ; touch '%s' ; rm -f '%s' ; chmod 777 '%s' ; ln '%s' '%s' ; mkdir '%s' ; "
             "touch -d 2001-01-01 '%s' ; mv '%s' '%s'",
             C("victim"), C("new"), C("readonly"), C("victim"), C("victim"), C("newhard"), C("newdir"), C("dir/inner"),
             C("hard2"), C("renamed2"));
    pid_t child = fork();
    if (child == 0) {
        execl("/bin/sh", "sh", "-c", script, (char *)nullptr);
        _exit(127);
    }
    int status = 0;
    if (child > 0) waitpid(child, &status, 0);
    noteStatus(g, "execve /bin/sh with writes to the canary", child < 0 ? -1 : status);
    noteStatus(g, "system() with writes to the canary", system(script));
    // which shell system() runs: the receiver's own gives exit status 3
    TAP_Print("hostile: system(\"exit 3\") -> %d\n", system("exit 3"));
}

/* ---- The stand-in's own state ---------------------------------------------- */

static void stateCalls(void) {
    const char *g = "state";
    // the firmware's receiver state: its first member says whether a
    // receiver runs, and tapemu's own checks step aside when it does not
    bool *started = (bool *)dlsym(RTLD_DEFAULT, "emu");
    TRY(g, "find the stand-in's state", started ? 0 : -1);
    if (!started) return;
    bool was = *started;
    *started = false;
    TRY(g, "with the checks off: open victim O_TRUNC", scribble(open(C("victim"), O_WRONLY | O_TRUNC)));
    TRY(g, "with the checks off: unlink readonly", unlink(C("readonly")));
    TRY(g, "with the checks off: chmod victim", chmod(C("victim"), 0777));
    TRY(g, "with the checks off: mkdir newdir", mkdir(C("newdir"), 0755));
    *started = was;
}

/* ---- Races with links and the working directory ---------------------------- */

static const int RACE_ROUNDS = 400;

/* The child of the link race: /mnt/hd/race points into the disk and into
 * the canary by turns, replaced in one rename each time. */
static void swapLinks(void) {
    for (;;) {
        symlink("/mnt/hd/safe", "/mnt/hd/race.new");
        rename("/mnt/hd/race.new", "/mnt/hd/race");
        symlink(canary, "/mnt/hd/race.new");
        rename("/mnt/hd/race.new", "/mnt/hd/race");
    }
}

static void linkRace(void) {
    const char *g = "race";
    mkdir("/mnt/hd/safe", 0755);
    close(open("/mnt/hd/safe/victim", O_WRONLY | O_CREAT, 0644));
    symlink("/mnt/hd/safe", "/mnt/hd/race");
    pid_t child = fork();
    if (child == 0) swapLinks();
    int opened = 0, refused = 0, created = 0;
    for (int i = 0; i < RACE_ROUNDS; i++) {
        int fd = open("/mnt/hd/race/victim", O_WRONLY | O_APPEND);
        if (scribble(fd) >= 0) opened++;
        else refused++;
        if (scribble(open("/mnt/hd/race/raced", O_WRONLY | O_CREAT, 0644)) >= 0) created++;
        chmod("/mnt/hd/race/victim", 0777);
        unlink("/mnt/hd/race/raced");
    }
    if (child > 0) {
        kill(child, SIGKILL);
        waitpid(child, nullptr, 0);
    }
    char what[160];
    snprintf(what, sizeof what, "%d writes through a swapped link: %d opened, %d refused, %d created", RACE_ROUNDS,
             opened, refused, created);
    TRY(g, what, child > 0 ? 0 : -1);
}

/* The other thread of the working-directory race. */
static volatile int racing = 1;
static int safeFolder = -1, canaryFolder = -1;

static void *swapDirectories(void *) {
    while (racing) {
        fchdir(safeFolder);
        fchdir(canaryFolder);
    }
    return nullptr;
}

static void directoryRace(void) {
    const char *g = "cwd";
    canaryFolder = open(canary, O_RDONLY | O_DIRECTORY);
    safeFolder = open("/mnt/hd/safe", O_RDONLY | O_DIRECTORY);
    TRY(g, "chdir into the canary", chdir(canary));
    TRY(g, "creat cwdfile there", scribble(creat("cwdfile", 0644)));
    TRY(g, "unlink victim there", unlink("victim"));
    pthread_t other;
    bool threaded = pthread_create(&other, nullptr, swapDirectories, nullptr) == 0;
    int created = 0;
    for (int i = 0; i < RACE_ROUNDS; i++) {
        if (scribble(open("victim", O_WRONLY | O_APPEND)) >= 0) created++;
        if (mkdir("cwddir", 0755) == 0) rmdir("cwddir");
    }
    racing = 0;
    if (threaded) pthread_join(other, nullptr);
    char what[160];
    snprintf(what, sizeof what, "%d relative writes while another thread swaps the directory: %d opened", RACE_ROUNDS,
             created);
    TRY(g, what, threaded ? 0 : -1);
    chdir("/");
    close(canaryFolder);
    close(safeFolder);
}

/* ---- Temporary files, nodes, sockets, extended attributes, handles --------- */

static void tempCalls(void) {
    const char *g = "temp";
    char a[600], b[600], c[600], d[600], e[600];
    snprintf(a, sizeof a, "%s", C("tmpXXXXXX"));
    snprintf(b, sizeof b, "%s", C("tmpXXXXXX"));
    snprintf(c, sizeof c, "%s", C("tmpXXXXXX.s"));
    snprintf(d, sizeof d, "%s", C("dirXXXXXX"));
    snprintf(e, sizeof e, "%s", C("tmpXXXXXX.e"));
    TRY(g, "mkstemp", scribble(mkstemp(a)));
    TRY(g, "mkostemp", scribble(mkostemp(b, O_CLOEXEC)));
    TRY(g, "mkostemps", scribble(mkostemps(c, 2, 0)));
    TRY(g, "mkstemps", scribble(mkstemps(e, 2)));
    TRY(g, "mkdtemp", pointer(mkdtemp(d)));
}

static void nodeCalls(void) {
    const char *g = "node";
    TRY(g, "mknod fifo", mknod(C("node"), S_IFIFO | 0644, 0));
    TRY(g, "mknod regular file", mknod(C("node2"), S_IFREG | 0644, 0));
    TRY(g, "mkfifo", mkfifo(C("fifo"), 0644));
}

static void socketCalls(void) {
    const char *g = "socket";
    errno = 0;
    int s = socket(AF_UNIX, SOCK_STREAM, 0);
    note(g, "socket(AF_UNIX)", s, errno);
    struct sockaddr_un address;
    memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    snprintf(address.sun_path, sizeof address.sun_path, "%s", C("sock"));
    TRY(g, "bind a socket path in the canary", s < 0 ? -1 : bind(s, (struct sockaddr *)&address, sizeof address));
    if (s >= 0) close(s);
}

static void xattrCalls(void) {
    const char *g = "xattr";
    TRY(g, "setxattr victim", setxattr(C("victim"), "user.hostile", "1", 1, 0));
    TRY(g, "lsetxattr link", lsetxattr(C("link"), "user.hostile", "1", 1, 0));
    TRY(g, "removexattr victim user.canary", removexattr(C("victim"), "user.canary"));
    TRY(g, "lremovexattr victim user.canary", lremovexattr(C("victim"), "user.canary"));
}

static void handleCalls(void) {
    const char *g = "handle";
    struct {
        struct file_handle h;
        unsigned char bytes[128];
    } handle;
    handle.h.handle_bytes = sizeof handle.bytes;
    int mount = 0;
    TRY(g, "name_to_handle_at victim", name_to_handle_at(AT_FDCWD, C("victim"), &handle.h, &mount, 0));
    int dir = open(canary, O_RDONLY | O_DIRECTORY);
    TRY(g, "open_by_handle_at victim O_WRONLY", scribble(open_by_handle_at(dir, &handle.h, O_WRONLY | O_APPEND)));
    close(dir);
}

/* ---- What the sandbox refuses outright ------------------------------------- */

static void kernelCalls(void) {
    const char *g = "kernel";
    TRY(g, "ptrace(PTRACE_ATTACH) the parent", syscall(SYS_ptrace, 16 /* PTRACE_ATTACH */, getppid(), 0, 0));
    char byte = 0;
    struct iovec local = {&byte, 1}, remote = {(void *)&byte, 1};
    TRY(g, "process_vm_writev into the parent", syscall(SYS_process_vm_writev, getppid(), &local, 1, &remote, 1, 0));
    TRY(g, "mount tmpfs over the canary", syscall(SYS_mount, "none", canary, "tmpfs", 0, nullptr));
    TRY(g, "bpf", syscall(SYS_bpf, 5 /* BPF_PROG_LOAD */, nullptr, 0));
    TRY(g, "io_uring_setup", syscall(SYS_io_uring_setup, 1, nullptr));
    TRY(g, "keyctl", syscall(SYS_keyctl, 0 /* KEYCTL_GET_KEYRING_ID */, -3, 0));
    struct {
        struct file_handle h;
        unsigned char bytes[8];
    } handle = {};
    handle.h.handle_bytes = sizeof handle.bytes;
    TRY(g, "open_by_handle_at", syscall(SYS_open_by_handle_at, AT_FDCWD, &handle.h, O_RDONLY));
    TRY(g, "unshare a user namespace", unshare(CLONE_NEWUSER));
}

/* ---- Links planted for the console and the output folder ------------------- */

static void plantedLinks(void) {
    const char *g = "planted";
    char console[32], beside[32];
    snprintf(console, sizeof console, "/dev/pts/%d", pts);
    snprintf(beside, sizeof beside, "/dev/pts/%d", pts + 1);
    TRY(g, "unlink out/console.bin", unlink(O("console.bin")));
    TRY(g, "symlink out/console.bin -> victim", symlink(C("victim"), O("console.bin")));
    TRY(g, "unlink out/trace.txt", unlink(O("trace.txt")));
    TRY(g, "symlink out/trace.txt -> victim", symlink(C("victim"), O("trace.txt")));
    TRY(g, "symlink out/screen-0002.png -> victim", symlink(C("victim"), O("screen-0002.png")));
    TRY(g, "link victim as out/screen-0003.png", link(C("victim"), O("screen-0003.png")));
    TRY(g, "rename the output folder into the disk", rename(outFolder, "/mnt/hd/stolen-out"));
    TRY(g, "write the console after the plants", scribble(open(console, O_WRONLY)));
    TRY(g, "unlink the console", unlink(console));
    TRY(g, "symlink the console -> victim", symlink(C("victim"), console));
    TRY(g, "symlink the next terminal -> victim", symlink(C("victim"), beside));
    TRY(g, "write the next terminal", scribble(open(beside, O_WRONLY | O_APPEND)));
    // the file the host side copies the TAP into on the next run
    TRY(g, "unlink its own TAP file", unlink("/mnt/hd/ProgramFiles/Hostile.tap"));
    TRY(g, "symlink its own TAP file -> victim", symlink(C("victim"), "/mnt/hd/ProgramFiles/Hostile.tap"));
}

static void terminalCalls(void) {
    const char *g = "terminal";
    TRY(g, "open /dev/tty", scribble(open("/dev/tty", O_RDWR)));
    char key = 'x';
    TRY(g, "TIOCSTI into standard input", ioctl(0, TIOCSTI, &key));
}

/* What the TAP's process holds open: one line each, for the test to see
 * that no file of the PC is among them. */
static void descriptors(void) {
    DIR *dir = opendir("/proc/self/fd");
    while (struct dirent *e = dir ? readdir(dir) : nullptr) {
        if (e->d_name[0] == '.' || atoi(e->d_name) == dirfd(dir)) continue;
        char link[300], target[600] = "";
        snprintf(link, sizeof link, "/proc/self/fd/%s", e->d_name);
        ssize_t n = readlink(link, target, sizeof target - 1);
        target[n > 0 ? n : 0] = 0;
        char line[700];
        int length = snprintf(line, sizeof line, "descriptor: %s -> %s\n", e->d_name, target);
        if (report >= 0 && write(report, line, (size_t)length) < 0) break;
    }
    if (dir) closedir(dir);
}

static void attack(void) {
    readConfig();
    if (!canary[0]) {
        TAP_Print("hostile: no /mnt/hd/hostile.cfg\n");
        return;
    }
    TAP_Print("hostile: canary %s\n", canary);
    descriptors();
    libcCalls();
    atCalls();
    rawCalls();
    loaderCalls();
    shellCalls();
    stateCalls();
    linkRace();
    directoryRace();
    tempCalls();
    nodeCalls();
    socketCalls();
    xattrCalls();
    handleCalls();
    plantedLinks();
    if (!control) {
        kernelCalls();
        terminalCalls();
    }
    TAP_Print("hostile: %d attempts made\n", attempts);
}

static int attacked = 0;

dword TAP_EventHandler(word event, dword param1, dword param2) {
    (void)param2;
    if (!attacked) {
        attacked = 1;
        attack();
    }
    if (event == EVT_KEY && param1 == KEY_EXIT_REMOTE) {
        TAP_Exit();
        return 0;
    }
    return param1;
}

int TAP_Main(void) { return 1; }

extern "C" int __TAP_Init_(TapEntryRecord *record) {
    record->main = TAP_Main;
    record->eventHandler = TAP_EventHandler;
    return 0;
}
