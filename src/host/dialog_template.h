// The configuration dialog's layout (template 2003): the program's own table
// in the platform's dialog resource format. The Linux program registers it
// with its platform at start-up; the Windows program links rovanta.rc, which
// a test keeps equal to it.
//
//   kConfigControlCount   the number of controls
//   configDialogTemplate  the table
//   findDialogControl     one control by id
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/dialog_resource.h"

inline constexpr std::size_t kConfigControlCount = 35;

extern const DialogTemplate configDialogTemplate;

// The control with this id, or null (never finds the id -1).
const DialogControl* findDialogControl(std::int32_t id);
