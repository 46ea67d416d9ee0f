#include "GMimeInit.h"

#include <gmime/gmime.h>

void ensureGMimeInitialised()
{
    static const bool initialised = [] {
        g_mime_init();
        return true;
    }();
    (void)initialised;
}
