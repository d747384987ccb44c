#include <string.h>

#include "velalib.h"

/* The path being built: a PATH_BUFFER_SIZE buffer, its length, and whether
 * everything fitted so far. */
typedef struct {
    char text[PATH_BUFFER_SIZE];
    size_t length;
    bool fits;
} PathBuilder;

static void startPath(PathBuilder *path)
{
    path->text[0] = '\0';
    path->length = 0;
    path->fits = true;
}

static void appendBytes(PathBuilder *path, const char *bytes, size_t count)
{
    if (!path->fits) return;
    if (path->length + count >= PATH_BUFFER_SIZE) {
        path->fits = false;
        return;
    }
    memcpy(path->text + path->length, bytes, count);
    path->length += count;
    path->text[path->length] = '\0';
}

static void append(PathBuilder *path, const char *text) { appendBytes(path, text, strlen(text)); }

/* "With a slash": a "/" unless the text built so far ends with one (so an
 * empty text becomes "/"). */
static void appendSlash(PathBuilder *path)
{
    if (path->fits && !StringEndsWith(path->text, "/")) append(path, "/");
}

/* True when path lies on the disk: "/mnt/hd" alone or followed by "/". */
static bool onDisk(const char *path)
{
    size_t mountLength = strlen(TAP_MOUNT_POINT);
    return strncmp(path, TAP_MOUNT_POINT, mountLength) == 0 &&
           (path[mountLength] == '/' || path[mountLength] == '\0');
}

/* The TAP's working directory with a slash. */
static void appendWorkDirSlash(PathBuilder *path)
{
    char workDir[PATH_BUFFER_SIZE];
    workDir[0] = '\0';
    HDD_TAP_GetCurrentDir(workDir);
    append(path, workDir);
    appendSlash(path);
}

/* The source made absolute in the TAP view. */
static void appendAbsolute(PathBuilder *path, const char *source)
{
    if (source[0] != '/') appendWorkDirSlash(path);
    append(path, source);
}

/* Up to, not including, the last "/"; a name without any "/" lies in ".". */
static void appendDirPart(PathBuilder *path, const char *source)
{
    const char *lastSlash = strrchr(source, '/');
    if (lastSlash == NULL)
        append(path, ".");
    else
        appendBytes(path, source, (size_t)(lastSlash - source));
}

/* After the last "/"; the whole text when it has none. */
static const char *namePart(const char *source)
{
    const char *lastSlash = strrchr(source, '/');
    return lastSlash == NULL ? source : lastSlash + 1;
}

/* ConvertPathType: takes a source path, a destination of PATH_BUFFER_SIZE
 * bytes and the wanted path type.  Writes the source as a path of that type
 * into the destination: directories end with "/", a relative source counts
 * from the TAP's working directory.  Writes the empty text when the source
 * cannot be expressed that way (a directory as a file, a Linux path outside
 * /mnt/hd in the TAP view) or the result would not fit.  Writes nothing when
 * the source or the destination is null or the type is unknown.  Source and
 * destination may be the same buffer. */
void ConvertPathType(const char *source, char *destination, tPathType target)
{
    if (source == NULL || destination == NULL) return;
    if ((int)target < PT_FileName || (int)target > PT_LinuxFile) return;

    PathBuilder result;
    startPath(&result);
    size_t mountLength = strlen(TAP_MOUNT_POINT);

    tPathType type = GetPathType(source);
    if (type == target) {
        append(&result, source);
        if (target == PT_TapDir || target == PT_LinuxDir) appendSlash(&result);
    } else {
        switch (type) {
        case PT_FileName:
            if (target == PT_LinuxDir || target == PT_LinuxFile) append(&result, TAP_MOUNT_POINT);
            appendWorkDirSlash(&result);
            if (target == PT_TapFile || target == PT_LinuxFile) append(&result, source);
            break;
        case PT_TapDir:
            if (target == PT_LinuxDir) {
                append(&result, TAP_MOUNT_POINT);
                appendAbsolute(&result, source);
                appendSlash(&result);
            }
            break;
        case PT_LinuxDir:
            if (target == PT_TapDir && onDisk(source)) {
                append(&result, source + mountLength);
                appendSlash(&result);
            }
            break;
        case PT_TapFile:
            if (target == PT_FileName) {
                append(&result, namePart(source));
            } else if (target == PT_TapDir) {
                appendDirPart(&result, source);
                appendSlash(&result);
            } else if (target == PT_LinuxDir) {
                PathBuilder absolute;
                startPath(&absolute);
                appendAbsolute(&absolute, source);
                append(&result, TAP_MOUNT_POINT);
                if (!absolute.fits) result.fits = false;
                appendDirPart(&result, absolute.text);
                appendSlash(&result);
            } else if (target == PT_LinuxFile) {
                append(&result, TAP_MOUNT_POINT);
                appendAbsolute(&result, source);
            }
            break;
        case PT_LinuxFile:
            if (target == PT_FileName) {
                append(&result, namePart(source));
            } else if (target == PT_TapDir) {
                PathBuilder dir;
                startPath(&dir);
                appendDirPart(&dir, source);
                if (dir.fits && onDisk(dir.text)) {
                    append(&result, dir.text + mountLength);
                    appendSlash(&result);
                }
            } else if (target == PT_LinuxDir) {
                appendDirPart(&result, source);
                appendSlash(&result);
            } else if (target == PT_TapFile) {
                if (onDisk(source)) append(&result, source + mountLength);
            }
            break;
        }
    }

    if (!result.fits) result.text[0] = '\0';
    memcpy(destination, result.text, strlen(result.text) + 1);
}
