/*
 * The two TAPs of the Zephyrdesk product that the installer carries in
 * its payload: "Zephyrdesk.tap" (the web application) and
 * "Zephyrdesk-Config.tap" (its settings).  Both share the life of a
 * resident TAP (product.cpp): they announce themselves on the console
 * when they start, stay loaded, end on the stop event and hand every
 * other event back to the firmware.  Each TAP's own unit holds its
 * identity and its start line.
 */
#ifndef PRODUCT_PRODUCT_H
#define PRODUCT_PRODUCT_H

#include "../firmware/tap.h"

/* The line the TAP writes to the console when it starts, ending in a
 * line feed. */
extern const char productStartLine[];

#endif
