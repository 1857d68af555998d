// The Linux program. It reads its own options once, hands the platform the
// dialog's table (where the Windows program, win_main.cpp, links rovanta.rc)
// and where to draw, and the host takes it from there, exactly as on
// Windows: it reads the command line itself and ends the process with its
// exit code.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>

#include "host/dialog_template.h"
#include "host/host_entry.h"
#include "host/saver_window.h"
#include "linux_options.h"
#include "platform/platform.h"

int main(int argc, char** argv) {
    LinuxOptions options;
    readLinuxOptions(argc, argv, std::getenv("XSCREENSAVER_WINDOW"), &options);
    if (options.information != Information::None) return answerInformation(options.information);
    saverRunOptions.seedMix = static_cast<std::uint32_t>(getpid());
    switch (plat::StartLinuxProgram(argc, argv, kConfigDialogTemplateId, configDialogTemplate,
                                    drawTargetOf(options))) {
    case plat::StartResult::WindowUnusable:
        reportUnusableWindow(options);
        return 1;
    case plat::StartResult::Failed:
        return 1;
    case plat::StartResult::IntoWindow:
        applyRunOptions(options);
        break;
    case plat::StartResult::CommandLine:
        // The host ends such a tail with 255 and no word; a person who typed
        // it learns what would have worked.
        if (chooseMode(commandTail(plat::GetCommandLineA()), false).mode == HostMode::None)
            reportNoMode();
        break;
    }
    hostEntry();
}
