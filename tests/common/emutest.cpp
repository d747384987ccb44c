#include "emutest.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

std::string readFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

bool fileExists(const std::string &path) {
    struct stat64 st;  // 64-bit inode numbers on the receiver build too
    return lstat64(path.c_str(), &st) == 0;
}

void writeFile(const std::string &path, const std::string &bytes) {
    std::ofstream o(path, std::ios::binary | std::ios::trunc);
    o << bytes;
}

void makeDirs(const std::string &path) {
    for (size_t i = 1; i <= path.size(); i++)
        if (i == path.size() || path[i] == '/') mkdir(path.substr(0, i).c_str(), 0777);
}

void removeTree(const std::string &path) {
    std::string cmd = "rm -rf '" + path + "'";
    if (system(cmd.c_str()) != 0) ADD_FAILURE() << "could not remove " << path;
}

const std::vector<FirmwareConvention> kConventions = {
    {"ZeroForSuccess", 0, -1, 0},
    {"OneForSuccessSlashedRecords", 1, 0, 1},
};

void PrintTo(const FirmwareConvention &c, std::ostream *os) { *os << c.name; }

std::string conventionName(const ::testing::TestParamInfo<FirmwareConvention> &info) { return info.param.name; }

std::string EmuTest::changeDirLine(const std::string &quotedPath, bool worked) const {
    return "TAP_Hdd_ChangeDir \"" + quotedPath + "\" -> " + std::to_string(worked ? chdirOk() : chdirFail());
}

std::string EmuTest::recorded(const std::string &tapDir) const {
    return options.cwdSlash && tapDir != "/" ? tapDir + "/" : tapDir;
}

bool sandboxWorks(std::string *why) {
    static int known = -1;  // -1 not asked yet, else the answer
    static std::string line;
    if (known < 0) {
        int out[2];
        if (pipe(out) != 0) return false;
        fflush(nullptr);
        pid_t pid = fork();
        if (pid == 0) {
            dup2(out[1], 1);
            dup2(out[1], 2);
            char name[] = "tapemu", option[] = "--sandbox-check";
            char *argv[] = {name, option, nullptr};
            _exit(tapemuMain(2, argv));
        }
        close(out[1]);
        char buffer[4096];
        ssize_t n;
        while ((n = read(out[0], buffer, sizeof buffer)) > 0) line.append(buffer, (size_t)n);
        close(out[0]);
        int status = -1;
        waitpid(pid, &status, 0);
        known = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }
    if (why) *why = line;
    return known == 1;
}

void EmuTest::SetUp() {
    const ::testing::TestInfo *info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "." + info->name();
    for (char &c : name)
        if (c == '/') c = '_';
    scratch = std::string(TEST_SCRATCH_DIR) + "/" + name;
    removeTree(scratch);
    makeDirs(scratch + "/disk/ProgramFiles");
    makeDirs(scratch + "/out");
    emuDefaultOptions(&options);
    options.pictures = 0;
    options.fixedTime = 1;
    options.year = 2016, options.month = 2, options.day = 29;
    options.hour = 13, options.minute = 5, options.second = 9;
    if (const FirmwareConvention *c = convention()) {
        options.chdirOk = c->chdirOk, options.chdirFail = c->chdirFail;
        options.cwdSlash = c->cwdSlash;
    }
    configure(options);
    diskDir = scratch + "/disk", outDir = scratch + "/out";
    prepareDisk();
    options.disk = diskDir.c_str();
    options.out = outDir.c_str();
    char err[256] = "";
    ASSERT_EQ(1, emuStart(&options, err, sizeof err)) << err;
    // Slot 0 holds another TAP with a working directory of its own, so that
    // code which reads slot 0 instead of its own slot is caught.
    ASSERT_EQ(0, emuAttachProgram("/ProgramFiles/Resident.tap", "/", nullptr));
    slot = emuAttachProgram("/ProgramFiles/Test.tap", "/ProgramFiles", handler());
    ASSERT_GT(slot, 0) << "the program under test runs in a slot other than 0";
}

void EmuTest::TearDown() { emuStop(); }

std::string EmuTest::disk(const std::string &firmwarePath) const { return scratch + "/disk" + firmwarePath; }

std::string EmuTest::out(const std::string &name) const { return scratch + "/out/" + name; }

std::vector<std::string> EmuTest::trace() const { return traceFrom(0); }

std::vector<std::string> EmuTest::traceFrom(size_t first) const {
    std::vector<std::string> lines;
    std::istringstream in(readFile(out("trace.txt")));
    std::string line;
    while (std::getline(in, line)) lines.push_back(line);
    if (first >= lines.size()) return {};
    return std::vector<std::string>(lines.begin() + first, lines.end());
}

std::string EmuTest::console() const { return readFile(out("console.bin")); }

TapemuResult runTapemu(const std::string &folder, std::vector<std::string> args,
                       const std::function<void()> &inChild) {
    std::string outFile = folder + "/stdout.txt", errFile = folder + "/stderr.txt";
    args.insert(args.begin(), "tapemu");
    fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        dup2(open(outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 1);
        dup2(open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
        if (inChild) inChild();
        std::vector<char *> argv;
        for (std::string &a : args) argv.push_back(&a[0]);
        argv.push_back(nullptr);
        int rc = tapemuMain((int)args.size(), argv.data());
        fflush(nullptr);
        _exit(rc);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, readFile(outFile), readFile(errFile)};
}

std::string testFolder() {
    const ::testing::TestInfo *info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string(info->test_suite_name()) + "." + info->name();
    for (char &c : name)
        if (c == '/') c = '_';
    std::string folder = std::string(TEST_SCRATCH_DIR) + "/" + name;
    removeTree(folder);
    makeDirs(folder + "/disk/ProgramFiles");
    return folder;
}

unsigned long long readLe(const std::string &b, size_t at, int n) {
    unsigned long long v = 0;
    for (int i = n - 1; i >= 0; i--) v = v << 8 | (unsigned char)b[at + i];
    return v;
}

void writeLe(std::string &b, size_t at, int n, unsigned long long v) {
    for (int i = 0; i < n; i++) b[at + i] = (char)(v >> (8 * i));
}

std::vector<std::string> lines(const std::string &text) {
    std::vector<std::string> result;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        result.push_back(text.substr(at, end - at));
        at = end + 1;
    }
    return result;
}
