/* The host interface header is plain C as well: a host written in C includes it. */
#include "vodarezazuv/fs_plugin.h"

int HostInterfaceHeaderCompilesAsC(void) {
    return (int)sizeof(WIN32_FIND_DATAW);
}
