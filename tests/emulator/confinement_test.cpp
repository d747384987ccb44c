// Nothing a TAP does reaches outside the disk and output folders: not
// through "..", not through a symbolic link inside the disk, not through
// an absolute path, not through a shell command.  And the shell behind
// system() runs the commands TAPs use, on the mapped disk.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <ctype.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>
#include <utime.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "emutest.h"

namespace {

// A folder beside the disk, with one file that must survive, and links
// from inside the disk to it.
class Confined : public EmuTest {
protected:
    void configure(EmuOptions &) override {
        outside = scratch + "/outside";
        makeDirs(outside);
        writeFile(outside + "/keep.txt", "keep");
        chmod((outside + "/keep.txt").c_str(), 0644);
        makeDirs(scratch + "/disk/ProgramFiles");
        symlink(outside.c_str(), (scratch + "/disk/ProgramFiles/linkout").c_str());
        symlink((outside + "/new.txt").c_str(), (scratch + "/disk/ProgramFiles/dangling").c_str());
        symlink((outside + "/keep.txt").c_str(), (scratch + "/disk/ProgramFiles/keeplink").c_str());
        writeFile(scratch + "/disk/ProgramFiles/a.txt", "inside");
        tmpTarget = "/tmp/tapemu-confined-" + std::to_string(getpid());
    }
    void TearDown() override {
        EmuTest::TearDown();
        rmdir(tmpTarget.c_str());
        unlink(tmpTarget.c_str());
    }
    // The outside folder holds keep.txt with its text and nothing else.
    void expectOutsideUnchanged(const std::string &what) {
        std::string listing;
        DIR *dir = opendir(outside.c_str());
        ASSERT_NE(nullptr, dir);
        while (struct dirent64 *e = readdir64(dir))
            if (e->d_name[0] != '.') listing += std::string(e->d_name) + " ";
        closedir(dir);
        EXPECT_EQ("keep.txt ", listing) << what;
        EXPECT_EQ("keep", readFile(outside + "/keep.txt")) << what;
        EXPECT_FALSE(fileExists(tmpTarget)) << what;
        struct stat64 st;
        ASSERT_EQ(0, ::stat64((outside + "/keep.txt").c_str(), &st));
        EXPECT_EQ(0644u, st.st_mode & 0777u) << what;
        EXPECT_GT(st.st_mtime, 1000000000) << what;  // times left alone
        EXPECT_EQ(1u, (unsigned)st.st_nlink) << what << ": a second name for it";
        EXPECT_EQ(getuid(), st.st_uid) << what;
        EXPECT_EQ(getgid(), st.st_gid) << what;
    }
    std::string outside, tmpTarget;
};

struct Attempt {
    const char *what;
    std::function<int(const std::string &outside, const std::string &tmp)> run;  // the call's result
};

void PrintTo(const Attempt &c, std::ostream *o) { *o << c.what; }

class Escape : public Confined, public ::testing::WithParamInterface<Attempt> {};

int openResult(int fd) {
    if (fd >= 0) close(fd);
    return fd < 0 ? -1 : 0;
}

TEST_P(Escape, IsRefusedAndChangesNothingOutside) {
    errno = 0;
    int result = GetParam().run(outside, tmpTarget);
    int error = errno;
    EXPECT_EQ(-1, result) << GetParam().what;
    EXPECT_EQ(EACCES, error) << GetParam().what;
    expectOutsideUnchanged(GetParam().what);
    EXPECT_EQ("inside", readFile(disk("/ProgramFiles/a.txt"))) << GetParam().what;
}

INSTANTIATE_TEST_SUITE_P(
    Calls, Escape,
    ::testing::ValuesIn(std::vector<Attempt>{
        {"open through ..",
         [](const std::string &, const std::string &) {
             return openResult(open("/mnt/hd/../outside/dotdot.txt", O_WRONLY | O_CREAT, 0644));
         }},
        {"deep .. out of the disk",
         [](const std::string &, const std::string &) {
             return openResult(open("/mnt/hd/ProgramFiles/../../outside/deep.txt", O_RDWR | O_CREAT, 0644));
         }},
        {"fopen through a folder link",
         [](const std::string &, const std::string &) {
             FILE *f = fopen("/mnt/hd/ProgramFiles/linkout/via.txt", "w");
             if (f) fclose(f);
             return f ? 0 : -1;
         }},
        {"create through a dangling file link",
         [](const std::string &, const std::string &) {
             return openResult(open("/mnt/hd/ProgramFiles/dangling", O_WRONLY | O_CREAT | O_TRUNC, 0644));
         }},
        {"truncate through a file link",
         [](const std::string &, const std::string &) {
             return openResult(open("/mnt/hd/ProgramFiles/keeplink", O_WRONLY | O_TRUNC));
         }},
        {"append through a file link",
         [](const std::string &, const std::string &) {
             FILE *f = fopen("/mnt/hd/ProgramFiles/keeplink", "a");
             if (f) fclose(f);
             return f ? 0 : -1;
         }},
        {"open an absolute path in /tmp",
         [](const std::string &, const std::string &tmp) {
             return openResult(open(tmp.c_str(), O_WRONLY | O_CREAT, 0644));
         }},
        {"creat in /tmp", [](const std::string &, const std::string &tmp) { return openResult(creat(tmp.c_str(), 0644)); }},
        {"mkdir in /tmp", [](const std::string &, const std::string &tmp) { return mkdir(tmp.c_str(), 0777); }},
        {"mkdir through a link",
         [](const std::string &, const std::string &) { return mkdir("/mnt/hd/ProgramFiles/linkout/made", 0777); }},
        {"unlink outside",
         [](const std::string &o, const std::string &) { return unlink((o + "/keep.txt").c_str()); }},
        {"unlink through a link",
         [](const std::string &, const std::string &) { return unlink("/mnt/hd/ProgramFiles/linkout/keep.txt"); }},
        {"rename out of the disk",
         [](const std::string &o, const std::string &) {
             return rename("/mnt/hd/ProgramFiles/a.txt", (o + "/moved.txt").c_str());
         }},
        {"rename over an outside file",
         [](const std::string &, const std::string &) {
             return rename("/mnt/hd/ProgramFiles/a.txt", "/mnt/hd/ProgramFiles/linkout/keep.txt");
         }},
        {"utime through a file link",
         [](const std::string &, const std::string &) {
             struct utimbuf t = {1000, 1000};
             return utime("/mnt/hd/ProgramFiles/keeplink", &t);
         }},
        {"utimes outside",
         [](const std::string &o, const std::string &) {
             struct timeval t[2] = {{1000, 0}, {1000, 0}};
             return utimes((o + "/keep.txt").c_str(), t);
         }},
        {"chmod outside", [](const std::string &o, const std::string &) { return chmod((o + "/keep.txt").c_str(), 0600); }},
        {"truncate outside", [](const std::string &o, const std::string &) { return truncate((o + "/keep.txt").c_str(), 0); }},
        {"hard link of an outside file into the disk",
         [](const std::string &o, const std::string &) {
             return link((o + "/keep.txt").c_str(), "/mnt/hd/ProgramFiles/hard.txt");
         }},
        {"symlink placed outside",
         [](const std::string &o, const std::string &) { return symlink("/etc/passwd", (o + "/l").c_str()); }},
        {"openat with a folder descriptor outside",
         [](const std::string &o, const std::string &) {
             int dir = open(o.c_str(), O_RDONLY | O_DIRECTORY);
             int fd = openat(dir, "at.txt", O_WRONLY | O_CREAT, 0644);
             close(dir);
             return openResult(fd);
         }},
        {"openat an absolute path in /tmp",
         [](const std::string &, const std::string &tmp) {
             return openResult(openat(AT_FDCWD, tmp.c_str(), O_WRONLY | O_CREAT, 0644));
         }},
        {"mkdirat outside",
         [](const std::string &o, const std::string &) { return mkdirat(AT_FDCWD, (o + "/made").c_str(), 0777); }},
        {"unlinkat through a folder descriptor",
         [](const std::string &o, const std::string &) {
             int dir = open(o.c_str(), O_RDONLY | O_DIRECTORY);
             int result = unlinkat(dir, "keep.txt", 0);
             close(dir);
             return result;
         }},
        {"renameat out of the disk",
         [](const std::string &o, const std::string &) {
             return renameat(AT_FDCWD, "/mnt/hd/ProgramFiles/a.txt", AT_FDCWD, (o + "/moved.txt").c_str());
         }},
        {"linkat of an outside file into the disk",
         [](const std::string &o, const std::string &) {
             return linkat(AT_FDCWD, (o + "/keep.txt").c_str(), AT_FDCWD, "/mnt/hd/ProgramFiles/hard2.txt", 0);
         }},
        {"symlinkat placed outside",
         [](const std::string &o, const std::string &) { return symlinkat("/etc/passwd", AT_FDCWD, (o + "/l2").c_str()); }},
        {"fchmodat outside",
         [](const std::string &o, const std::string &) { return fchmodat(AT_FDCWD, (o + "/keep.txt").c_str(), 0600, 0); }},
        {"utimensat through a file link",
         [](const std::string &, const std::string &) {
             struct timespec t[2] = {{1000, 0}, {1000, 0}};
             return utimensat(AT_FDCWD, "/mnt/hd/ProgramFiles/keeplink", t, 0);
         }},
        {"chown outside", [](const std::string &o, const std::string &) { return chown((o + "/keep.txt").c_str(), 1, 1); }},
        {"mkfifo outside", [](const std::string &o, const std::string &) { return mkfifo((o + "/fifo").c_str(), 0644); }},
        {"mknod outside",
         [](const std::string &o, const std::string &) { return mknod((o + "/node").c_str(), S_IFIFO | 0644, 0); }},
        {"freopen for writing in /tmp",
         [](const std::string &, const std::string &tmp) {
             FILE *f = fopen("/mnt/hd/ProgramFiles/a.txt", "r");
             if (!f) return 0;
             FILE *g = freopen(tmp.c_str(), "w", f);
             if (g) fclose(g);
             return g ? 0 : -1;
         }},
        {"fchmod of an outside file opened for reading",
         [](const std::string &o, const std::string &) {
             int fd = open((o + "/keep.txt").c_str(), O_RDONLY);
             int result = fchmod(fd, 0600);
             close(fd);
             return result;
         }},
        {"futimens of an outside file opened for reading",
         [](const std::string &o, const std::string &) {
             int fd = open((o + "/keep.txt").c_str(), O_RDONLY);
             struct timespec t[2] = {{1000, 0}, {1000, 0}};
             int result = futimens(fd, t);
             close(fd);
             return result;
         }},
        {"mkstemp in /tmp",
         [](const std::string &, const std::string &tmp) {
             std::string pattern = tmp + "XXXXXX";
             int fd = mkstemp(&pattern[0]);
             if (fd >= 0) unlink(pattern.c_str());
             return openResult(fd);
         }},
    }));

// ---- What the checker got wrong before ------------------------------------

// The folders an attempt works with.
struct Folders {
    std::string outside, disk, out;
    std::string deepBase, deepRest;  // a disk folder whose path is just short of PATH_MAX, in two parts
    int libcResult, libcError;       // utimensat(fd, NULL, ...) of the PC's libc, outside a receiver
};

struct CheckerCase {
    const char *what;
    std::function<int(const Folders &)> run;  // the call's result
    int result;                               // what it must be
    int error;                                // errno with it, 0: not looked at
};

void PrintTo(const CheckerCase &c, std::ostream *o) { *o << c.what; }

// A null path that the compiler does not see as one (libc declares the
// argument non-null; the futimens form of utimensat takes null there).
const char *nothing() {
    static const char *volatile none = nullptr;
    return none;
}

// Opens the deep folder: its base, then one part at a time.
int openDeep(const Folders &f) {
    int fd = open(f.deepBase.c_str(), O_RDONLY | O_DIRECTORY);
    size_t at = 0;
    while (fd >= 0 && at < f.deepRest.size()) {
        size_t end = f.deepRest.find('/', at);
        if (end == std::string::npos) end = f.deepRest.size();
        int next = openat(fd, f.deepRest.substr(at, end - at).c_str(), O_RDONLY | O_DIRECTORY);
        close(fd);
        fd = next;
        at = end + 1;
    }
    return fd;
}

class CheckerFault : public Confined, public ::testing::WithParamInterface<CheckerCase> {
protected:
    // Made before the receiver starts: a folder inside the disk whose path
    // is just short of PATH_MAX (its descriptor's path can still be read),
    // with a link to the outside folder in it, so that the path through
    // the link is longer than PATH_MAX.
    void configure(EmuOptions &o) override {
        Confined::configure(o);
        writeFile(scratch + "/disk/ProgramFiles/b.txt", "inside");
        makeDirs(scratch + "/disk/ProgramFiles/Empty");
        char real[PATH_MAX];
        ASSERT_NE(nullptr, realpath((scratch + "/disk/ProgramFiles").c_str(), real));
        folders.deepBase = real;
        size_t length = folders.deepBase.size();
        int fd = open(real, O_RDONLY | O_DIRECTORY);
        while (fd >= 0 && length < PATH_MAX - 6) {
            size_t room = PATH_MAX - 6 - length - 1;
            std::string part(room > 200 ? 200 : room, 'd');
            mkdirat(fd, part.c_str(), 0777);
            int next = openat(fd, part.c_str(), O_RDONLY | O_DIRECTORY);
            close(fd);
            fd = next;
            folders.deepRest += (folders.deepRest.empty() ? "" : "/") + part;
            length += 1 + part.size();
        }
        ASSERT_GE(fd, 0);
        ASSERT_EQ(0, symlinkat(outside.c_str(), fd, "linkout"));
        close(fd);
        folders.outside = outside;
        folders.disk = scratch + "/disk";
        folders.out = scratch + "/out";
        writeFile(scratch + "/oracle.txt", "x");
        int file = open((scratch + "/oracle.txt").c_str(), O_RDONLY);
        struct timespec t[2] = {{1000, 0}, {1000, 0}};
        errno = 0;
        folders.libcResult = utimensat(file, nothing(), t, 0);
        folders.libcError = errno;
        close(file);
    }
    Folders folders;
};

TEST_P(CheckerFault, IsClosed) {
    const CheckerCase &c = GetParam();
    char cwd[PATH_MAX];
    ASSERT_NE(nullptr, getcwd(cwd, sizeof cwd));
    errno = 0;
    int result = c.run(folders);
    int error = errno;
    EXPECT_EQ(c.result, result) << c.what;
    if (c.error) {
        EXPECT_EQ(c.error, error) << c.what;
    }
    EXPECT_EQ(0, chdir(cwd));
    expectOutsideUnchanged(c.what);
    EXPECT_EQ("inside", readFile(disk("/ProgramFiles/a.txt"))) << c.what;
    EXPECT_TRUE(fileExists(outDir + "/trace.txt")) << c.what << ": the output folder moved";
    EXPECT_TRUE(fileExists(disk("/ProgramFiles/Empty"))) << c.what << ": the disk moved";
}

INSTANTIATE_TEST_SUITE_P(
    Calls, CheckerFault,
    ::testing::ValuesIn(std::vector<CheckerCase>{
        {"openat through a link, past PATH_MAX",
         [](const Folders &f) {
             int dir = openDeep(f);
             int fd = openat(dir, "linkout/deep.txt", O_WRONLY | O_CREAT, 0644);
             close(dir);
             return openResult(fd);
         },
         -1, EACCES},
        {"open from a deep working directory through a link, past PATH_MAX",
         [](const Folders &f) {
             int dir = openDeep(f);
             if (fchdir(dir) != 0) return 0;
             close(dir);
             return openResult(open("linkout/cwd.txt", O_WRONLY | O_CREAT, 0644));
         },
         -1, EACCES},
        {"mkdirat through a link, past PATH_MAX",
         [](const Folders &f) {
             int dir = openDeep(f);
             int result = mkdirat(dir, "linkout/made", 0777);
             close(dir);
             return result;
         },
         -1, EACCES},
        {"linkat following a link to an outside file",
         [](const Folders &) {
             return linkat(AT_FDCWD, "/mnt/hd/ProgramFiles/keeplink", AT_FDCWD, "/mnt/hd/ProgramFiles/hard3.txt",
                           AT_SYMLINK_FOLLOW);
         },
         -1, EACCES},
        {"linkat of a link itself stays allowed",
         [](const Folders &) {
             return linkat(AT_FDCWD, "/mnt/hd/ProgramFiles/keeplink", AT_FDCWD, "/mnt/hd/ProgramFiles/keeplink2", 0);
         },
         0, 0},
        {"console capture through a link in place of console.bin",
         [](const Folders &f) {
             std::string capture = f.out + "/console.bin";
             if (unlink(capture.c_str()) != 0 || symlink((f.outside + "/keep.txt").c_str(), capture.c_str()) != 0)
                 return -2;
             int fd = open("/dev/pts/0", O_RDWR);
             if (fd < 0) return -1;
             ssize_t n = write(fd, "x", 1);
             close(fd);
             FILE *s = fopen("/dev/pts/0", "w");
             if (!s) return -1;
             fputs("y", s);
             fclose(s);
             return n == 1 ? 0 : -1;
         },
         0, 0},
        {"rename the output folder into the disk",
         [](const Folders &f) { return rename(f.out.c_str(), "/mnt/hd/ProgramFiles/out"); }, -1, EACCES},
        {"renameat the output folder into the disk",
         [](const Folders &f) { return renameat(AT_FDCWD, f.out.c_str(), AT_FDCWD, "/mnt/hd/ProgramFiles/out"); },
         -1, EACCES},
        {"rename the disk into the output folder",
         [](const Folders &f) { return rename("/mnt/hd", (f.out + "/disk").c_str()); }, -1, EACCES},
        {"rename the disk by its own path",
         [](const Folders &f) { return rename(f.disk.c_str(), (f.out + "/disk").c_str()); }, -1, EACCES},
        {"rename an empty disk folder over the output folder",
         [](const Folders &f) { return rename("/mnt/hd/ProgramFiles/Empty", f.out.c_str()); }, -1, EACCES},
        {"remove the disk", [](const Folders &) { return remove("/mnt/hd"); }, -1, EACCES},
        {"rmdir the output folder", [](const Folders &f) { return rmdir(f.out.c_str()); }, -1, EACCES},
        {"unlinkat the disk", [](const Folders &) { return unlinkat(AT_FDCWD, "/mnt/hd", AT_REMOVEDIR); }, -1, EACCES},
        {"utimensat of an outside file's descriptor (the futimens form)",
         [](const Folders &f) {
             int fd = open((f.outside + "/keep.txt").c_str(), O_RDONLY);
             struct timespec t[2] = {{1000, 0}, {1000, 0}};
             int result = utimensat(fd, nothing(), t, 0);
             close(fd);
             return result;
         },
         -1, EACCES},
        {"utimensat of a disk file's descriptor answers as libc does outside a receiver",
         [](const Folders &f) {
             int fd = open("/mnt/hd/ProgramFiles/b.txt", O_RDONLY);
             struct timespec t[2] = {{1000, 0}, {1000, 0}};
             errno = 0;
             int result = utimensat(fd, nothing(), t, 0);
             int error = errno;
             close(fd);
             struct stat64 st;
             if (result != f.libcResult || ::stat64("/mnt/hd/ProgramFiles/b.txt", &st) != 0) return -1;
             return result == 0 ? (st.st_mtime == 1000 ? 0 : -1) : (error == f.libcError ? 0 : -1);
         },
         0, 0},
        {"freopen of an outside file's own stream for writing",
         [](const Folders &f) {
             FILE *r = fopen((f.outside + "/keep.txt").c_str(), "r");
             if (!r) return -2;
             FILE *w = freopen(nullptr, "w", r);
             fclose(w ? w : r);
             return w ? 0 : -1;
         },
         -1, EACCES},
        {"freopen of a disk file's own stream for writing works",
         [](const Folders &f) {
             FILE *r = fopen("/mnt/hd/ProgramFiles/b.txt", "r");
             if (!r) return -2;
             FILE *w = freopen(nullptr, "w", r);
             if (!w) return -1;
             fputs("rewritten", w);
             fclose(w);
             return readFile(f.disk + "/ProgramFiles/b.txt") == "rewritten" ? 0 : -1;
         },
         0, 0},
        {"fchownat of an outside file's descriptor (AT_EMPTY_PATH)",
         [](const Folders &f) {
             int fd = open((f.outside + "/keep.txt").c_str(), O_RDONLY);
             int result = fchownat(fd, "", 1, 1, AT_EMPTY_PATH);
             close(fd);
             return result;
         },
         -1, EACCES},
    }));

struct ShellEscape {
    const char *what;
    const char *command;  // OUT stands for the outside folder, TMP for the /tmp target, RESULTS for --out
};

void PrintTo(const ShellEscape &c, std::ostream *o) { *o << c.what; }

class ShellConfined : public Confined, public ::testing::WithParamInterface<ShellEscape> {};

std::string expand(std::string text, const std::string &outside, const std::string &tmp, const std::string &results) {
    for (size_t at; (at = text.find("RESULTS")) != std::string::npos;) text.replace(at, 7, results);
    for (size_t at; (at = text.find("OUT")) != std::string::npos;) text.replace(at, 3, outside);
    for (size_t at; (at = text.find("TMP")) != std::string::npos;) text.replace(at, 3, tmp);
    return text;
}

TEST_P(ShellConfined, CommandFailsAndChangesNothingOutside) {
    std::string command = expand(GetParam().command, outside, tmpTarget, outDir);
    int status = system(command.c_str());
    EXPECT_EQ(1 << 8, status) << command;
    expectOutsideUnchanged(command);
    EXPECT_TRUE(fileExists(outDir + "/trace.txt")) << command;
    EXPECT_TRUE(fileExists(disk("/ProgramFiles/a.txt"))) << command;
}

INSTANTIATE_TEST_SUITE_P(Commands, ShellConfined,
                         ::testing::ValuesIn(std::vector<ShellEscape>{
                             {"cp through ..", "cp /mnt/hd/ProgramFiles/a.txt /mnt/hd/../outside/shell.txt"},
                             {"cp into a linked folder", "cp -f /mnt/hd/ProgramFiles/a.txt /mnt/hd/ProgramFiles/linkout"},
                             {"cp to /tmp", "cp /mnt/hd/ProgramFiles/a.txt TMP"},
                             {"mkdir -p outside", "mkdir -p OUT/deep/deeper"},
                             {"rm -f outside", "rm -f OUT/keep.txt"},
                             {"rm -rf outside", "rm -rf OUT"},
                             {"mv out", "mv /mnt/hd/ProgramFiles/a.txt OUT/"},
                             {"mv the output folder into the disk", "mv RESULTS /mnt/hd/ProgramFiles"},
                             {"mv the disk into the output folder", "mv /mnt/hd RESULTS/disk"},
                         }));

TEST_F(Confined, ReadsOutsideStayAllowed) {
    FILE *f = fopen((outside + "/keep.txt").c_str(), "r");
    ASSERT_NE(nullptr, f);
    fclose(f);
    FILE *g = fopen("/mnt/hd/ProgramFiles/keeplink", "r");
    ASSERT_NE(nullptr, g);
    fclose(g);
    struct stat64 st;
    EXPECT_EQ(0, ::stat64("/etc", &st));
    EXPECT_EQ(0, access((outside + "/keep.txt").c_str(), R_OK));
}

TEST_F(Confined, WritesInsideTheDiskAndOutputFolderWork) {
    makeDirs(disk("/ProgramFiles/Real"));
    symlink(disk("/ProgramFiles/Real").c_str(), disk("/ProgramFiles/inner").c_str());
    FILE *f = fopen("/mnt/hd/ProgramFiles/inner/x.txt", "w");
    ASSERT_NE(nullptr, f);
    fclose(f);
    EXPECT_TRUE(fileExists(disk("/ProgramFiles/Real/x.txt")));
    int fd = open(out("extra.txt").c_str(), O_WRONLY | O_CREAT, 0644);
    EXPECT_GE(fd, 0);
    if (fd >= 0) close(fd);
    EXPECT_EQ(0, system("mkdir -p /mnt/hd/ProgramFiles/Settings/Logs"));
    EXPECT_TRUE(fileExists(disk("/ProgramFiles/Settings/Logs")));
}

// A call that works leaves errno as the platform's call leaves it: the
// check of the path must not change it on the way.
TEST_F(Confined, CallsThatWorkLeaveErrnoAlone) {
    const std::vector<std::pair<const char *, std::function<int()>>> calls = {
        {"mkdir of a new folder", [] { return mkdir("/mnt/hd/ProgramFiles/New/", 0777); }},
        {"utime of a file", [] { return utime("/mnt/hd/ProgramFiles/a.txt", nullptr); }},
        {"rename into a new name", [] { return rename("/mnt/hd/ProgramFiles/a.txt", "/mnt/hd/ProgramFiles/b.txt"); }},
        {"open of a new file", [] { return openResult(open("/mnt/hd/ProgramFiles/c.txt", O_WRONLY | O_CREAT, 0644)); }},
    };
    for (const auto &call : calls) {
        errno = EINTR;
        EXPECT_EQ(0, call.second()) << call.first;
        EXPECT_EQ(EINTR, errno) << call.first;
    }
}

TEST_F(Confined, ConfinementEndsWithTheReceiver) {
    emuStop();
    int fd = open(tmpTarget.c_str(), O_WRONLY | O_CREAT, 0644);
    EXPECT_GE(fd, 0);
    if (fd >= 0) close(fd);
    EXPECT_TRUE(fileExists(tmpTarget));
}

// ---- The shell ---------------------------------------------------------------

struct ShellCase {
    const char *command;
    int status;           // exit status (system() gives it shifted by 8)
    const char *present;  // firmware path that exists afterwards, or ""
    const char *absent;   // firmware path that is gone afterwards, or ""
};

void PrintTo(const ShellCase &c, std::ostream *o) {
    std::string name = *c.command ? c.command : "(empty)";
    for (char &ch : name)  // shell operators would not survive as test names
        if (!isalnum((unsigned char)ch) && !strchr("/-. '", ch)) ch = '_';
    *o << name;
}

class Shell : public EmuTest, public ::testing::WithParamInterface<ShellCase> {
    void configure(EmuOptions &) override {
        makeDirs(scratch + "/disk/ProgramFiles/AutoStart");
        makeDirs(scratch + "/disk/ProgramFiles/Old/Sub");
        writeFile(scratch + "/disk/ProgramFiles/Zephyrdesk.tap", "tap");
        writeFile(scratch + "/disk/ProgramFiles/Old/Sub/f", "f");
    }
};

TEST_P(Shell, RunsTheCommandOnTheDisk) {
    const ShellCase &c = GetParam();
    EXPECT_EQ(c.status << 8, system(c.command)) << c.command;
    if (*c.present) {
        EXPECT_TRUE(fileExists(disk(c.present))) << c.command;
    }
    if (*c.absent) {
        EXPECT_FALSE(fileExists(disk(c.absent))) << c.command;
    }
    EXPECT_EQ("tap", readFile(disk("/ProgramFiles/Zephyrdesk.tap"))) << c.command;
}

INSTANTIATE_TEST_SUITE_P(
    Commands, Shell,
    ::testing::ValuesIn(std::vector<ShellCase>{
        {"cp /mnt/hd/ProgramFiles/Zephyrdesk.tap /mnt/hd/ProgramFiles/AutoStart/Zephyrdesk.tap", 0,
         "/ProgramFiles/AutoStart/Zephyrdesk.tap", ""},
        {"cp -f /mnt/hd/ProgramFiles/Zephyrdesk.tap /mnt/hd/ProgramFiles/AutoStart", 0,
         "/ProgramFiles/AutoStart/Zephyrdesk.tap", ""},
        {"cp '/mnt/hd/ProgramFiles/Zephyrdesk.tap' \"/mnt/hd/ProgramFiles/a b.tap\"", 0, "/ProgramFiles/a b.tap", ""},
        {"cp /mnt/hd/ProgramFiles/Missing.tap /mnt/hd/ProgramFiles/AutoStart", 1, "",
         "/ProgramFiles/AutoStart/Missing.tap"},
        {"cp /mnt/hd/ProgramFiles/Old /mnt/hd/ProgramFiles/New", 1, "", "/ProgramFiles/New"},
        {"mkdir -p /mnt/hd/ProgramFiles/Settings/Logs", 0, "/ProgramFiles/Settings/Logs", ""},
        {"mkdir /mnt/hd/ProgramFiles/A/B", 1, "", "/ProgramFiles/A"},
        {"mkdir /mnt/hd/ProgramFiles/AutoStart", 1, "/ProgramFiles/AutoStart", ""},
        {"rm -r /mnt/hd/ProgramFiles/Old", 0, "", "/ProgramFiles/Old"},
        {"rm /mnt/hd/ProgramFiles/Old", 1, "/ProgramFiles/Old/Sub/f", ""},
        {"rm /mnt/hd/ProgramFiles/Missing", 1, "", ""},
        {"rm -f /mnt/hd/ProgramFiles/Missing", 0, "", ""},
        {"mv /mnt/hd/ProgramFiles/Old /mnt/hd/ProgramFiles/AutoStart", 0, "/ProgramFiles/AutoStart/Old/Sub/f",
         "/ProgramFiles/Old"},
        {"true", 0, "", ""},
        {"false", 1, "", ""},
        {"echo shell works", 0, "", ""},
        {"", 0, "", ""},
        {"ls /mnt/hd", 127, "", ""},
        {"cp /mnt/hd/ProgramFiles/Zephyrdesk.tap /mnt/hd/ProgramFiles/x.tap; rm -r /mnt/hd/ProgramFiles", 2,
         "/ProgramFiles/AutoStart", "/ProgramFiles/x.tap"},
        {"echo x > /mnt/hd/ProgramFiles/redirected", 2, "", "/ProgramFiles/redirected"},
        {"rm -r /mnt/hd/ProgramFiles/Old && true", 2, "/ProgramFiles/Old", ""},
        {"rm -r $(echo /mnt/hd/ProgramFiles/Old)", 2, "/ProgramFiles/Old", ""},
        {"rm -r `echo /mnt/hd/ProgramFiles/Old`", 2, "/ProgramFiles/Old", ""},
        {"rm -r /mnt/hd/ProgramFiles/O*", 2, "/ProgramFiles/Old", ""},
        {"cp 'unbalanced", 2, "", ""},
    }));

TEST(ShellOff, NullCommandAsksWhetherAShellExists) { EXPECT_NE(0, system(nullptr)); }

// ---- The installer's copy into AutoStart, against the PC's shell and cp -------

const char kCopyCommand[] = "cp /mnt/hd/ProgramFiles/Zephyrdesk.tap /mnt/hd/ProgramFiles/AutoStart/Zephyrdesk.tap";

// Everything below a folder: path, kind, mode, and the bytes of a file or
// the target of a link.
void listFiles(const std::string &root, const std::string &at, std::vector<std::string> &out) {
    DIR *dir = opendir((root + at).c_str());
    if (!dir) return;
    std::vector<std::string> names;
    while (struct dirent64 *e = readdir64(dir))
        if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0) names.push_back(e->d_name);
    closedir(dir);
    std::sort(names.begin(), names.end());
    for (const std::string &name : names) {
        std::string path = at + "/" + name;
        struct stat64 st;
        if (lstat64((root + path).c_str(), &st) != 0) continue;
        char mode[8];
        snprintf(mode, sizeof mode, "%03o", (unsigned)(st.st_mode & 0777));
        if (S_ISLNK(st.st_mode)) {
            char target[PATH_MAX];
            ssize_t n = readlink((root + path).c_str(), target, sizeof target - 1);
            out.push_back(path + " link " + std::string(target, n > 0 ? (size_t)n : 0));
        } else if (S_ISDIR(st.st_mode)) {
            out.push_back(path + " folder " + mode);
            listFiles(root, path, out);
        } else {
            out.push_back(path + " file " + mode + " " + readFile(root + path));
        }
    }
}

