/*
 * The archive side of tappack: walking a tar archive as the installer
 * walks it, listing it as tar does, and making one from a folder with
 * GNU tar.
 */
#include <dirent.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "tappack.h"

extern char **environ;

namespace {

/* A numeric header field: octal text (leading blanks skipped, up to the
 * first character that is no octal digit, a leading minus sign taken as
 * strtol takes it) or GNU tar's base-256 form (first byte 0x80, or 0xFF
 * for a negative number, given as -1). */
long long numberField(const unsigned char *field, size_t width) {
    if (field[0] == 0xFF) return -1; // base-256 and negative: its exact value does not matter here
    if (field[0] == 0x80) {
        unsigned long long value = 0;
        for (size_t i = 1; i < width; i++) {
            if (value >> 55) return (long long)(~0ULL >> 1);
            value = value << 8 | field[i];
        }
        return (long long)value;
    }
    size_t i = 0;
    while (i < width && field[i] == ' ') i++;
    bool negative = false;
    if (i < width && (field[i] == '-' || field[i] == '+')) negative = field[i++] == '-';
    long long value = 0;
    for (; i < width && field[i] >= '0' && field[i] <= '7'; i++) {
        if (value >> 60) break;
        value = value * 8 + (field[i] - '0');
    }
    return negative ? -value : value;
}

/* The header's checksum field holds the sum of its 512 bytes with the
 * field itself counted as blanks; GNU tar accepts the sum of signed and
 * of unsigned bytes alike. */
bool checksumHolds(const unsigned char *header, long long &stored, long long &computed) {
    long long unsignedSum = 0, signedSum = 0;
    for (size_t i = 0; i < TAR_BLOCK; i++) {
        unsigned char c = i >= 148 && i < 156 ? ' ' : header[i];
        unsignedSum += c;
        signedSum += (signed char)c;
    }
    size_t i = 148;
    while (i < 156 && header[i] == ' ') i++;
    if (i == 156 || header[i] < '0' || header[i] > '7') {
        stored = -1, computed = unsignedSum;
        return false;
    }
    stored = numberField(header + 148, 8);
    computed = unsignedSum;
    return stored == unsignedSum || stored == signedSum;
}

std::string textField(const unsigned char *field, size_t width) {
    return std::string((const char *)field, strnlen((const char *)field, width));
}

bool hasDotDotComponent(const std::string &name) {
    size_t start = 0;
    while (start <= name.size()) {
        size_t end = name.find('/', start);
        if (end == std::string::npos) end = name.size();
        if (name.compare(start, end - start, "..") == 0 && end - start == 2) return true;
        start = end + 1;
    }
    return false;
}

std::string format(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char *fmt, ...) {
    char buffer[1024];
    va_list args;
    va_start(args, fmt);
    vsnprintf(buffer, sizeof buffer, fmt, args);
    va_end(args);
    return buffer;
}

/* tar's quoting of names in the C locale: printable ASCII as it is, the
 * backslash doubled, the usual control escapes, other bytes in octal. */
std::string quoted(const std::string &name) {
    std::string out;
    for (unsigned char c : name) {
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '\a': out += "\\a"; break;
        case '\b': out += "\\b"; break;
        case '\f': out += "\\f"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        case '\v': out += "\\v"; break;
        default:
            if (c >= 0x20 && c < 0x7F) out += (char)c;
            else out += format("\\%03o", c);
        }
    }
    return out;
}

