/*
 * Zephyrdesk.tap: the web application's TAP, which the installer places
 * in /ProgramFiles (and in /ProgramFiles/AutoStart when asked).
 */
#include "product.h"

TAP_ID(0x5152560F);
TAP_PROGRAM_NAME("Zephyrdesk 2.20");
TAP_AUTHOR_NAME("Zephyrdesk team");
TAP_DESCRIPTION("Web interface for the receiver.");
TAP_PROGRAM_VERSION("2.20");
TAP_ETCINFO("Feb 11 2018");

const char productStartLine[] = "Zephyrdesk 2.20 started\n";