struct CopyLayout {
    const char *name;
    std::function<void(const std::string &programFiles)> prepare;  // the disk's /ProgramFiles before the copy
    int status;  // what system() must give; -1: only as the PC's shell does (it depends on the user)
};

void PrintTo(const CopyLayout &c, std::ostream *o) { *o << c.name; }

// The same command runs first through the PC's own /bin/sh and GNU cp on
// a copy of the layout (outside a receiver, with the disk's path in place
// of /mnt/hd), then through the receiver's shell on the disk.
class InstallerCopy : public EmuTest, public ::testing::WithParamInterface<CopyLayout> {
protected:
    void configure(EmuOptions &) override {
        std::string oracle = scratch + "/oracle";
        makeDirs(oracle + "/ProgramFiles");
        GetParam().prepare(oracle + "/ProgramFiles");
        std::string command = kCopyCommand;
        for (size_t at; (at = command.find("/mnt/hd")) != std::string::npos;) command.replace(at, 7, oracle);
        command += " 2>/dev/null";
        errno = ESRCH;
        pcStatus = system(command.c_str());
        pcErrno = errno;
        listFiles(oracle, "", pcFiles);
    }
    int pcStatus = 0, pcErrno = 0;
    std::vector<std::string> pcFiles;
};

TEST_P(InstallerCopy, GivesWhatTheShellGives) {
    const CopyLayout &c = GetParam();
    c.prepare(disk("/ProgramFiles"));
    errno = ESRCH;
    int status = system(kCopyCommand);
    int error = errno;
    EXPECT_EQ(pcStatus, status) << c.name;
    EXPECT_EQ(pcErrno, error) << c.name << ": errno as system() leaves it";
    if (c.status >= 0) {
        EXPECT_EQ(c.status, status) << c.name;
    }
    std::vector<std::string> files;
    listFiles(diskDir, "", files);
    EXPECT_EQ(pcFiles, files) << c.name;
}