std::string modeString(const TarEntry &e) {
    char type = '?';
    switch (e.type) {
    case '0': case '\0': type = !e.name.empty() && e.name.back() == '/' ? 'd' : '-'; break;
    case 'S': type = '-'; break;
    case '1': type = 'h'; break;
    case '2': type = 'l'; break;
    case '3': type = 'c'; break;
    case '4': type = 'b'; break;
    case '5': case 'D': type = 'd'; break;
    case '6': type = 'p'; break;
    case '7': type = 'C'; break;
    case 'V': type = 'V'; break;
    case 'M': type = 'M'; break;
    }
    std::string s(1, type);
    const char *rwx = "rwxrwxrwx";
    for (int i = 0; i < 9; i++) s += e.mode & (0400u >> i) ? rwx[i] : '-';
    if (e.mode & 04000) s[3] = s[3] == 'x' ? 's' : 'S';
    if (e.mode & 02000) s[6] = s[6] == 'x' ? 's' : 'S';
    if (e.mode & 01000) s[9] = s[9] == 'x' ? 't' : 'T';
    return s;
}

} // namespace

void walkArchive(const unsigned char *data, size_t size, TarWalk &walk) {
    walk = TarWalk();
    std::string longName, longLink;
    bool haveLongName = false, haveLongLink = false;
    size_t cursor = 0;
    auto stop = [&](const std::string &problem) {
        walk.damaged = true;
        walk.problemOffset = cursor;
        walk.problem = problem;
    };
    do {
        if (size - cursor < TAR_BLOCK) {
            stop(format("header runs past the end of the archive (%zu of 512 bytes)", size - cursor));
            return;
        }
        const unsigned char *h = data + cursor;
        size_t room = size - cursor - TAR_BLOCK; // bytes after this header
        if (h[0] == 0) {
            walk.emptyBlocks++;
            cursor += TAR_BLOCK;
            continue;
        }
        long long stored = 0, computed = 0;
        if (!checksumHolds(h, stored, computed)) {
            stop(stored < 0 ? format("header checksum field unreadable (sum %lld)", computed)
                            : format("header checksum fails (field %lo, sum %lo)", (long)stored, (long)computed));
            return;
        }
        long long entrySize = numberField(h + 124, 12);
        if (entrySize < 0) {
            stop(format("negative size %lld", entrySize));
            return;
        }
        unsigned long long blocks = ((unsigned long long)entrySize + TAR_BLOCK - 1) / TAR_BLOCK * TAR_BLOCK;
        char type = (char)h[156];
        if (type == 'L' || type == 'K') {
            // The installer reads a long name from the one block after
            // its header, NUL-terminated, and steps 1024 bytes on.
            if (room < TAR_BLOCK || (type == 'K' && blocks > room)) {
                stop(format("long-name data runs past the end of the archive (%lld bytes, %zu left)", entrySize, room));
                return;
            }
            const char *text = (const char *)h + TAR_BLOCK;
            if (type == 'L') {
                size_t length = strnlen(text, TAR_BLOCK);
                if (length > LONGEST_NAME || entrySize > (long long)TAR_BLOCK) {
                    stop(format("long name of %lld characters, over %zu",
                                std::max<long long>((long long)length, entrySize - 1), LONGEST_NAME));
                    return;
                }
                longName.assign(text, length);
                haveLongName = true;
                walk.longNames++;
                cursor += 2 * TAR_BLOCK;
            } else {
                longLink.assign(text, strnlen(text, blocks));
                haveLongLink = true;
                cursor += TAR_BLOCK + blocks;
            }
            continue;
        }
        TarEntry e;
        e.offset = cursor;
        e.type = type;
        e.name = haveLongName ? longName : textField(h, 100);
        e.link = haveLongLink ? longLink : textField(h + 157, 100);
        haveLongName = haveLongLink = false;
        e.size = entrySize;
        e.mtime = numberField(h + 136, 12);
        e.mode = (unsigned)numberField(h + 100, 8) & 07777;
        e.uid = numberField(h + 108, 8);
        e.gid = numberField(h + 116, 8);
        e.uname = textField(h + 265, 32);
        e.gname = textField(h + 297, 32);
        if (hasDotDotComponent(e.name)) {
            stop("\"..\" in the name " + quoted(e.name));
            return;
        }
        if (blocks > room) {
            stop(format("data runs past the end of the archive (%lld bytes, %zu left)", entrySize, room));
            return;
        }
        if (type == '0' || type == '\0') walk.files++, walk.fileBytes += entrySize;
        else if (type == '5') walk.directories++;
        else walk.others++;
        walk.entries.push_back(e);
        cursor += TAR_BLOCK + blocks;
    } while (cursor < size);
}

