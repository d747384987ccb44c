/*
 * The firmware's TAP loader.  Builds on the base, platform, tasks and
 * calls rooms.
 */
#ifndef EMULATOR_LOADER_LOADER_H
#define EMULATOR_LOADER_LOADER_H

#include <string>
#include <vector>

#include "../base/base.h"

/* Reads a TAP file's ID; 0 with a reason when it is no TAP. */
int emuReadTapId(const std::string &hostPath, dword *id, std::string &reason);

/* Whether the dynamic loader may be given the file: its program headers,
 * loadable segments and dynamic entries lie within the file and its
 * image; false with a reason otherwise. */
bool loaderSegmentsSound(const std::string &hostPath, std::string &reason);

/* The whole file; false when it cannot be read. */
bool loaderReadWhole(const std::string &path, std::vector<unsigned char> &bytes);

/* Unloads every TAP file loaded since the receiver started. */
void loaderUnloadAll(void);

#endif
