#include <dlfcn.h>
#include <stddef.h>

#include "velalib.h"

/*
 * TryResolve: looks a symbol up by name in the process's global scope (the
 * firmware and everything loaded into it globally).
 * Takes a NUL-terminated name.  Returns the symbol's address, or null when
 * the name is unknown or the global scope cannot be opened.  The address
 * belongs to whoever defines the symbol.
 */
void *TryResolve(const char *name)
{
    if (name == NULL) return NULL;

    void *scope = dlopen(NULL, RTLD_LAZY | RTLD_GLOBAL);
    if (scope == NULL) return NULL;

    dlerror(); /* an error left over from an earlier call must not count against this lookup */
    void *address = dlsym(scope, name);
    const char *error = dlerror();
    dlclose(scope);
    if (error != NULL) return NULL;
    return address;
}
