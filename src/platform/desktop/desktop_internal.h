// What the desktop backend's parts share: the X11 side (saver windows,
// frames, input), the GTK side (dialog, boxes, file chooser) and the loop that
// waits for both. One thread; nothing here is touched from a signal handler.
#pragma once

#include <cstdint>
#include <string>

#include "platform/core/backend.h"

namespace desktop {

// Started as a hack: nobody can see a box, the daemon owns the screen.
extern bool hackMode;

// Appends one line per presented frame to $ROVANTA_FRAME_LOG, one line per
// message box to $ROVANTA_BOX_LOG; no-ops when unset.
void logFrame(std::uint64_t nowMs);
void logBox(const char* caption, const char* text);

std::uint64_t monotonicMs();

namespace x11 {
// The display is opened on first need, never for a command line that selects
// no mode. False when there is none to open.
bool connect();
bool connected();
int connectionFd();
void flush();
std::uint32_t rootWindow();

plat::Window createWindow(const linuxplat::WindowInfo& info);
bool ownsWindow(plat::Window window);
void destroyWindow(plat::Window window);
void fillClientBlack(plat::Window window);
void present(plat::Window window, const PixelSurface& pixels, const plat::Rect& rect);
// Frame memory shared with the server (null when it cannot share).
void* allocateFrameMemory(plat::Window window, std::size_t bytes);
void releaseFrameMemory(void* memory);
bool foreignWindow(plat::Window window, plat::Rect* client);
plat::Window findForeignWindow(const char* className, const char* title);
bool setForeground(plat::Window window);
plat::Window getForeground();
void hideCursor();
bool cursorPos(plat::Point* point);
void screenSize(std::int32_t* width, std::int32_t* height);
// The top-left of a window's client area on the screen.
bool screenOrigin(plat::Window window, std::int32_t* x, std::int32_t* y);

// Turns what the server sent into core calls. `modalUp`: a box of ours is
// open, so a full-screen window must not be mapped over it yet.
void pollEvents(bool modalUp);
// Our windows that no window of ours contains: what SIGTERM tears down.
std::size_t outerWindows(plat::Window* out, std::size_t capacity);
}  // namespace x11

namespace gtkui {
bool available();  // GTK initialised on this display (tries once)
bool active();     // initialised: its main context has to be served
plat::Window createDialog(const linuxplat::WindowInfo& info);
bool ownsDialog(plat::Window window);
void destroyDialog(plat::Window window);
bool showDialog(plat::Window dialog, int templateId);
void hideDialog(plat::Window dialog);
void dialogItemChanged(plat::Window dialog, int itemId, const char* text);
int messageBox(plat::Window owner, const char* text, const char* caption, std::uint32_t type);
bool chooseOpenFile(const plat::OpenFileName& ofn, std::string* path);
bool modalUp();
// Core calls the toolkit's handlers asked for; run from pollEvents only.
void runPending();
// The program is being ended: every open box ends as its close box would end
// it (once its modal loop next looks), and no box opens from now on.
void endBoxes();
// Then, with no box left, each open dialog is cancelled as Escape would
// cancel it. How many.
std::size_t cancelDialogs();
}  // namespace gtkui

}  // namespace desktop
