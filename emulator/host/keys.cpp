/*
 * The remote's keys by name, as key scripts and the window send them.
 */
#include "host.h"

/* The names of the script and their codes; IDLE is a non-key event. */
static const struct {
    const char *name;
    long code;
} keyNames[] = {
    {"OK", 0x1001E},      {"EXIT", 0x10017},      {"BACK", 0x10012},      {"LEFT", 0x1000F},
    {"FORWARD", 0x10013}, {"RIGHT", 0x10011},     {"PANEL_OK", 0x5},      {"PANEL_EXIT", 0x6},
    {"PANEL_BACK", 0x1},  {"PANEL_FORWARD", 0x2}, {"IDLE", HOST_IDLE},
    // the remote's digit keys
    {"DIGIT_0", 0x10000}, {"DIGIT_1", 0x10001},   {"DIGIT_2", 0x10002},   {"DIGIT_3", 0x10003},
    {"DIGIT_4", 0x10004}, {"DIGIT_5", 0x10005},   {"DIGIT_6", 0x10006},   {"DIGIT_7", 0x10007},
    {"DIGIT_8", 0x10008}, {"DIGIT_9", 0x10009},
};

bool hostKeyCode(const std::string &name, long *code) {
    for (const auto &k : keyNames)
        if (name == k.name) {
            *code = k.code;
            return true;
        }
    return false;
}
