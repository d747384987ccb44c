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

#include <functional>
#include <string>

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

struct ShellEscape {
    const char *what;
    const char *command;  // OUT stands for the outside folder, TMP for the /tmp target
};

void PrintTo(const ShellEscape &c, std::ostream *o) { *o << c.what; }

class ShellConfined : public Confined, public ::testing::WithParamInterface<ShellEscape> {};

std::string expand(std::string text, const std::string &outside, const std::string &tmp) {
    for (size_t at; (at = text.find("OUT")) != std::string::npos;) text.replace(at, 3, outside);
    for (size_t at; (at = text.find("TMP")) != std::string::npos;) text.replace(at, 3, tmp);
    return text;
}

TEST_P(ShellConfined, CommandFailsAndChangesNothingOutside) {
    std::string command = expand(GetParam().command, outside, tmpTarget);
    int status = system(command.c_str());
    EXPECT_EQ(1 << 8, status) << command;
    expectOutsideUnchanged(command);
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

}  // namespace
