/*
 * tapemu-seccomp FILE: writes the seccomp filter of tapemu's sandbox, as
 * the BPF program that bwrap --seccomp loads, for the machine this
 * program runs on (the filter binds bwrap's child: the receiver side, or
 * the qemu that runs it).  A build-time tool of the PC build; the
 * receiver build takes it from the PC build folder beside it.
 *
 * Everything is allowed but what a TAP has no business with, which fails
 * with EPERM: debugging and reaching other processes, mounts and
 * namespaces, file handles, BPF, io_uring, the kernel's key store,
 * modules and the machine's own settings, pushing input into a terminal,
 * and unix-domain sockets (the way to the host's services).  clone3 fails
 * with ENOSYS, so that libc falls back to clone, whose flags the filter
 * can see.  System calls of another ABI of the machine (x86's 32-bit and
 * x32 calls on x86-64) fail with ENOSYS.
 */
#include <errno.h>
#include <fcntl.h>
#include <sched.h>
#include <seccomp.h>
#include <stdio.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

static const char *const refused[] = {
    // other processes
    "ptrace", "process_vm_readv", "process_vm_writev", "pidfd_getfd", "kcmp",
    // mounts and namespaces
    "mount", "umount", "umount2", "pivot_root", "chroot", "unshare", "setns", "fsopen", "fsconfig", "fsmount",
    "fspick", "move_mount", "open_tree", "mount_setattr",
    // file handles
    "open_by_handle_at", "name_to_handle_at",
    // the kernel's facilities
    "bpf", "io_uring_setup", "io_uring_enter", "io_uring_register", "keyctl", "add_key", "request_key",
    "perf_event_open", "userfaultfd", "kexec_load", "kexec_file_load", "init_module", "finit_module",
    "delete_module", "reboot", "swapon", "swapoff", "acct", "quotactl", "quotactl_fd", "syslog", "iopl",
    "ioperm", "lookup_dcookie", "settimeofday", "clock_settime", "clock_adjtime", "adjtimex", "sethostname",
    "setdomainname", "vhangup",
};

/* CLONE_NEW* flags: a clone that asks for any of them fails. */
static const unsigned long namespaceFlags[] = {CLONE_NEWNS,  CLONE_NEWCGROUP, CLONE_NEWUTS, CLONE_NEWIPC,
                                               CLONE_NEWUSER, CLONE_NEWPID,    CLONE_NEWNET};

int main(int argc, char **argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: tapemu-seccomp FILE\n");
        return 2;
    }
    scmp_filter_ctx filter = seccomp_init(SCMP_ACT_ALLOW);
    if (!filter) return 1;
    int failed = seccomp_attr_set(filter, SCMP_FLTATR_ACT_BADARCH, SCMP_ACT_ERRNO(ENOSYS));
    for (const char *name : refused) {
        int call = seccomp_syscall_resolve_name(name);
        if (call != __NR_SCMP_ERROR) failed |= seccomp_rule_add(filter, SCMP_ACT_ERRNO(EPERM), call, 0);
    }
    for (unsigned long flag : namespaceFlags)
        failed |= seccomp_rule_add(filter, SCMP_ACT_ERRNO(EPERM), SCMP_SYS(clone), 1,
                                   SCMP_A0(SCMP_CMP_MASKED_EQ, flag, flag));
    failed |= seccomp_rule_add(filter, SCMP_ACT_ERRNO(ENOSYS), SCMP_SYS(clone3), 0);
    // the kernel reads these arguments as 32-bit ints: so does the filter
    failed |= seccomp_rule_add(filter, SCMP_ACT_ERRNO(EPERM), SCMP_SYS(socket), 1,
                               SCMP_A0(SCMP_CMP_MASKED_EQ, 0xFFFFFFFFu, AF_UNIX));
    static const unsigned long terminalRequests[] = {TIOCSTI, TIOCLINUX};
    for (unsigned long request : terminalRequests)
        failed |= seccomp_rule_add(filter, SCMP_ACT_ERRNO(EPERM), SCMP_SYS(ioctl), 1,
                                   SCMP_A1(SCMP_CMP_MASKED_EQ, 0xFFFFFFFFu, request));
    if (failed) {
        fprintf(stderr, "tapemu-seccomp: libseccomp refused a rule\n");
        return 1;
    }
    int fd = open(argv[1], O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0 || seccomp_export_bpf(filter, fd) != 0 || close(fd) != 0) {
        perror(argv[1]);
        return 1;
    }
    seccomp_release(filter);
    return 0;
}
