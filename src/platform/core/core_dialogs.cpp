// Message boxes, the modal dialog with its item texts, the file-open dialog.
//
// A dialog is a window of ours whose messages go to the dialog procedure; the
// texts of its controls live here, keyed by control id, seeded from the
// template table the program registered for the dialog's id. The backend
// only shows them and reports what the user did.
#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#include "platform/dialog_resource.h"
#include "platform/core/core_state.h"
#include "platform/core/linux_platform.h"

namespace linuxplat::detail {
namespace {

constexpr std::uint16_t kEditChanged = 0x0300;  // EN_CHANGE

// Dialog units of the template's 8-point font, in pixels: Win32 measures them
// in the font's average character width / 4 and height / 8.
constexpr std::int32_t kBaseUnitX = 6;
constexpr std::int32_t kBaseUnitY = 13;

// The program's dialog resources. Not part of the core's state: a reset of
// the platform keeps them, as a program keeps the resources linked into it.
std::vector<std::pair<int, const DialogTemplate*>>& registeredTemplates() {
    static std::vector<std::pair<int, const DialogTemplate*>> templates;
    return templates;
}

bool endedPredicate(void* context) {
    return dialogEnded(*static_cast<plat::Window*>(context));
}

// The text of a dialog's control; null when there is no such dialog or control.
std::string* dialogItem(plat::Window dialog, int itemId) {
    WindowRecord* w = findWindow(dialog);
    if (!w || !w->isDialog) return nullptr;
    auto it = w->items.find(itemId);
    return it == w->items.end() ? nullptr : &it->second;
}

void notifyEditChanged(plat::Window dialog, int itemId) {
    plat::SendMessageA(dialog, plat::WM_COMMAND,
                       (static_cast<plat::WParam>(kEditChanged) << 16) |
                           static_cast<std::uint16_t>(itemId),
                       0);
}

bool isEditControl(plat::Window dialog, int id) {
    WindowRecord* w = findWindow(dialog);
    const DialogTemplate* t = w ? linuxplat::findDialogTemplate(w->templateId) : nullptr;
    const DialogControl* c = t ? findTemplateControl(*t, id) : nullptr;
    return c && c->kind == ControlKind::Edit;
}

}  // namespace

plat::LResult dialogWindowMessage(plat::Window dialog, std::uint32_t message, plat::WParam wParam,
                                  plat::LParam lParam) {
    WindowRecord* w = findWindow(dialog);
    if (!w || !w->dialogProc) return 0;
    plat::DialogProc proc = w->dialogProc;
    std::intptr_t handled = proc(dialog, message, wParam, lParam);
    if (handled) return handled;
    // The default dialog handling that matters here: the close box and
    // Escape both mean Cancel.
    if (message == plat::WM_CLOSE) {
        plat::SendMessageA(dialog, plat::WM_COMMAND, static_cast<plat::WParam>(plat::IDCANCEL), 0);
        return 0;
    }
    if (message == plat::WM_SYSCOMMAND && (wParam & 0xFFF0u) == plat::SC_CLOSE) {
        plat::SendMessageA(dialog, plat::WM_CLOSE, 0, 0);
        return 0;
    }
    return 0;
}

}  // namespace linuxplat::detail

namespace linuxplat {

using namespace detail;

const DialogTemplate* findDialogTemplate(int templateId) {
    for (const auto& [id, dialog] : registeredTemplates())
        if (id == templateId) return dialog;
    return nullptr;
}

void setDialogItemTextFromUser(plat::Window dialog, int itemId, const char* text) {
    std::string* item = dialogItem(dialog, itemId);
    if (!item) return;
    *item = text ? text : "";
    notifyEditChanged(dialog, itemId);
}

std::string dialogItemText(plat::Window dialog, int itemId) {
    const std::string* item = dialogItem(dialog, itemId);
    return item ? *item : std::string{};
}

plat::Window activeDialog() {
    auto& stack = core().dialogStack;
    return stack.empty() ? 0 : stack.back();
}

bool dialogEnded(plat::Window dialog) {
    WindowRecord* w = findWindow(dialog);
    return !w || w->ended;
}

}  // namespace linuxplat

