// The Linux program. The host takes it from here, exactly as on Windows: it
// reads the command line itself and ends the process with its exit code.
// The configuration dialog's table is handed to the platform first, where
// the Windows program (win_main.cpp) links rovanta.rc.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>

#include "host/dialog_template.h"
#include "host/host_entry.h"
#include "host/saver_window.h"
#include "linux_options.h"
#include "platform/core/linux_platform.h"
#if defined(ROVANTA_DESKTOP)
#include "platform/desktop/desktop.h"
#include "platform/desktop/hack_args.h"
#endif

int main(int argc, char** argv) {
    int status = 0;
    if (answerInformationOption(argc, argv, &status)) return status;
    plat::linuxSetArguments(argc, argv);
    plat::linuxRegisterDialog(kConfigDialogTemplateId, configDialogTemplate);
    saverRunOptions.seedMix = static_cast<std::uint32_t>(getpid());
#if defined(ROVANTA_DESKTOP)
    // The daemon's switches become the preview route before the host's mode
    // scan reads the command line.
    switch (desktop::applyHackArguments(argc, argv)) {
    case desktop::HackStart::Unusable:
        return 1;
    case desktop::HackStart::Hack:
        saverRunOptions.hack = true;
        readRunOptions(argc, argv);
        // The daemon expects a hack it ends to end by that signal.
        std::atexit(endByTheTerminationSignal);
        break;
    case desktop::HackStart::NotAHack:
        break;
    }
#endif
    hostEntry();
}
