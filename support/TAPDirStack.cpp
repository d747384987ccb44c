#include "velalib.h"

/* Saved working directories (TAP view), pushed by HDD_TAP_PushDir. */
char TAPDirStack[DIR_STACK_DEPTH][DIR_STACK_ENTRY];

/* Index of the top entry of TAPDirStack; -1 while the stack is empty. */
int TAPDirStackDepth = -1;
