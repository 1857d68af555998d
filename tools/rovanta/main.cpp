// The Linux program. The host takes it from here, exactly as on Windows: it
// reads the command line itself and ends the process with its exit code.
#include "host/host_entry.h"
#include "platform/linux/linux_platform.h"
#if defined(ROVANTA_DESKTOP)
#include "platform/desktop/desktop.h"
#endif

int main(int argc, char** argv) {
    plat::linuxSetArguments(argc, argv);
#if defined(ROVANTA_DESKTOP)
    // The daemon's switches become the preview route before the host's mode
    // scan reads the command line.
    desktop::applyHackArguments(argc, argv);
#endif
    hostEntry();
}
