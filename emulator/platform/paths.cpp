/*
 * Firmware disk paths ("/ProgramFiles/Settings") and where they lie in the
 * disk folder.
 */
#include "platform.h"

std::string emuNormalise(const std::string &cwd, const char *path) {
    if (!path || !*path) return "";
    std::string full = path[0] == '/' ? std::string(path) : cwd + "/" + path;
    std::string result;
    size_t i = 0;
    while (i <= full.size()) {
        size_t j = full.find('/', i);
        if (j == std::string::npos) j = full.size();
        std::string part = full.substr(i, j - i);
        if (part == "..") {
            size_t slash = result.rfind('/');
            result = slash == std::string::npos ? "" : result.substr(0, slash);  // never above the root
        } else if (!part.empty() && part != ".") {
            result += "/" + part;
        }
        i = j + 1;
    }
    return result.empty() ? "/" : result;
}

std::string emuHostPath(const std::string &firmwarePath) {
    if (firmwarePath == "/") return emu.disk + "/";
    return emu.disk + firmwarePath;
}
