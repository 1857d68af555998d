// Saver windows on an X display: a full-screen override-redirect window that
// grabs keyboard and pointer and hides the cursor, a child of somebody else's
// window (a preview pane, the daemon's saver window) that leaves input alone
// and follows its parent's size, or the root window itself, drawn on under
// every other window. Frames go up with MIT-SHM when the server shares memory
// with us and with a plain XPutImage otherwise.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <X11/extensions/Xinerama.h>
#include <X11/extensions/Xrandr.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <list>
#include <map>
#include <vector>

#include "platform/desktop/desktop_internal.h"
#include "platform/desktop/pixel_format.h"

namespace desktop::x11 {

namespace {

struct Frame {
    XImage* image = nullptr;
    XShmSegmentInfo shm{};
    bool shared = false;
    std::vector<std::uint8_t> converted;  // plain upload of a converted frame
};

struct SaverX {
    ::Window id = 0;
    plat::Window parent = 0;  // as the core gave it
    ::Window parentId = 0;    // the X window it lives in
    bool foreignParent = false;
    bool fullScreen = false;  // takes the input, hides the cursor
    bool mapPending = false;
    bool mapped = false;
    bool grabbed = false;
    int grabTries = 0;
    bool hadFocus = false;
    bool gone = false;  // destroyed by somebody else
    bool onRoot = false;  // drawn straight on the root window: no window of ours
    std::int32_t width = 0;   // the drawing area
    std::int32_t height = 0;
    // Where the drawing area lies in the window: full screen, the primary
    // monitor's place on the screen; elsewhere 0, 0.
    int originX = 0;
    int originY = 0;
    Visual* visual = nullptr;
    int depth = 0;
    GC gc = nullptr;
    PixelFormat format{};
    Frame frame;
};

// Frame surfaces the core placed in memory we share with the server: shown
// straight from where the renderer drew them.
struct SharedFrameMemory {
    XShmSegmentInfo shm{};
    std::size_t bytes = 0;
    XImage* image = nullptr;  // made on first show, for that frame size
};

Display* display = nullptr;
bool triedToConnect = false;
// A list: an image made for a segment points at its record (XShmCreateImage
// keeps the address of its XShmSegmentInfo), so records must not move when
// another surface comes or goes.
std::list<SharedFrameMemory> sharedMemory;
bool shmUsable = false;
Cursor blankCursor = 0;
// Keyed by the X window id, which is also the handle the core holds; but for
// the root window drawn on directly, whose handle must differ from the
// foreign parent's (the same root): X ids never use the top three bits.
// Never destroyed: a window still open when the process exits keeps its
// record (and its GC) reachable to the end, and the server frees what it
// holds then.
std::map<plat::Window, SaverX>& windows = *new std::map<plat::Window, SaverX>;
constexpr plat::Window kOnRootTag = 0xE0000000u;
plat::Window onRootHandle = 0;
// Foreign windows whose destruction we watch, and whether it was reported.
std::map<::Window, bool> watched;

// X errors arrive asynchronously and by default end the process; a window
// that vanished under us is an event here, not a reason to die.
std::vector<std::pair<XID, int>> errors;

int onXError(Display*, XErrorEvent* event) {
    errors.emplace_back(event->resourceid, event->error_code);
    return 0;
}

// Runs `call` and says whether the server refused it.
template <typename Call>
bool succeeds(Call call) {
    const std::size_t before = errors.size();
    call();
    XSync(display, False);
    return errors.size() == before;
}

SaverX* find(plat::Window window) {
    auto it = windows.find(window);
    return it == windows.end() ? nullptr : &it->second;
}

// The window of ours an event on X window `id` is about.
SaverX* findX(::Window id) {
    if (SaverX* w = find(id)) return w;
    if (onRootHandle != 0 && display && id == DefaultRootWindow(display)) return find(onRootHandle);
    return nullptr;
}

struct Area {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

// The primary monitor: RandR's primary output, else the first Xinerama
// head, else the whole screen.
Area primaryArea() {
    const int screen = DefaultScreen(display);
    Area area{0, 0, DisplayWidth(display, screen), DisplayHeight(display, screen)};
    int event = 0;
    int error = 0;
    int major = 0;
    int minor = 0;
    if (XRRQueryExtension(display, &event, &error) && XRRQueryVersion(display, &major, &minor) &&
        (major > 1 || (major == 1 && minor >= 5))) {
        int count = 0;
        if (XRRMonitorInfo* monitors =
                XRRGetMonitors(display, DefaultRootWindow(display), True, &count)) {
            for (int i = 0; i < count; ++i) {
                if (!monitors[i].primary || monitors[i].width <= 0 || monitors[i].height <= 0)
                    continue;
                area = Area{monitors[i].x, monitors[i].y, monitors[i].width, monitors[i].height};
                XRRFreeMonitors(monitors);
                return area;
            }
            XRRFreeMonitors(monitors);
        }
    }
    if (XineramaQueryExtension(display, &event, &error) && XineramaIsActive(display)) {
        int count = 0;
        if (XineramaScreenInfo* heads = XineramaQueryScreens(display, &count)) {
            if (count > 0 && heads[0].width > 0 && heads[0].height > 0)
                area = Area{heads[0].x_org, heads[0].y_org, heads[0].width, heads[0].height};
            XFree(heads);
        }
    }
    return area;
}


PixelFormat formatOf(Visual* visual, int depth) {
    int count = 0;
    int bpp = 0;
    if (XPixmapFormatValues* formats = XListPixmapFormats(display, &count)) {
        for (int i = 0; i < count; ++i)
            if (formats[i].depth == depth) bpp = formats[i].bits_per_pixel;
        XFree(formats);
    }
    return PixelFormat{static_cast<std::uint32_t>(visual->red_mask),
                       static_cast<std::uint32_t>(visual->green_mask),
                       static_cast<std::uint32_t>(visual->blue_mask), bpp, depth};
}

void releaseFrame(Frame& f) {
    if (f.image == nullptr) return;
    if (f.shared) {
        XShmDetach(display, &f.shm);
        XSync(display, False);
        shmdt(f.shm.shmaddr);
    }
    f.image->data = nullptr;  // never Xlib's to free
    XDestroyImage(f.image);
    f = Frame{};
}

// A shared image of the window's size; false (nothing held) when the server
// cannot share with us, so the caller falls back to the socket.
bool makeSharedFrame(SaverX& w) {
    Frame& f = w.frame;
    f.image = XShmCreateImage(display, w.visual, static_cast<unsigned>(w.depth), ZPixmap, nullptr,
                              &f.shm, static_cast<unsigned>(w.width),
                              static_cast<unsigned>(w.height));
    if (f.image == nullptr) return false;
    const std::size_t bytes = static_cast<std::size_t>(f.image->bytes_per_line) *
                              static_cast<std::size_t>(w.height);
    f.shm.shmid = shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
    if (f.shm.shmid < 0) {
        XDestroyImage(f.image);
        f = Frame{};
        return false;
    }
    f.shm.shmaddr = static_cast<char*>(shmat(f.shm.shmid, nullptr, 0));
    f.image->data = f.shm.shmaddr;
    f.shm.readOnly = False;
    bool ok = f.shm.shmaddr != reinterpret_cast<char*>(-1);
    if (ok) {
        ok = succeeds([&] { XShmAttach(display, &f.shm); });
    }
    // Marked for removal at once: the segment goes with the last detach, even
    // when we are killed.
    shmctl(f.shm.shmid, IPC_RMID, nullptr);
    if (!ok) {
        if (f.shm.shmaddr != reinterpret_cast<char*>(-1)) shmdt(f.shm.shmaddr);
        f.image->data = nullptr;
        XDestroyImage(f.image);
        f = Frame{};
        shmUsable = false;  // a remote server: do not try again
        return false;
    }
    f.shared = true;
    return true;
}

void makePlainFrame(SaverX& w) {
    Frame& f = w.frame;
    f.image = XCreateImage(display, w.visual, static_cast<unsigned>(w.depth), ZPixmap, 0, nullptr,
                           static_cast<unsigned>(w.width), static_cast<unsigned>(w.height), 32,
                           0);
    if (f.image != nullptr && !isFrameLayout(w.format)) {
        f.converted.resize(static_cast<std::size_t>(f.image->bytes_per_line) *
                           static_cast<std::size_t>(w.height));
        f.image->data = reinterpret_cast<char*>(f.converted.data());
    }
}

void tryGrab(SaverX& w) {
    if (w.grabbed || !w.mapped || w.grabTries > 40) return;
    ++w.grabTries;
    const int keyboard = XGrabKeyboard(display, w.id, True, GrabModeAsync, GrabModeAsync,
                                       CurrentTime);
    const int pointer = XGrabPointer(
        display, w.id, True, ButtonPressMask | ButtonReleaseMask | PointerMotionMask,
        GrabModeAsync, GrabModeAsync, None, blankCursor, CurrentTime);
    w.grabbed = keyboard == GrabSuccess && pointer == GrabSuccess;
    if (!w.grabbed) {
        if (keyboard == GrabSuccess) XUngrabKeyboard(display, CurrentTime);
        if (pointer == GrabSuccess) XUngrabPointer(display, CurrentTime);
    }
}

// The window our drawing lives in got a new size from its owner: draw at
// that size from now on.
void follow(plat::Window handle, SaverX& w, int width, int height) {
    if (width <= 0 || height <= 0 || (width == w.width && height == w.height)) return;
    if (!w.onRoot) XResizeWindow(display, w.id, static_cast<unsigned>(width),
                                 static_cast<unsigned>(height));
    releaseFrame(w.frame);  // made for the old size
    w.width = width;
    w.height = height;
    linuxplat::windowResized(handle, width, height);
}

void mapNow(SaverX& w) {
    w.mapPending = false;
    if (w.onRoot) {
        w.mapped = true;  // always shown
    } else if (w.fullScreen) {
        XMapRaised(display, w.id);
        XSetInputFocus(display, w.id, RevertToParent, CurrentTime);
    } else if (w.foreignParent && w.parentId == DefaultRootWindow(display)) {
        // Drawn on the root window: the desktop's background, under every
        // window the user works with.
        XMapWindow(display, w.id);
        XLowerWindow(display, w.id);
    } else {
        XMapRaised(display, w.id);
    }
}

void reportForeignGone(::Window id) {
    auto it = watched.find(id);
    if (it == watched.end() || it->second) return;
    it->second = true;
    linuxplat::foreignWindowDestroyed(id);
}

std::uint32_t buttonMessage(unsigned button) {
    switch (button) {
    case Button1: return plat::WM_LBUTTONDOWN;
    case Button2: return plat::WM_MBUTTONDOWN;
    case Button3: return plat::WM_RBUTTONDOWN;
    default: return plat::WM_MOUSEWHEEL;  // wheels and extra buttons
    }
}

plat::LParam pointParam(int x, int y) {
    return static_cast<plat::LParam>((static_cast<std::uint32_t>(x) & 0xFFFFu) |
                                     ((static_cast<std::uint32_t>(y) & 0xFFFFu) << 16));
}

void handle(const XEvent& e) {
    const plat::Window ours = e.xany.window;
    SaverX* w = findX(e.xany.window);
    switch (e.type) {
    case ConfigureNotify:
        // Sizes of the windows we live in; our own child windows' changes
        // are ours and come back here too.
        for (auto& [handle, saver] : windows)
            if (!saver.gone && ((saver.onRoot && e.xconfigure.window == saver.id) ||
                                (saver.foreignParent && !saver.onRoot &&
                                 e.xconfigure.window == saver.parentId)))
                follow(handle, saver, e.xconfigure.width, e.xconfigure.height);
        break;
    case Expose:
        if (w && e.xexpose.count == 0) linuxplat::invalidateWindow(w->onRoot ? onRootHandle : ours, true);
        break;
    case MapNotify:
        if (w) {
            w->mapped = true;
            if (w->fullScreen) tryGrab(*w);
        }
        break;
    case KeyPress:
        if (w && w->fullScreen) {
            const KeySym sym = XLookupKeysym(const_cast<XKeyEvent*>(&e.xkey), 0);
            const bool alt = (e.xkey.state & Mod1Mask) != 0;
            linuxplat::postInput(ours, alt ? plat::WM_SYSKEYDOWN : plat::WM_KEYDOWN,
                                 static_cast<plat::WParam>(sym & 0xFFFF),
                                 static_cast<plat::LParam>(1 | (e.xkey.keycode << 16)));
        }
        break;
    case ButtonPress:
        if (w && w->fullScreen)
            linuxplat::postInput(ours, buttonMessage(e.xbutton.button), 0,
                                 pointParam(e.xbutton.x, e.xbutton.y));
        break;
    case MotionNotify:
        if (w && w->fullScreen)
            linuxplat::postInput(ours, plat::WM_MOUSEMOVE, 0,
                                 pointParam(e.xmotion.x, e.xmotion.y));
        break;
    case FocusIn:
        if (w && w->fullScreen) w->hadFocus = true;
        break;
    case FocusOut:
        // Another application taking the focus deactivates us; focus moving
        // inside our window or being grabbed by ourselves does not.
        if (w && w->fullScreen && w->hadFocus && e.xfocus.detail != NotifyInferior &&
            e.xfocus.detail != NotifyPointer && e.xfocus.mode != NotifyGrab &&
            e.xfocus.mode != NotifyUngrab)
            linuxplat::postInput(ours, plat::WM_ACTIVATEAPP, 0, 0);
        break;
    case DestroyNotify: {
        const ::Window gone = e.xdestroywindow.window;
        if (watched.count(gone) != 0) reportForeignGone(gone);
        if (SaverX* m = find(gone); m && !m->gone) {
            m->gone = true;
            if (m->foreignParent) {
                // The parent goes next (X destroys from the leaves up); ending
                // now spares the frames drawn into a dead window meanwhile.
                reportForeignGone(m->parentId);
            } else {
                linuxplat::destroyWindow(gone);
            }
        }
        break;
    }
    default:
        break;
    }
}

}  // namespace

bool connect() {
    if (display != nullptr) return true;
    if (triedToConnect) return false;
    triedToConnect = true;
    display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        const char* name = std::getenv("DISPLAY");
        plat::WriteDiagnostic(plat::DiagnosticStream::Error, "rovanta: cannot open display %s\n",
                              name ? name : "(DISPLAY unset)");
        return false;
    }
    XSetErrorHandler(onXError);
    int major = 0;
    int minor = 0;
    Bool pixmaps = False;
    shmUsable = XShmQueryVersion(display, &major, &minor, &pixmaps) == True &&
                std::getenv("ROVANTA_NO_SHM") == nullptr;