std::vector<std::string> listingLines(const std::vector<TarEntry> &entries) {
    std::vector<std::string> lines;
    size_t ugsWidth = 19; // tar's first guess at the width of "user/group size"; it only grows
    for (const TarEntry &e : entries) {
        std::string user = !e.uname.empty() ? e.uname : std::to_string(e.uid);
        std::string group = !e.gname.empty() ? e.gname : std::to_string(e.gid);
        std::string size = std::to_string(e.size);
        size_t pad = user.size() + 1 + group.size() + 1 + size.size();
        if (pad > ugsWidth) ugsWidth = pad;
        time_t t = (time_t)e.mtime;
        struct tm local;
        char stamp[64];
        if (localtime_r(&t, &local))
            strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M", &local);
        else
            snprintf(stamp, sizeof stamp, "%lld", e.mtime);
        std::string line = modeString(e) + " " + user + "/" + group + " " +
                           std::string(ugsWidth - pad, ' ') + size + " " + stamp + " " + quoted(e.name);
        if (e.type == '2') line += " -> " + quoted(e.link);
        else if (e.type == '1') line += " link to " + quoted(e.link);
        else if (!strchr("0S3456D7", e.type) && e.type != '\0')
            line += std::string(" unknown file type '") + e.type + "'";
        lines.push_back(line);
    }
    return lines;
}

bool archiveDirectory(const std::string &dir, std::vector<unsigned char> &out, std::string &error) {
    DIR *d = opendir(dir.c_str());
    if (!d) {
        error = dir + ": " + strerror(errno);
        return false;
    }
    std::vector<std::string> members;
    while (struct dirent *entry = readdir(d))
        if (strcmp(entry->d_name, ".") != 0 && strcmp(entry->d_name, "..") != 0) members.push_back(entry->d_name);
    closedir(d);
    if (members.empty()) {
        error = dir + ": empty folder, nothing to archive";
        return false;
    }
    std::sort(members.begin(), members.end()); // byte order, as tar's --sort=name

    std::vector<std::string> args = {"tar", "--create", "--file=-", "--format=gnu", "--sort=name",
                                     "--owner=0", "--group=0", "--numeric-owner", "--mode=a+rX,u+w,go-w",
                                     "--hard-dereference", "--blocking-factor=20"};
    if (const char *epoch = getenv("SOURCE_DATE_EPOCH")) {
        char *end = nullptr;
        errno = 0;
        long long seconds = strtoll(epoch, &end, 10);
        if (!*epoch || *end || errno || seconds < 0) {
            error = std::string("SOURCE_DATE_EPOCH is no count of seconds: \"") + epoch + "\"";
            return false;
        }
        args.push_back("--mtime=@" + std::to_string(seconds));
    }
    args.push_back("--directory=" + dir);
    args.push_back("--");
    for (const std::string &m : members) args.push_back(m);
    std::vector<char *> argv;
    for (std::string &a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);

    int pipeFds[2];
    if (pipe(pipeFds) != 0) {
        error = std::string("pipe: ") + strerror(errno);
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
    posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
    posix_spawn_file_actions_addclose(&actions, pipeFds[1]);
    pid_t child;
    int spawned = posix_spawnp(&child, "tar", &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    if (spawned != 0) {
        close(pipeFds[0]);
        error = std::string("cannot start tar: ") + strerror(spawned);
        return false;
    }
    out.clear();
    unsigned char buffer[65536];
    for (;;) {
        ssize_t n = read(pipeFds[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        out.insert(out.end(), buffer, buffer + n);
    }
    close(pipeFds[0]);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        error = "tar failed on " + dir;
        return false;
    }
    return true;
}
