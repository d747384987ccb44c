/*
 * The receiver's shell as far as TAPs use it through system(): one simple
 * command with cp, mkdir, rm, mv, true, false or echo.  Its file
 * operations go through the same mapped and confined calls as the TAP's
 * own, so "/mnt/hd/..." reaches the disk folder and nothing outside the
 * disk and output folders can be changed.  The result is what system()
 * gives: the exit status shifted left by 8.
 */
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "platform.h"

typedef std::vector<std::string> Words;

enum { SHELL_SYNTAX = 2, SHELL_NOT_FOUND = 127 };

/* Splits the command into words with '...', "..." and backslash quoting.
 * Returns 0, or 2 for anything this shell does not run (operators,
 * expansions, unbalanced quotes). */
static int splitWords(const char *command, Words &words) {
    std::string word;
    bool inWord = false;
    for (const char *p = command; *p; p++) {
        char c = *p;
        if (c == ' ' || c == '\t') {
            if (inWord) words.push_back(word);
            word.clear();
            inWord = false;
        } else if (c == '\'') {
            const char *end = strchr(p + 1, '\'');
            if (!end) return SHELL_SYNTAX;
            word.append(p + 1, end - p - 1);
            p = end;
            inWord = true;
        } else if (c == '"') {
            for (p++; *p && *p != '"'; p++) {
                if (*p == '$' || *p == '`') return SHELL_SYNTAX;
                if (*p == '\\' && (p[1] == '"' || p[1] == '\\' || p[1] == '$' || p[1] == '`')) p++;
                word += *p;
            }
            if (!*p) return SHELL_SYNTAX;
            inWord = true;
        } else if (c == '\\') {
            if (!p[1]) return SHELL_SYNTAX;
            word += *++p;
            inWord = true;
        } else if (strchr(";|&<>`$()*?[]{}~#\n\r", c)) {
            return SHELL_SYNTAX;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inWord) words.push_back(word);
    return 0;
}

static void complain(const std::string &command, const std::string &what) {
    std::string line = command + ": " + what + "\n";
    fputs(line.c_str(), stderr);
}

static std::string reason(void) { return strerror(errno); }

static bool isFolder(const std::string &path) {
    struct stat64 st;
    return stat64(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

static std::string baseName(const std::string &path) {
    std::string p = path;
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    size_t slash = p.rfind('/');
    return slash == std::string::npos ? p : p.substr(slash + 1);
}

/* Options like -rf as a set of letters; 0, or 1 for a letter not allowed. */
static int takeOptions(const Words &args, size_t &i, const char *allowed, std::string &given,
                       const char *command) {
    for (; i < args.size() && args[i].size() > 1 && args[i][0] == '-'; i++) {
        if (args[i] == "--") {
            i++;
            break;
        }
        for (size_t k = 1; k < args[i].size(); k++) {
            if (!strchr(allowed, args[i][k])) {
                complain(command, std::string("invalid option -- '") + args[i][k] + "'");
                return 1;
            }
            given += args[i][k];
        }
    }
    return 0;
}

static bool copyFile(const std::string &from, const std::string &to) {
    int in = open(from.c_str(), O_RDONLY);
    if (in < 0) {
        complain("cp", "cannot stat '" + from + "': " + reason());
        return false;
    }
    struct stat64 st;
    fstat64(in, &st);
    if (S_ISDIR(st.st_mode)) {
        close(in);
        complain("cp", "-r not specified; omitting directory '" + from + "'");
        return false;
    }
    // as GNU cp: never a copy onto the source itself, nor through a dangling link
    struct stat64 there;
    if (stat64(to.c_str(), &there) == 0 && there.st_dev == st.st_dev && there.st_ino == st.st_ino) {
        close(in);
        complain("cp", "'" + from + "' and '" + to + "' are the same file");
        return false;
    }
    if (lstat64(to.c_str(), &there) == 0 && S_ISLNK(there.st_mode) && stat64(to.c_str(), &there) != 0) {
        close(in);
        complain("cp", "not writing through dangling symlink '" + to + "'");
        return false;
    }
    int out = open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC, st.st_mode & 0777);
    if (out < 0) {
        complain("cp", "cannot create regular file '" + to + "': " + reason());
        close(in);
        return false;
    }
    char buffer[65536];
    bool ok = true;
    for (;;) {
        ssize_t n = read(in, buffer, sizeof buffer);
        if (n == 0) break;
        if (n < 0 || write(out, buffer, (size_t)n) != n) {
            complain("cp", "error writing '" + to + "': " + reason());
            ok = false;
            break;
        }
    }
    close(in);
    if (close(out) != 0) ok = false;
    return ok;
}

static int runCp(const Words &args) {
    size_t i = 1;
    std::string options;
    if (takeOptions(args, i, "f", options, "cp")) return 1;
    if (args.size() - i < 2) {
        complain("cp", "missing file operand");
        return 1;
    }
    const std::string &destination = args.back();
    bool intoFolder = isFolder(destination);
    if (args.size() - i > 2 && !intoFolder) {
        complain("cp", "target '" + destination + "' is not a directory");
        return 1;
    }
    int status = 0;
    for (; i + 1 < args.size(); i++) {
        std::string to = intoFolder ? destination + "/" + baseName(args[i]) : destination;
        if (!copyFile(args[i], to)) status = 1;
    }
    return status;
}

static int runMkdir(const Words &args) {
    size_t i = 1;
    std::string options;
    if (takeOptions(args, i, "p", options, "mkdir")) return 1;
    bool parents = options.find('p') != std::string::npos;
    if (i == args.size()) {
        complain("mkdir", "missing operand");
        return 1;
    }
    int status = 0;
    for (; i < args.size(); i++) {
        const std::string &dir = args[i];
        if (parents) {
            for (size_t k = 1; k <= dir.size(); k++) {
                if (k != dir.size() && dir[k] != '/') continue;
                std::string part = dir.substr(0, k);
                if (mkdir(part.c_str(), 0777) != 0 && errno != EEXIST) {
                    complain("mkdir", "cannot create directory '" + part + "': " + reason());
                    status = 1;
                    break;
                }
            }
            if (status == 0 && !isFolder(dir)) {
                complain("mkdir", "cannot create directory '" + dir + "': File exists");
                status = 1;
            }
        } else if (mkdir(dir.c_str(), 0777) != 0) {
            complain("mkdir", "cannot create directory '" + dir + "': " + reason());
            status = 1;
        }
    }
    return status;
}

static bool removeTree(const std::string &path, bool force, bool recursive) {
    struct stat64 st;
    if (lstat64(path.c_str(), &st) != 0) {
        if (force && errno == ENOENT) return true;
        complain("rm", "cannot remove '" + path + "': " + reason());
        return false;
    }
    if (!S_ISDIR(st.st_mode)) {
        if (unlink(path.c_str()) == 0) return true;
        complain("rm", "cannot remove '" + path + "': " + reason());
        return false;
    }
    if (!recursive) {
        complain("rm", "cannot remove '" + path + "': Is a directory");
        return false;
    }
    bool ok = true;
    DIR *dir = opendir(path.c_str());
    if (dir) {
        std::vector<std::string> names;
        while (struct dirent64 *e = readdir64(dir))
            if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0) names.push_back(e->d_name);
        closedir(dir);
        for (const std::string &name : names) ok = removeTree(path + "/" + name, force, recursive) && ok;
    }
    if (rmdir(path.c_str()) != 0) {
        complain("rm", "cannot remove '" + path + "': " + reason());
        return false;
    }
    return ok;
}

static int runRm(const Words &args) {
    size_t i = 1;
    std::string options;
    if (takeOptions(args, i, "frR", options, "rm")) return 1;
    bool force = options.find('f') != std::string::npos;
    bool recursive = options.find_first_of("rR") != std::string::npos;
    if (i == args.size()) {
        if (force) return 0;
        complain("rm", "missing operand");
        return 1;
    }
    int status = 0;
    for (; i < args.size(); i++)
        if (!removeTree(args[i], force, recursive)) status = 1;
    return status;
}

static int runMv(const Words &args) {
    size_t i = 1;
    std::string options;
    if (takeOptions(args, i, "f", options, "mv")) return 1;
    if (args.size() - i != 2) {
        complain("mv", "needs a source and a target");
        return 1;
    }
    std::string to = isFolder(args[i + 1]) ? args[i + 1] + "/" + baseName(args[i]) : args[i + 1];
    if (rename(args[i].c_str(), to.c_str()) != 0) {
        complain("mv", "cannot move '" + args[i] + "' to '" + to + "': " + reason());
        return 1;
    }
    return 0;
}

static int runEcho(const Words &args) {
    size_t i = 1;
    bool newline = true;
    if (i < args.size() && args[i] == "-n") newline = false, i++;
    std::string text;
    for (; i < args.size(); i++) text += (text.empty() ? "" : " ") + args[i];
    if (newline) text += "\n";
    fwrite(text.data(), 1, text.size(), stdout);
    fflush(stdout);
    return 0;
}

int emuShell(const char *command) {
    Words words;
    int status = splitWords(command, words);
    if (status) {
        fputs("sh: 1: this shell runs one simple command only\n", stderr);
        return status << 8;
    }
    if (words.empty()) return 0;
    const std::string &name = words[0];
    if (name == "true")
        status = 0;
    else if (name == "false")
        status = 1;
    else if (name == "echo")
        status = runEcho(words);
    else if (name == "cp")
        status = runCp(words);
    else if (name == "mkdir")
        status = runMkdir(words);
    else if (name == "rm")
        status = runRm(words);
    else if (name == "mv")
        status = runMv(words);
    else {
        fputs(("sh: 1: " + name + ": not found\n").c_str(), stderr);
        status = SHELL_NOT_FOUND;
    }
    return status << 8;
}