    static const char empty[1] = {0};
    const ::Window root = DefaultRootWindow(display);
    const Pixmap bits = XCreateBitmapFromData(display, root, empty, 1, 1);
    XColor black{};
    blankCursor = XCreatePixmapCursor(display, bits, bits, &black, &black, 0, 0);
    XFreePixmap(display, bits);
    return true;
}

bool connected() { return display != nullptr; }
int connectionFd() { return display ? ConnectionNumber(display) : -1; }
void flush() {
    if (display) XFlush(display);
}
std::uint32_t rootWindow() {
    return connect() ? static_cast<std::uint32_t>(DefaultRootWindow(display)) : 0;
}

plat::Window createWindow(const linuxplat::WindowInfo& info) {
    if (!connect() || info.width <= 0 || info.height <= 0) return 0;
    const ::Window root = DefaultRootWindow(display);
    SaverX w;
    w.parent = info.parent;
    w.width = info.width;
    w.height = info.height;
    if (info.parent == 0) {
        w.parentId = root;
    } else if (SaverX* p = find(info.parent)) {
        w.parentId = p->id;
    } else {
        w.parentId = static_cast<::Window>(info.parent);
        w.foreignParent = true;
    }
    XWindowAttributes parentAttributes{};
    if (!succeeds([&] { XGetWindowAttributes(display, w.parentId, &parentAttributes); }))
        return 0;
    w.visual = parentAttributes.visual;
    w.depth = parentAttributes.depth;
    w.format = formatOf(w.visual, w.depth);
    if (!isFrameLayout(w.format) && !canConvert(w.format)) {
        plat::WriteDiagnostic(plat::DiagnosticStream::Error,
                              "rovanta: cannot draw on a visual of depth %d\n", w.depth);
        return 0;
    }
    w.fullScreen = info.parent == 0 && (info.style & plat::WS_POPUP) != 0;

    if (w.foreignParent && w.parentId == root) {
        // A hack with no window of the daemon's: the drawing goes straight
        // onto the root window, under every window, and no input is taken.
        if (onRootHandle != 0) return 0;
        w.onRoot = true;
        w.id = root;
        w.width = parentAttributes.width;
        w.height = parentAttributes.height;
        XSelectInput(display, root, ExposureMask | StructureNotifyMask);
        w.gc = XCreateGC(display, root, 0, nullptr);
        XSetForeground(display, w.gc, BlackPixel(display, DefaultScreen(display)));
        w.mapped = true;
        onRootHandle = kOnRootTag | static_cast<plat::Window>(root);
        windows.emplace(onRootHandle, w);
        XFlush(display);
        return onRootHandle;
    }
    // Full screen: black over the whole screen, the drawing on the primary
    // monitor, which is the size the host asked for.
    int x = info.x;
    int y = info.y;
    unsigned outerWidth = static_cast<unsigned>(info.width);
    unsigned outerHeight = static_cast<unsigned>(info.height);
    if (w.fullScreen) {
        const Area primary = primaryArea();
        w.originX = primary.x;
        w.originY = primary.y;
        x = 0;
        y = 0;
        outerWidth = static_cast<unsigned>(DisplayWidth(display, DefaultScreen(display)));
        outerHeight = static_cast<unsigned>(DisplayHeight(display, DefaultScreen(display)));
    }

    XSetWindowAttributes a{};
    unsigned long mask = CWBackPixel | CWBorderPixel | CWEventMask | CWColormap;
    a.background_pixel = 0;
    a.border_pixel = 0;
    a.colormap = parentAttributes.colormap != None
                     ? parentAttributes.colormap
                     : XCreateColormap(display, root, w.visual, AllocNone);
    a.event_mask = ExposureMask | StructureNotifyMask;
    if (w.fullScreen)
        a.event_mask |= KeyPressMask | ButtonPressMask | PointerMotionMask | FocusChangeMask;
    // Drawn straight on the root window (a hack started without a window):
    // a window manager must not frame or move us.
    if (w.fullScreen || w.parentId == root) {
        mask |= CWOverrideRedirect;
        a.override_redirect = True;
    }
    bool made = succeeds([&] {
        w.id = XCreateWindow(display, w.parentId, x, y, outerWidth, outerHeight, 0, w.depth,
                             InputOutput, w.visual, mask, &a);
    });
    if (!made || w.id == 0) return 0;

    // Name and class are how a second full-screen start finds this one.
    XStoreName(display, w.id, info.title ? info.title : "");
    XClassHint hint{const_cast<char*>("rovanta"),
                    const_cast<char*>(info.className ? info.className : "")};
    XSetClassHint(display, w.id, &hint);
    if (w.foreignParent) {
        XSelectInput(display, w.parentId, StructureNotifyMask);
        watched.emplace(w.parentId, false);
    }
    w.gc = XCreateGC(display, w.id, 0, nullptr);
    w.mapPending = (info.style & plat::WS_VISIBLE) != 0;
    const auto handleValue = static_cast<plat::Window>(w.id);
    windows.emplace(handleValue, w);
    XFlush(display);
    return handleValue;
}

bool ownsWindow(plat::Window window) { return find(window) != nullptr; }

void destroyWindow(plat::Window window) {
    SaverX* w = find(window);
    if (w == nullptr) return;
    if (w->grabbed) {
        XUngrabKeyboard(display, CurrentTime);
        XUngrabPointer(display, CurrentTime);
    }
    releaseFrame(w->frame);
    if (w->gc) XFreeGC(display, w->gc);
    if (w->onRoot) {
        // The root is not ours to destroy: give it its own background back.
        XSelectInput(display, w->id, NoEventMask);
        XClearWindow(display, w->id);
        windows.erase(window);
        onRootHandle = 0;
        XSync(display, False);
        return;
    }
    if (!w->gone) XDestroyWindow(display, w->id);
    const bool foreignParent = w->foreignParent;
    const ::Window parent = w->parentId;
    windows.erase(window);
    if (foreignParent && std::none_of(windows.begin(), windows.end(), [&](const auto& kv) {
            return kv.second.parentId == parent;
        })) {
        auto it = watched.find(parent);
        if (it != watched.end() && !it->second) XSelectInput(display, parent, NoEventMask);
        watched.erase(parent);
    }
    XSync(display, False);
}

void fillClientBlack(plat::Window window) {
    SaverX* w = find(window);
    if (w == nullptr || w->gone) return;
    if (w->onRoot)
        XFillRectangle(display, w->id, w->gc, 0, 0, static_cast<unsigned>(w->width),
                       static_cast<unsigned>(w->height));
    else
        XClearWindow(display, w->id);
}

// Only `rect` goes to the server: the saver sends what changed, and the
// server's copy is most of what a frame costs it.
void present(plat::Window window, const PixelSurface& pixels, const plat::Rect& rect) {
    SaverX* w = find(window);
    if (w == nullptr || w->gone || pixels.pixels == nullptr) return;
    const int left = std::max(rect.left, 0);
    const int top = std::max(rect.top, 0);
    const int right = std::min({rect.right, pixels.width, w->width});
    const int bottom = std::min({rect.bottom, pixels.height, w->height});
    if (right <= left || bottom <= top) return;
    const auto width = static_cast<unsigned>(right - left);
    const auto height = static_cast<unsigned>(bottom - top);

    if (isFrameLayout(w->format)) {
        for (SharedFrameMemory& m : sharedMemory) {
            if (m.shm.shmaddr != reinterpret_cast<char*>(pixels.pixels)) continue;
            if (m.image == nullptr ||
                m.image->width != pixels.width || m.image->height != pixels.height) {
                if (m.image) {
                    m.image->data = nullptr;
                    XDestroyImage(m.image);
                }
                m.image = XShmCreateImage(display, w->visual, static_cast<unsigned>(w->depth),
                                          ZPixmap, m.shm.shmaddr, &m.shm,
                                          static_cast<unsigned>(pixels.width),
                                          static_cast<unsigned>(pixels.height));
            }
            if (m.image == nullptr || m.image->bytes_per_line != pixels.stride * 4 ||
                static_cast<std::size_t>(m.image->bytes_per_line) *
                        static_cast<std::size_t>(pixels.height) > m.bytes)
                break;  // not a layout the server reads as is: copy below
            XShmPutImage(display, w->id, w->gc, m.image, left, top, w->originX + left,
                         w->originY + top, width, height, False);
            // The renderer draws the next frame into this very memory: the
            // server must have read it first.
            XSync(display, False);
            logFrame(monotonicMs());
            return;
        }
    }

    Frame& f = w->frame;
    if (f.image == nullptr && !(shmUsable && makeSharedFrame(*w))) makePlainFrame(*w);
    if (f.image == nullptr) return;

    const bool direct = isFrameLayout(w->format);
    if (f.shared || !direct) {
        for (int y = top; y < bottom; ++y) {
            const std::uint32_t* src =
                pixels.pixels + static_cast<std::int64_t>(y) * pixels.stride + left;
            auto* dst = reinterpret_cast<std::uint8_t*>(f.image->data) +
                        static_cast<std::int64_t>(y) * f.image->bytes_per_line;
            if (direct)
                std::memcpy(dst + static_cast<std::size_t>(left) * 4, src,
                            static_cast<std::size_t>(width) * 4);
            else
                convertRow(src, static_cast<std::int32_t>(width), w->format,
                           dst + static_cast<std::size_t>(left) *
                                     static_cast<std::size_t>(w->format.bitsPerPixel / 8));
        }
    }
    if (f.shared) {
        XShmPutImage(display, w->id, w->gc, f.image, left, top, w->originX + left,
                     w->originY + top, width, height, False);
    } else if (direct) {
        // The frame is already in the server's layout: lend it to the image.
        const int savedStride = f.image->bytes_per_line;
        f.image->data = reinterpret_cast<char*>(pixels.pixels);
        f.image->bytes_per_line = pixels.stride * 4;
        XPutImage(display, w->id, w->gc, f.image, left, top, w->originX + left,
                  w->originY + top, width, height);
        f.image->data = nullptr;
        f.image->bytes_per_line = savedStride;
    } else {
        XPutImage(display, w->id, w->gc, f.image, left, top, w->originX + left,
                  w->originY + top, width, height);
    }
    // The shared image is ours to overwrite only once the server has read it;
    // the round trip is also what keeps a slow server from falling behind.
    XSync(display, False);
    logFrame(monotonicMs());
}

void* allocateFrameMemory(plat::Window window, std::size_t bytes) {
    SaverX* w = find(window);
    if (w == nullptr || !shmUsable || bytes == 0 || !isFrameLayout(w->format)) return nullptr;
    SharedFrameMemory m;
    m.bytes = bytes;
    m.shm.shmid = shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
    if (m.shm.shmid < 0) return nullptr;
    void* address = shmat(m.shm.shmid, nullptr, 0);
    bool ok = address != reinterpret_cast<void*>(-1);
    if (ok) {
        m.shm.shmaddr = static_cast<char*>(address);
        m.shm.readOnly = True;
        ok = succeeds([&] { XShmAttach(display, &m.shm); });
        if (!ok) {
            shmdt(address);
            shmUsable = false;
        }
    }
    shmctl(m.shm.shmid, IPC_RMID, nullptr);
    if (!ok) return nullptr;
    sharedMemory.push_back(m);
    return address;
}

void releaseFrameMemory(void* memory) {
    for (auto it = sharedMemory.begin(); it != sharedMemory.end(); ++it) {
        if (it->shm.shmaddr != memory) continue;
        if (it->image) {
            it->image->data = nullptr;
            XDestroyImage(it->image);
        }
        XShmDetach(display, &it->shm);
        XSync(display, False);
        shmdt(it->shm.shmaddr);
        sharedMemory.erase(it);
        return;
    }
}

bool foreignWindow(plat::Window window, plat::Rect* client) {
    if (window == 0 || window > 0xFFFFFFFFu || !connect()) return false;
    XWindowAttributes a{};
    if (!succeeds([&] { XGetWindowAttributes(display, static_cast<::Window>(window), &a); }))
        return false;
    if (client) *client = plat::Rect{0, 0, a.width, a.height};
    return true;
}

plat::Window findForeignWindow(const char* className, const char* title) {
    if (!connect()) return 0;
    const auto matches = [&](::Window id) {
        bool found = false;
        XClassHint hint{};
        if (XGetClassHint(display, id, &hint)) {
            found = className == nullptr ||
                    (hint.res_class && std::strcmp(hint.res_class, className) == 0);
            if (hint.res_name) XFree(hint.res_name);
            if (hint.res_class) XFree(hint.res_class);
        } else if (className != nullptr) {
            return false;
        }
        if (found && title != nullptr) {
            char* name = nullptr;
            found = XFetchName(display, id, &name) && name && std::strcmp(name, title) == 0;
            if (name) XFree(name);
        }
        return found;
    };
    // Top-level windows are the root's children, or, under a window manager
    // that frames them, the children of those frames.
    const auto children = [&](::Window parent) {
        std::vector<::Window> out;
        ::Window rootReturn = 0;
        ::Window parentReturn = 0;
        ::Window* list = nullptr;
        unsigned count = 0;
        if (XQueryTree(display, parent, &rootReturn, &parentReturn, &list, &count) && list) {
            out.assign(list, list + count);
            XFree(list);
        }
        return out;
    };
    for (::Window top : children(DefaultRootWindow(display))) {
        if (matches(top)) return top;
        for (::Window inner : children(top))
            if (matches(inner)) return inner;
    }
    XSync(display, False);
    return 0;
}

bool setForeground(plat::Window window) {
    if (!connect()) return false;
    if (SaverX* w = find(window)) {
        if (w->gone || w->onRoot) return false;
        XRaiseWindow(display, w->id);
        if (w->mapped && w->fullScreen) XSetInputFocus(display, w->id, RevertToParent, CurrentTime);
        XFlush(display);
        return true;
    }
    return succeeds([&] { XRaiseWindow(display, static_cast<::Window>(window)); });
}

plat::Window getForeground() {
    if (!connect()) return 0;
    const ::Window root = DefaultRootWindow(display);
    const Atom active = XInternAtom(display, "_NET_ACTIVE_WINDOW", True);
    if (active != None) {
        Atom type = None;
        int format = 0;
        unsigned long count = 0;
        unsigned long after = 0;
        unsigned char* data = nullptr;
        if (XGetWindowProperty(display, root, active, 0, 1, False, XA_WINDOW, &type, &format,
                               &count, &after, &data) == Success &&
            data) {
            ::Window id = count == 1 && format == 32 ? *reinterpret_cast<::Window*>(data) : 0;
            XFree(data);
            // A window manager may leave the property naming a window that has
            // since closed (openbox does after a dialog's Cancel): a window
            // that cannot be asked about owns nothing.
            if (id != 0) {
                XWindowAttributes a{};
                return succeeds([&] { XGetWindowAttributes(display, id, &a); }) ? id : 0;
            }
        }
    }
    ::Window focus = 0;
    int revert = 0;
    XGetInputFocus(display, &focus, &revert);
    return focus > PointerRoot ? focus : 0;
}

void hideCursor() {
    if (!display) return;
    for (auto& [handle, w] : windows)
        if (w.fullScreen && !w.gone) XDefineCursor(display, w.id, blankCursor);
}

bool cursorPos(plat::Point* point) {
    if (!connect()) return false;
    ::Window rootReturn = 0;
    ::Window child = 0;
    int rootX = 0;
    int rootY = 0;
    int x = 0;
    int y = 0;
    unsigned mask = 0;
    if (!XQueryPointer(display, DefaultRootWindow(display), &rootReturn, &child, &rootX, &rootY,
                       &x, &y, &mask))
        return false;
    *point = plat::Point{rootX, rootY};
    return true;
}

void screenSize(std::int32_t* width, std::int32_t* height) {
    if (!connect()) {
        *width = 0;
        *height = 0;
        return;
    }
    // The size Windows reports as the screen's is the primary monitor's.
    const Area primary = primaryArea();
    *width = primary.width;
    *height = primary.height;
}

bool screenOrigin(plat::Window window, std::int32_t* x, std::int32_t* y) {
    if (!connect() || window == 0) return false;
    ::Window child = 0;
    int rx = 0;
    int ry = 0;
    bool ok = succeeds([&] {
        XTranslateCoordinates(display, static_cast<::Window>(window), DefaultRootWindow(display),
                              0, 0, &rx, &ry, &child);
    });
    if (!ok) return false;
    *x = rx;
    *y = ry;
    return true;
}

void pollEvents(bool modalUp) {
    if (display == nullptr) return;
    for (auto& [handle, w] : windows) {
        if (w.mapPending && !(modalUp && w.fullScreen)) mapNow(w);
        if (w.fullScreen && w.mapped && !w.grabbed) tryGrab(w);
    }
    while (XPending(display) > 0) {
        XEvent e;
        XNextEvent(display, &e);
        handle(e);
    }
    // A window that was gone before we could watch it shows up only as an
    // error on a request for it.
    if (!errors.empty()) {
        std::vector<std::pair<XID, int>> seen;
        seen.swap(errors);
        for (auto [id, code] : seen)
            if ((code == BadWindow || code == BadDrawable) && watched.count(id) != 0)
                reportForeignGone(id);
    }
}

std::size_t outerWindows(plat::Window* out, std::size_t capacity) {
    std::size_t n = 0;
    for (auto& [handle, w] : windows) {
        if (w.parent != 0 && !w.foreignParent) continue;
        if (n < capacity) out[n] = handle;
        ++n;
    }
    return n;
}

}  // namespace desktop::x11
