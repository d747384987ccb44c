#include <string.h>
#include <sys/stat.h>

#include "velalib.h"

/* Appends text to the path in buffer (length *used, PATH_BUFFER_SIZE bytes);
 * returns false, leaving the buffer as it was, when it does not fit. */
static bool append(char *buffer, size_t *used, const char *text)
{
    size_t length = strlen(text);
    if (*used + length >= PATH_BUFFER_SIZE) return false;
    memcpy(buffer + *used, text, length + 1);
    *used += length;
    return true;
}

/* GetPathType: takes a zero-terminated path (may be null).  Returns what
 * kind of path it is: an existing object is a Linux path (a directory, or a
 * file, symbolic links included); otherwise the text decides, helped by
 * whether the path names a directory on the disk (a relative path counts
 * from the TAP's working directory).  Null, empty and bare names that are
 * no folder in the working directory are PT_FileName; ".", names starting
 * with "." and "/" are PT_TapDir. */
tPathType GetPathType(const char *path)
{
    if (path == NULL || path[0] == '\0') return PT_FileName;
    if (path[0] == '.' || strcmp(path, "/") == 0) return PT_TapDir;

    struct stat64 info;
    if (lstat64(path, &info) == 0) return S_ISDIR(info.st_mode) ? PT_LinuxDir : PT_LinuxFile;

    bool hasSlash = strchr(path, '/') != NULL;
    bool endsWithSlash = path[strlen(path) - 1] == '/';
    bool linuxMount = strncmp(path, "/mnt", 4) == 0;

    /* Is it a folder on the disk?  A path too long for the buffer is none. */
    char onDisk[PATH_BUFFER_SIZE];
    size_t used = 0;
    onDisk[0] = '\0';
    bool fits = append(onDisk, &used, TAP_MOUNT_POINT);
    if (fits && path[0] != '/') {
        char workDir[PATH_BUFFER_SIZE];
        workDir[0] = '\0';
        HDD_TAP_GetCurrentDir(workDir);
        fits = append(onDisk, &used, workDir);
        if (fits && !StringEndsWith(onDisk, "/")) fits = append(onDisk, &used, "/");
    }
    if (fits) fits = append(onDisk, &used, path);
    bool isDiskDir = fits && lstat64(onDisk, &info) == 0 && S_ISDIR(info.st_mode);

    if (linuxMount) return (endsWithSlash || isDiskDir) ? PT_LinuxDir : PT_LinuxFile;
    if (hasSlash) return (endsWithSlash || isDiskDir) ? PT_TapDir : PT_TapFile;
    return isDiskDir ? PT_TapDir : PT_FileName;
}