namespace plat {

using namespace linuxplat::detail;

void linuxRegisterDialog(int templateId, const DialogTemplate& dialog) {
    for (auto& [id, registered] : registeredTemplates()) {
        if (id == templateId) {
            registered = &dialog;
            return;
        }
    }
    registeredTemplates().emplace_back(templateId, &dialog);
}

int MessageBoxA(Window owner, const char* text, const char* caption, std::uint32_t type) {
    // Win32 titles a box without caption "Error".
    return backend().messageBox(owner, text ? text : "", caption ? caption : "Error", type);
}

std::intptr_t DialogBoxParamA(Module /*instance*/, int templateId, Window owner,
                              DialogProc dialogProc, LParam param) {
    const DialogTemplate* registered = linuxplat::findDialogTemplate(templateId);
    if (!registered || !dialogProc) return -1;
    if (owner != 0 && !IsWindow(owner)) return -1;
    const DialogTemplate& t = *registered;
    linuxplat::WindowInfo info{owner,
                               t.style,
                               t.exStyle,
                               t.x * kBaseUnitX / 4,
                               t.y * kBaseUnitY / 8,
                               t.width * kBaseUnitX / 4,
                               t.height * kBaseUnitY / 8,
                               "#32770",
                               t.caption,
                               templateId};
    Window dialog = createWindowRecord(info, nullptr, dialogProc);
    if (dialog == 0) return -1;
    WindowRecord* w = findWindow(dialog);
    for (const DialogControl& c : t.controls)
        if (c.id != -1) w->items[c.id] = c.caption ? c.caption : "";
    core().dialogStack.push_back(dialog);

    SendMessageA(dialog, WM_INITDIALOG, 0, param);
    std::intptr_t result = -1;
    w = findWindow(dialog);
    if (w && !w->ended) {
        if (backend().showDialog(dialog, templateId)) {
            linuxplat::PumpResult r = linuxplat::runModalLoop(endedPredicate, &dialog);
            backend().hideDialog(dialog);
            (void)r;  // a quit request or a stall leaves the dialog unended: -1 below
        }
    }
    w = findWindow(dialog);
    if (w && w->ended) result = w->result;
    auto& stack = core().dialogStack;
    stack.erase(std::remove(stack.begin(), stack.end(), dialog), stack.end());
    linuxplat::destroyWindow(dialog);
    return result;
}

bool EndDialog(Window dialog, std::intptr_t result) {
    WindowRecord* w = findWindow(dialog);
    if (!w || !w->isDialog) return false;
    w->ended = true;
    w->result = result;
    return true;
}

bool SetDlgItemTextA(Window dialog, int itemId, const char* text) {
    std::string* item = dialogItem(dialog, itemId);
    if (!item) return false;
    *item = text ? text : "";
    if (backend().dialogItemChanged) backend().dialogItemChanged(dialog, itemId, item->c_str());
    // A single-line edit control tells its dialog of every change, set by
    // program or typed.
    if (isEditControl(dialog, itemId)) notifyEditChanged(dialog, itemId);
    return true;
}

std::uint32_t GetDlgItemTextA(Window dialog, int itemId, char* buffer, int bufferSize) {
    if (!buffer || bufferSize <= 0) return 0;
    buffer[0] = '\0';
    const std::string* item = dialogItem(dialog, itemId);
    if (!item) return 0;
    std::size_t n = std::min(item->size(), static_cast<std::size_t>(bufferSize) - 1);
    std::memcpy(buffer, item->data(), n);
    buffer[n] = '\0';
    return static_cast<std::uint32_t>(n);
}

void InitCommonControls() {
    // Our dialogs use only the standard controls, which need no registration.
}

bool GetOpenFileNameA(OpenFileName* ofn) {
    // 76: the oldest record; 88: the one with the later fields.
    if (!ofn || (ofn->structSize != 76 && ofn->structSize != 88)) return false;
    if (!ofn->file || ofn->maxFile == 0) return false;
    if (ofn->owner != 0 && !IsWindow(ofn->owner)) return false;
    std::string path;
    if (!backend().chooseOpenFile(*ofn, &path) || path.empty()) return false;

    std::size_t nameStart = path.find_last_of('/');
    nameStart = nameStart == std::string::npos ? 0 : nameStart + 1;
    if (path.find('.', nameStart) == std::string::npos && ofn->defaultExtension &&
        ofn->defaultExtension[0]) {
        path += '.';
        path += ofn->defaultExtension;
    }
    std::size_t dot = path.find_last_of('.');
    // A path that does not fit is refused whole rather than cut: a cut path
    // names some other file. The caller's buffer stays as it was.
    if (path.size() + 1 > ofn->maxFile || path.size() > 0xFFFF) return false;
    std::memcpy(ofn->file, path.c_str(), path.size() + 1);
    ofn->fileOffset = static_cast<std::uint16_t>(nameStart);
    ofn->fileExtension = static_cast<std::uint16_t>(
        dot != std::string::npos && dot >= nameStart ? dot + 1 : path.size());
    if (ofn->fileTitle && ofn->maxFileTitle > 0) {
        std::size_t n = std::min<std::size_t>(path.size() - nameStart, ofn->maxFileTitle - 1);
        std::memcpy(ofn->fileTitle, path.data() + nameStart, n);
        ofn->fileTitle[n] = '\0';
    }
    return true;
}

}  // namespace plat
