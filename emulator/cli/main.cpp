// tapemu: plays the receiver's firmware for TAP files (see tapemu.h).
#include "../tapemu.h"

int main(int argc, char **argv) { return tapemuMain(argc, argv); }
