// The configuration dialog's layout (template 2003): the program's own table
// in the platform's dialog resource format, and the one place the dialog is
// written down. The Linux program registers it with its platform at
// start-up; the Windows program's resource script is made from it at build
// time (cmake/dialog-rc.cmake, which also reads kConfigControlCount).
//
//   kConfigControlCount   how many controls the dialog has
//   configDialogTemplate  the frame and the controls in tab order
//   findDialogControl     a control by its id
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/dialog_resource.h"

inline constexpr std::size_t kConfigControlCount = 35;

extern const DialogTemplate configDialogTemplate;

// The control with this id, or null (never finds the id -1).
const DialogControl* findDialogControl(std::int32_t id);
