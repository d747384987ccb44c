// Faults injected into a TAP's calls: each case starts the receiver with
// tapemu's fault options, makes a few calls as the TAP and compares what
// the calls answer and what the disk holds afterwards.
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utime.h>

#include <functional>
#include <string>
#include <vector>

#include "emutest.h"
#include "velalib.h"

namespace {

const char *const kFile = "/mnt/hd/ProgramFiles/a.txt";  // "abc" on the disk

struct FaultCase {
    const char *name;
    std::vector<const char *> faults;
    // the calls, each answer as "result errno-name" appended to *said
    std::function<void(std::string *said)> calls;
    const char *said;
    const char *aTxt;  // what a.txt holds afterwards
};

void PrintTo(const FaultCase &c, std::ostream *o) { *o << c.name; }

std::string errnoName(int e) {
    switch (e) {
    case 0: return "0";
    case EIO: return "EIO";
    case ENOSPC: return "ENOSPC";
    case EROFS: return "EROFS";
    case EEXIST: return "EEXIST";
    case ENOENT: return "ENOENT";
    case EAGAIN: return "EAGAIN";
    case EACCES: return "EACCES";
    default: return std::to_string(e);
    }
}

// One call's answer, with errno when it failed (errno cleared before it).
void note(std::string *said, long result) {
    *said += std::to_string(result) + " " + errnoName(result == -1 ? errno : 0) + "; ";
    errno = 0;
}

int openWrite(const char *path) { return open(path, O_WRONLY | O_CREAT | O_TRUNC, 0666); }

// Writes each text in one call to a.txt, opened afresh and truncated.
std::function<void(std::string *)> writes(std::vector<std::string> texts) {
    return [texts](std::string *said) {
        errno = 0;
        int fd = openWrite(kFile);
        for (const std::string &t : texts) note(said, (long)write(fd, t.data(), t.size()));
        close(fd);
    };
}

std::vector<FaultCase> cases() {
    return {
        {"EveryOpenFails", {"--fail", "open:EIO"},
         [](std::string *s) { errno = 0; note(s, open(kFile, O_RDONLY)); note(s, openWrite(kFile)); },
         "-1 EIO; -1 EIO; ", "abc"},
        {"OnlyTheSecondOpenFails", {"--fail", "open:EACCES@2"},
         [](std::string *s) {
             errno = 0;
             for (int i = 0; i < 3; i++) {
                 int fd = open(kFile, O_RDONLY);
                 note(s, fd < 0 ? -1 : 0);
                 if (fd >= 0) close(fd);
             }
         },
         "0 0; -1 EACCES; 0 0; ", "abc"},
        {"TheConsoleIsNotCounted", {"--fail", "open:EIO@1"},
         [](std::string *s) {
             errno = 0;
             int console = open("/dev/pts/0", O_RDWR);
             note(s, console < 0 ? -1 : 0);
             close(console);
             note(s, open(kFile, O_RDONLY));
         },
         "0 0; -1 EIO; ", "abc"},
        {"WriteFailsOnce", {"--fail", "write:ENOSPC@2"}, writes({"12", "34", "56"}), "2 0; -1 ENOSPC; 2 0; ", "1256"},
        {"ShortWriteGivesHalf", {"--short-write", "2"}, writes({"abcdef", "ghijkl", "mn"}), "6 0; 3 0; 2 0; ",
         "abcdefghimn"},
        {"DiskFills", {"--disk-full", "10"}, writes({"abcdef", "ghijkl", "mn", ""}), "6 0; 4 0; -1 ENOSPC; 0 0; ",
         "abcdefghij"},
        {"FailedWritesDoNotFillTheDisk", {"--disk-full", "4", "--fail", "write:EIO@1"}, writes({"abcdef", "ghijkl"}),
         "-1 EIO; 4 0; ", "ghij"},
        {"ReadOnlyFolder", {"--read-only", "/ProgramFiles/Locked"},
         [](std::string *s) {
             const std::string locked = "/mnt/hd/ProgramFiles/Locked";
             errno = 0;
             note(s, openWrite((locked + "/b.txt").c_str()));
             note(s, openWrite((locked + "/new.txt").c_str()));
             note(s, openWrite((locked + "/none/new.txt").c_str()));
             int fd = open((locked + "/b.txt").c_str(), O_RDONLY);
             note(s, fd < 0 ? -1 : 0);
             close(fd);
             note(s, mkdir(locked.c_str(), 0777));
             note(s, mkdir((locked + "/sub").c_str(), 0777));
             note(s, unlink((locked + "/b.txt").c_str()));
             note(s, rename((locked + "/b.txt").c_str(), kFile));
             note(s, rename(kFile, (locked + "/a.txt").c_str()));
             struct utimbuf t = {1000000000, 1000000000};
             note(s, utime((locked + "/b.txt").c_str(), &t));
             note(s, chmod((locked + "/b.txt").c_str(), 0600));
             note(s, utime(kFile, &t));
         },
         "-1 EROFS; -1 EROFS; -1 ENOENT; 0 0; -1 EEXIST; -1 EROFS; -1 EROFS; -1 EROFS; -1 EROFS; -1 EROFS; -1 EROFS; "
         "0 0; ",
         "abc"},
        {"StatusFails", {"--fail", "stat64:EIO"},
         [](std::string *s) {
             struct stat64 st;
             errno = 0;
             note(s, stat64(kFile, &st));
             note(s, lstat64(kFile, &st));
         },
         "-1 EIO; 0 0; ", "abc"},
        {"MappingFails", {"--fail", "mmap:EACCES"},
         [](std::string *s) {
             errno = 0;
             int fd = open(kFile, O_RDONLY);
             void *map = mmap(nullptr, 3, PROT_READ, MAP_SHARED, fd, 0);
             note(s, map == MAP_FAILED ? -1 : 0);
             if (map != MAP_FAILED) munmap(map, 3);
             close(fd);
         },
         "-1 EACCES; ", "abc"},
        {"NoShellStarts", {"--fail", "system:EAGAIN"},
         [](std::string *s) { errno = 0; note(s, system("cp /mnt/hd/ProgramFiles/a.txt /mnt/hd/ProgramFiles/c.txt")); },
         "-1 EAGAIN; ", "abc"},
        {"CreateMakesTheFileForTheTap", {"--fail", "open:EIO@1"},
         [](std::string *s) {
             note(s, TAP_Hdd_Create("new.txt", ATTR_FILE) ? 1 : 0);
             note(s, TAP_Hdd_Exist("new.txt") ? 1 : 0);
             note(s, TAP_Hdd_Exist("a.txt") ? 1 : 0);
         },
         "0 0; 0 0; 1 0; ", "abc"},
        {"HeapOfTwoBlocks", {"--heap-blocks", "2"},
         [](std::string *s) {
             void *a = TAP_MemAlloc(8), *b = TAP_MemAlloc(8), *c = TAP_MemAlloc(8);
             note(s, a && b && !c ? 0 : -1);
             TAP_MemFree(b);
             void *d = TAP_MemAlloc(8);
             note(s, d ? 0 : -1);
             TAP_MemFree(a);
             TAP_MemFree(d);
         },
         "0 0; 0 0; ", "abc"},
    };
}

class Faults : public EmuTest, public ::testing::WithParamInterface<FaultCase> {
protected:
    void prepareDisk() override {
        writeFile(disk("/ProgramFiles/a.txt"), "abc");
        makeDirs(disk("/ProgramFiles/Locked"));
        writeFile(disk("/ProgramFiles/Locked/b.txt"), "b");
    }
    void configure(EmuOptions &o) override {
        words = GetParam().faults;
        words.push_back(nullptr);
        o.faults = words.data();
    }
    std::vector<const char *> words;
};

TEST_P(Faults, CallsAnswerAsTheFaultsSay) {
    std::string said;
    GetParam().calls(&said);
    EXPECT_EQ(GetParam().said, said) << GetParam().name;
    EXPECT_EQ(GetParam().aTxt, readFile(disk("/ProgramFiles/a.txt"))) << GetParam().name;
    EXPECT_EQ("b", readFile(disk("/ProgramFiles/Locked/b.txt")));
    EXPECT_FALSE(fileExists(disk("/ProgramFiles/c.txt"))) << "no shell ran";
    for (const char *name : {"new.txt", "Locked/new.txt", "Locked/sub", "Locked/a.txt"}) {
        EXPECT_FALSE(fileExists(disk("/ProgramFiles/") + name)) << name;
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, Faults, ::testing::ValuesIn(cases()),
                         [](const ::testing::TestParamInfo<FaultCase> &info) { return std::string(info.param.name); });

// A fault option that does not parse keeps the receiver from starting,
// with the reason.
struct BadFault {
    const char *option, *value, *reason;
};

class BadFaults : public ::testing::TestWithParam<BadFault> {};

TEST_P(BadFaults, RefuseToStart) {
    std::string dir = std::string(TEST_SCRATCH_DIR) + "/BadFaults." + std::to_string(getpid());
    makeDirs(dir + "/disk");
    EmuOptions o;
    emuDefaultOptions(&o);
    std::string disk = dir + "/disk", out = dir + "/out";
    o.disk = disk.c_str(), o.out = out.c_str();
    const char *words[] = {GetParam().option, GetParam().value, nullptr};
    o.faults = words;
    char err[256] = "";
    EXPECT_EQ(0, emuStart(&o, err, sizeof err)) << GetParam().value;
    EXPECT_NE(nullptr, strstr(err, GetParam().reason)) << err;
    emuStop();
}

INSTANTIATE_TEST_SUITE_P(Values, BadFaults,
                         ::testing::Values(BadFault{"--fail", "open:EWHAT", "ERRNO is a name"},
                                           BadFault{"--fail", "chown:EIO", "CALL one of"},
                                           BadFault{"--fail", "open:EIO@0", "counts from 1"},
                                           BadFault{"--fail", "open:EIO@x", "counts from 1"},
                                           BadFault{"--disk-full", "-5", "bad disk size"},
                                           BadFault{"--short-write", "0", "counts from 1"},
                                           BadFault{"--read-only", "ProgramFiles", "firmware path"},
                                           BadFault{"--heap-blocks", "many", "bad heap block count"}));

}  // namespace
