#include <string.h>

#include "velalib.h"

/* StringEndsWith: takes a text and a suffix (both may be null).  Returns 1
 * when the text ends with the suffix, 0 when it does not, when either is
 * null or empty, or when the suffix is longer than the text. */
int StringEndsWith(const char *text, const char *suffix)
{
    if (text == NULL || suffix == NULL || text[0] == '\0' || suffix[0] == '\0') return 0;
    size_t textLength = strlen(text), suffixLength = strlen(suffix);
    if (suffixLength > textLength) return 0;
    return TAP_MemCmp(text + textLength - suffixLength, suffix, suffixLength) == 0 ? 1 : 0;
}
