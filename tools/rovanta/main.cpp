// The Linux program. The host takes it from here, exactly as on Windows: it
// reads the command line itself and ends the process with its exit code.
#include "host/host_entry.h"
#include "platform/linux/linux_platform.h"

int main(int argc, char** argv) {
    plat::linuxSetArguments(argc, argv);
    hostEntry();
}
