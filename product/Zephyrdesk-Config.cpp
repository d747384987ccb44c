/*
 * Zephyrdesk-Config.tap: the settings of Zephyrdesk (web server port,
 * password, guide days, language of the pages).
 */
#include "product.h"

TAP_ID(0x51525610);
TAP_PROGRAM_NAME("Zephyrdesk-Config 2.20");
TAP_AUTHOR_NAME("Zephyrdesk team");
TAP_DESCRIPTION("Settings of Zephyrdesk.");
TAP_PROGRAM_VERSION("2.20");
TAP_ETCINFO("Feb 11 2018");

const char productStartLine[] = "Zephyrdesk-Config 2.20 started\n";
