#include "velalib.h"

/* The library's version mark, found in the TAP file by anyone who looks. */
const char *__velalib_version__ = "__VELALIB_VERSION_TMS__ 2016-02-29";