void tapFile(const std::string &pf) { writeFile(pf + "/Zephyrdesk.tap", "main TAP"); }

INSTANTIATE_TEST_SUITE_P(
    Layouts, InstallerCopy,
    ::testing::ValuesIn(std::vector<CopyLayout>{
        {"Copied", [](const std::string &pf) { tapFile(pf), makeDirs(pf + "/AutoStart"); }, 0},
        {"NoAutoStartFolder", [](const std::string &pf) { tapFile(pf); }, 256},
        {"NoMainTap", [](const std::string &pf) { makeDirs(pf + "/AutoStart"); }, 256},
        {"ReplacesTheCopyThere",
         [](const std::string &pf) {
             tapFile(pf), makeDirs(pf + "/AutoStart");
             writeFile(pf + "/AutoStart/Zephyrdesk.tap", "an older main TAP");
         },
         0},
        {"ReadOnlyCopyThere",
         [](const std::string &pf) {
             tapFile(pf), makeDirs(pf + "/AutoStart");
             writeFile(pf + "/AutoStart/Zephyrdesk.tap", "old");
             chmod((pf + "/AutoStart/Zephyrdesk.tap").c_str(), 0444);
         },
         -1},
        {"FolderInPlaceOfTheCopy",
         [](const std::string &pf) { tapFile(pf), makeDirs(pf + "/AutoStart/Zephyrdesk.tap"); }, 0},
        {"AutoStartIsAFile",
         [](const std::string &pf) { tapFile(pf), writeFile(pf + "/AutoStart", "not a folder"); }, 256},
        {"AutoStartLinksToProgramFiles",
         [](const std::string &pf) { tapFile(pf), symlink(".", (pf + "/AutoStart").c_str()); }, 256},
        {"DanglingLinkInPlaceOfTheCopy",
         [](const std::string &pf) {
             tapFile(pf), makeDirs(pf + "/AutoStart");
             symlink("Gone.tap", (pf + "/AutoStart/Zephyrdesk.tap").c_str());
         },
         256},
        {"MainTapIsAFolder",
         [](const std::string &pf) { makeDirs(pf + "/Zephyrdesk.tap"), makeDirs(pf + "/AutoStart"); }, 256},
    }),
    [](const ::testing::TestParamInfo<CopyLayout> &info) { return info.param.name; });

}  // namespace
