// The configuration dialog, message boxes and the file chooser in GTK 3.
//
// A dialog is built from the template table the program registered and is
// only a view: the core keeps the item texts and runs the dialog procedure.
// What the user does is queued here by GTK's handlers and handed to the core
// from pollEvents, so the dialog procedure never runs inside a GTK signal
// emission.
#include <gdk/gdkkeysyms.h>
#include <gdk/gdkx.h>
#include <gtk/gtk.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "platform/desktop/desktop_internal.h"
#include "platform/desktop/dialog_layout.h"
#include "platform/dialog_resource.h"
#include "platform/core/linux_platform.h"

namespace desktop::gtkui {

namespace {

struct DialogUi {
    GtkWidget* window = nullptr;
    std::map<int, GtkWidget*> items;  // by control id
    bool quiet = false;               // setting a text ourselves is no user edit
};

struct Pending {
    bool isCommand;
    plat::Window dialog;
    int id;
    std::string text;
};

bool tried = false;
bool ready = false;
std::map<plat::Window, DialogUi> dialogs;
std::vector<Pending> pending;
int modalDepth = 0;
// Once a termination signal came no box opens any more; endBoxes answers
// the open ones.
bool ending() { return linuxplat::terminationSignal() != 0; }

constexpr const char* kCss =
    ".rovanta-dialog, .rovanta-dialog * { font-family: Sans; font-size: 8pt; }\n"
    ".rovanta-dialog button { padding: 0px 4px; min-height: 0px; min-width: 0px; }\n"
    ".rovanta-dialog entry { padding: 0px 3px; min-height: 0px; }\n"
    ".rovanta-dialog frame > border { border-radius: 0px; }\n";

DialogUi* dialogOf(plat::Window window) {
    auto it = dialogs.find(window);
    return it == dialogs.end() ? nullptr : &it->second;
}

plat::Window handleOf(GtkWidget* window) {
    GdkWindow* gdk = gtk_widget_get_window(window);
    return gdk ? static_cast<plat::Window>(gdk_x11_window_get_xid(gdk)) : 0;
}

// Side texts are bytes named in whatever encoding their files were named in;
// GTK shows UTF-8 only. A byte that is not part of valid UTF-8 is shown as
// "\xHH", and a backslash that would read as such an escape as "\x5C", so
// storedText(shownText(t)) gives t back for every t: a box the user did not
// change, or changed and changed back, returns its bytes exactly, and such
// bytes can be read, kept and typed.
bool readEscape(const char* p, unsigned* value) {
    if (p[0] != '\\' || p[1] != 'x' || !g_ascii_isxdigit(p[2]) || !g_ascii_isxdigit(p[3]))
        return false;
    const unsigned v = static_cast<unsigned>(g_ascii_xdigit_value(p[2]) * 16 +
                                             g_ascii_xdigit_value(p[3]));
    if (v < 0x80 && v != '\\') return false;
    *value = v;
    return true;
}

std::string shownText(const char* text) {
    if (text == nullptr) return {};
    std::string out;
    const char* p = text;
    const char* const stop = text + std::strlen(text);
    while (p < stop) {
        const gchar* validEnd = p;
        g_utf8_validate(p, stop - p, &validEnd);
        for (unsigned ignored = 0; p < validEnd; ++p) {
            if (readEscape(p, &ignored))
                out += "\\x5C";
            else
                out += *p;
        }
        if (p < stop) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02X", static_cast<unsigned char>(*p));
            out += escape;
            ++p;
        }
    }
    return out;
}

std::string storedText(const char* shown) {
    std::string out;
    for (const char* p = shown; *p != '\0';) {
        unsigned value = 0;
        if (readEscape(p, &value)) {
            out += static_cast<char>(value);
            p += 4;
        } else {
            out += *p++;
        }
    }
    return out;
}

void queueCommand(plat::Window dialog, int id) { pending.push_back({true, dialog, id, {}}); }

struct ControlRef {
    plat::Window dialog;
    int id;
};

void onClicked(GtkButton*, gpointer data) {
    auto* ref = static_cast<ControlRef*>(data);
    queueCommand(ref->dialog, ref->id);
}

void onChanged(GtkEditable* editable, gpointer data) {
    auto* ref = static_cast<ControlRef*>(data);
    DialogUi* ui = dialogOf(ref->dialog);
    if (ui == nullptr || ui->quiet) return;
    pending.push_back(
        {false, ref->dialog, ref->id, storedText(gtk_entry_get_text(GTK_ENTRY(editable)))});
}

gboolean onDelete(GtkWidget*, GdkEvent*, gpointer data) {
    // The close box is Cancel; the dialog procedure decides what ends it.
    queueCommand(static_cast<plat::Window>(reinterpret_cast<std::uintptr_t>(data)), plat::IDCANCEL);
    return TRUE;
}

gboolean onKey(GtkWidget*, GdkEventKey* event, gpointer data) {
    if (event->keyval != GDK_KEY_Escape) return FALSE;
    queueCommand(static_cast<plat::Window>(reinterpret_cast<std::uintptr_t>(data)), plat::IDCANCEL);
    return TRUE;
}

void freeRef(gpointer data, GClosure*) { delete static_cast<ControlRef*>(data); }

DialogFontMetrics fontMetrics(GtkWidget* widget, const DialogTemplate& t) {
    PangoContext* context = gtk_widget_get_pango_context(widget);
    const std::string fontName =
        std::string(desktopFontFamily(t.fontName)) + " " + std::to_string(t.fontPoints);
    PangoFontDescription* font = pango_font_description_from_string(fontName.c_str());
    PangoLayout* layout = pango_layout_new(context);
    pango_layout_set_font_description(layout, font);
    pango_layout_set_text(layout, "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz", -1);
    int width = 0;
    int height = 0;
    pango_layout_get_pixel_size(layout, &width, &height);
    PangoFontMetrics* metrics = pango_context_get_metrics(context, font, nullptr);
    const int lineHeight = PANGO_PIXELS(pango_font_metrics_get_ascent(metrics) +
                                        pango_font_metrics_get_descent(metrics));
    pango_font_metrics_unref(metrics);
    g_object_unref(layout);
    pango_font_description_free(font);
    return {std::max(1, averageCharWidthFromAlphabet(width)), std::max(1, lineHeight)};
}

GtkWidget* makeControl(const DialogControl& c) {
    switch (c.kind) {
    case ControlKind::DefaultPushButton:
    case ControlKind::PushButton:
        return gtk_button_new_with_label(c.caption);
    case ControlKind::Edit: {
        GtkWidget* entry = gtk_entry_new();
        gtk_entry_set_width_chars(GTK_ENTRY(entry), 1);
        gtk_entry_set_activates_default(GTK_ENTRY(entry), TRUE);
        return entry;
    }
    case ControlKind::Label: {
        GtkWidget* label = gtk_label_new(c.caption);
        gtk_label_set_xalign(GTK_LABEL(label), 0.0f);
        gtk_label_set_yalign(GTK_LABEL(label), 0.0f);
        // A caption longer than its box is cut at the box, as a static is.
        gtk_label_set_ellipsize(GTK_LABEL(label), PANGO_ELLIPSIZE_NONE);
        gtk_widget_set_can_focus(label, FALSE);
        return label;
    }
    case ControlKind::GroupBox: {
        GtkWidget* frame = gtk_frame_new(c.caption);
        gtk_widget_set_can_focus(frame, FALSE);
        return frame;
    }
    }
    return nullptr;
}

struct BoxWait {
    int response;
};

// The boxes waiting for an answer, innermost last.
std::vector<BoxWait*> waits;

// The core's modal loop looks at its predicate only after a message; an
// answer that comes with none needs one to be seen.
bool answerArrived = false;

void answer(BoxWait* wait, int response) {
    if (wait->response == 0) wait->response = response;
    answerArrived = true;
}

void onBoxResponse(GtkDialog*, gint response, gpointer data) {
    answer(static_cast<BoxWait*>(data), response);
}

// Should anything else destroy it, that too is a close.
void onBoxDestroy(GtkWidget*, gpointer data) {
    answer(static_cast<BoxWait*>(data), GTK_RESPONSE_DELETE_EVENT);
}

bool boxAnswered(void* context) { return static_cast<BoxWait*>(context)->response != 0; }

// A box is made by newBox and ends with endBox: the reference held between
// them keeps it valid whatever happens to it meanwhile, and GTK's own
// handling of Escape and the close box, which would destroy it, is refused
// for its whole life (its "response" still tells runModal, if one runs).
GtkWidget* newBox(GtkWidget* box) {
    g_signal_connect(box, "delete-event", G_CALLBACK(gtk_true), nullptr);
    return GTK_WIDGET(g_object_ref(box));
}

void endBox(GtkWidget* box) {
    gtk_widget_destroy(box);
    g_object_unref(box);
}

// Runs a GTK dialog modally while the core goes on dispatching. The answer:
// a response id, GTK_RESPONSE_DELETE_EVENT for Escape, the close box and a
// program being ended, or 0 when the loop ended without one (the quit request
// came).
int runModal(GtkWidget* dialog) {
    if (ending()) return GTK_RESPONSE_DELETE_EVENT;
    BoxWait wait{0};
    g_signal_connect(dialog, "response", G_CALLBACK(onBoxResponse), &wait);
    g_signal_connect(dialog, "destroy", G_CALLBACK(onBoxDestroy), &wait);
    gtk_widget_show_all(dialog);
    gtk_window_present(GTK_WINDOW(dialog));
    waits.push_back(&wait);
    ++modalDepth;
    linuxplat::runModalLoop(boxAnswered, &wait);
    --modalDepth;
    waits.pop_back();
    g_signal_handlers_disconnect_by_data(dialog, &wait);
    return wait.response;
}

GtkWindow* gtkParentOf(plat::Window owner) {
    if (DialogUi* ui = dialogOf(owner)) return GTK_WINDOW(ui->window);
    return nullptr;
}

// The first button is the default one, as Enter picks it in a box.
void addButtons(GtkWidget* dialog, std::uint32_t type) {
    bool first = true;
    const auto add = [&](const char* label, int id) {
        GtkWidget* button = gtk_dialog_add_button(GTK_DIALOG(dialog), label, id);
        if (first) {
            gtk_widget_set_can_default(button, TRUE);
            gtk_widget_grab_default(button);
            gtk_widget_grab_focus(button);
            first = false;
        }
    };
    switch (type & 0xFu) {
    case 1: add("OK", plat::IDOK); add("Cancel", plat::IDCANCEL); break;
    case 3: add("Yes", 6); add("No", 7); add("Cancel", plat::IDCANCEL); break;
    case 4: add("Yes", 6); add("No", 7); break;
    case 5: add("Retry", 4); add("Cancel", plat::IDCANCEL); break;
    default: add("OK", plat::IDOK); break;
    }
}

const char* iconNameOf(std::uint32_t type) {
    switch (type & 0xF0u) {
    case 0x10: return "dialog-error";
    case 0x20: return "dialog-question";
    case 0x30: return "dialog-warning";
    case 0x40: return "dialog-information";
    default: return nullptr;
    }
}

GtkMessageType messageTypeOf(std::uint32_t type) {
    switch (type & 0xF0u) {
    case 0x10: return GTK_MESSAGE_ERROR;
    case 0x20: return GTK_MESSAGE_QUESTION;
    case 0x30: return GTK_MESSAGE_WARNING;
    case 0x40: return GTK_MESSAGE_INFO;
    default: return GTK_MESSAGE_OTHER;
    }
}

// "*.jpg" lists "x.JPG" too: the names come from a system that ignores case.
std::string caseFreePattern(const std::string& pattern) {
    std::string out;
    for (char c : pattern) {
        if (g_ascii_isalpha(c)) {
            out += '[';
            out += g_ascii_tolower(c);
            out += g_ascii_toupper(c);
            out += ']';
        } else {
            out += c;
        }
    }
    return out;
}

void addFilters(GtkFileChooser* chooser, const char* filter) {
    if (filter == nullptr) return;
    for (const char* p = filter; *p != '\0';) {
        const std::string description = p;
        p += description.size() + 1;
        if (*p == '\0') break;
        const std::string patterns = p;
        p += patterns.size() + 1;
        GtkFileFilter* f = gtk_file_filter_new();
        gtk_file_filter_set_name(f, description.c_str());
        std::size_t start = 0;
        while (start <= patterns.size()) {
            std::size_t end = patterns.find(';', start);
            if (end == std::string::npos) end = patterns.size();
            const std::string one = patterns.substr(start, end - start);
            if (!one.empty()) gtk_file_filter_add_pattern(f, caseFreePattern(one).c_str());
            start = end + 1;
        }
        gtk_file_chooser_add_filter(chooser, f);
    }
}

std::string withDefaultExtension(const std::string& path, const char* extension) {
    const std::size_t slash = path.find_last_of('/');
    const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    if (extension == nullptr || extension[0] == '\0' ||
        path.find('.', nameStart) != std::string::npos)
        return path;
    return path + "." + extension;
}

bool askToCreate(GtkWidget* parent, const std::string& path) {
    GtkWidget* box = newBox(gtk_message_dialog_new(
        GTK_WINDOW(parent), GTK_DIALOG_MODAL, GTK_MESSAGE_QUESTION, GTK_BUTTONS_YES_NO,
        "%s\nThis file does not exist.\nCreate the file?", shownText(path.c_str()).c_str()));
    gtk_window_set_title(GTK_WINDOW(box), "Open");
    gtk_dialog_set_default_response(GTK_DIALOG(box), GTK_RESPONSE_YES);
    if (GtkWidget* yes = gtk_dialog_get_widget_for_response(GTK_DIALOG(box), GTK_RESPONSE_YES))
        gtk_widget_grab_focus(yes);
    const int reply = runModal(box);
    endBox(box);
    return reply == GTK_RESPONSE_YES;
}

}  // namespace

bool available() {
    if (!tried) {
        tried = true;
        // Dialog handles are X window ids, whatever session GTK would prefer.
        gdk_set_allowed_backends("x11");
        ready = gtk_init_check(nullptr, nullptr) == TRUE;
        if (ready) {
            GtkCssProvider* css = gtk_css_provider_new();
            gtk_css_provider_load_from_data(css, kCss, -1, nullptr);
            gtk_style_context_add_provider_for_screen(gdk_screen_get_default(),
                                                      GTK_STYLE_PROVIDER(css),
                                                      GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
            g_object_unref(css);
        }
    }
    return ready;
}

bool active() { return ready; }
bool modalUp() { return modalDepth > 0; }

plat::Window createDialog(const linuxplat::WindowInfo& info) {
    const DialogTemplate* registered = linuxplat::findDialogTemplate(info.dialogTemplate);
    if (!registered || !available()) return 0;
    const DialogTemplate& t = *registered;

    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_title(GTK_WINDOW(window), t.caption);
    gtk_window_set_resizable(GTK_WINDOW(window), FALSE);
    gtk_window_set_type_hint(GTK_WINDOW(window), GDK_WINDOW_TYPE_HINT_DIALOG);
    gtk_window_set_modal(GTK_WINDOW(window), TRUE);
    gtk_style_context_add_class(gtk_widget_get_style_context(window), "rovanta-dialog");
    gtk_widget_realize(window);
    const plat::Window handle = handleOf(window);
    if (handle == 0) {
        gtk_widget_destroy(window);
        return 0;
    }
    DialogUi& ui = dialogs[handle];
    ui.window = window;

    const DialogFontMetrics font = fontMetrics(window, t);
    GtkWidget* fixed = gtk_fixed_new();
    const PixelBox whole = dialogUnitsToPixels(font, 0, 0, t.width, t.height);
    gtk_widget_set_size_request(fixed, whole.width, whole.height);
    gtk_container_add(GTK_CONTAINER(window), fixed);

    std::vector<GtkWidget*> widgets;
    GtkWidget* defaultButton = nullptr;
    for (const DialogControl& c : t.controls) {
        GtkWidget* widget = makeControl(c);
        const PixelBox box = dialogUnitsToPixels(font, c.x, c.y, c.width, c.height);
        gtk_widget_set_size_request(widget, box.width, box.height);
        gtk_fixed_put(GTK_FIXED(fixed), widget, box.x, box.y);
        widgets.push_back(widget);
        if (c.id != -1) ui.items[c.id] = widget;
        auto* ref = new ControlRef{handle, c.id};
        if (c.kind == ControlKind::Edit) {
            g_signal_connect_data(widget, "changed", G_CALLBACK(onChanged), ref, freeRef,
                                  GConnectFlags(0));
        } else if (c.kind == ControlKind::PushButton || c.kind == ControlKind::DefaultPushButton) {
            g_signal_connect_data(widget, "clicked", G_CALLBACK(onClicked), ref, freeRef,
                                  GConnectFlags(0));
        } else {
            delete ref;
        }
        if (c.kind == ControlKind::DefaultPushButton) {
            gtk_widget_set_can_default(widget, TRUE);
            defaultButton = widget;
        }
    }
    if (defaultButton) gtk_window_set_default(GTK_WINDOW(window), defaultButton);

    GList* chain = nullptr;
    for (std::size_t i : tabOrder(t)) chain = g_list_append(chain, widgets[i]);
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    gtk_container_set_focus_chain(GTK_CONTAINER(fixed), chain);
    G_GNUC_END_IGNORE_DEPRECATIONS
    g_list_free(chain);
    for (std::size_t i = 0; i < t.controls.size(); ++i)
        if ((t.controls[i].style & kStyleTabStop) == 0) gtk_widget_set_can_focus(widgets[i], FALSE);

    const gpointer key = reinterpret_cast<gpointer>(static_cast<std::uintptr_t>(handle));
    g_signal_connect(window, "delete-event", G_CALLBACK(onDelete), key);
    g_signal_connect(window, "key-press-event", G_CALLBACK(onKey), key);

    // At the top-left of the owner's client area, or of the screen; the
    // window manager may still place it elsewhere.
    std::int32_t x = 0;
    std::int32_t y = 0;
    if (info.parent != 0 && !x11::screenOrigin(info.parent, &x, &y)) x = y = 0;
    gtk_window_move(GTK_WINDOW(window), x + info.x, y + info.y);
    return handle;
}

bool ownsDialog(plat::Window window) { return dialogOf(window) != nullptr; }

void destroyDialog(plat::Window window) {
    DialogUi* ui = dialogOf(window);
    if (ui == nullptr) return;
    GtkWidget* widget = ui->window;
    dialogs.erase(window);
    gtk_widget_destroy(widget);
}

bool showDialog(plat::Window dialog, int) {
    DialogUi* ui = dialogOf(dialog);
    if (ui == nullptr) return false;
    gtk_widget_show_all(ui->window);
    gtk_window_present(GTK_WINDOW(ui->window));
    if (auto it = ui->items.find(plat::IDOK); it != ui->items.end())
        gtk_widget_grab_focus(it->second);
    return true;
}

void hideDialog(plat::Window dialog) {
    if (DialogUi* ui = dialogOf(dialog)) gtk_widget_hide(ui->window);
}

void dialogItemChanged(plat::Window dialog, int itemId, const char* text) {
    DialogUi* ui = dialogOf(dialog);
    if (ui == nullptr) return;
    auto it = ui->items.find(itemId);
    if (it == ui->items.end()) return;
    GtkWidget* w = it->second;
    ui->quiet = true;
    const std::string shown = shownText(text);
    if (GTK_IS_ENTRY(w))
        gtk_entry_set_text(GTK_ENTRY(w), shown.c_str());
    else if (GTK_IS_BUTTON(w))
        gtk_button_set_label(GTK_BUTTON(w), shown.c_str());
    else if (GTK_IS_LABEL(w))
        gtk_label_set_text(GTK_LABEL(w), shown.c_str());
    else if (GTK_IS_FRAME(w))
        gtk_frame_set_label(GTK_FRAME(w), shown.c_str());
    ui->quiet = false;
}

int messageBox(plat::Window owner, const char* text, const char* caption, std::uint32_t type) {
    text = text ? text : "";
    caption = caption ? caption : "";
    logBox(caption, text);
    const int unseen = (type & 0xFu) == 4 || (type & 0xFu) == 3 ? 6 : plat::IDOK;
    // Started by the daemon nobody can see a box: its log gets the text, and
    // we go on as if it had been dismissed.
    if (hackMode || !available()) {
        plat::WriteDiagnostic(plat::DiagnosticStream::Error, "rovanta: %s: %s\n", caption, text);
        return unseen;
    }
    // Ending the program answers as the close box would, unseen.
    if (ending()) return (type & 0xFu) == 0 ? plat::IDOK : plat::IDCANCEL;
    GtkWidget* box =
        newBox(gtk_message_dialog_new(gtkParentOf(owner), GTK_DIALOG_MODAL, messageTypeOf(type),
                                      GTK_BUTTONS_NONE, "%s", shownText(text).c_str()));
    gtk_window_set_title(GTK_WINDOW(box), shownText(caption).c_str());
    gtk_window_set_keep_above(GTK_WINDOW(box), TRUE);
    // GTK 3.24 draws no icon for a message type; the box shows it as the
    // platform's boxes do.
    if (const char* icon = iconNameOf(type)) {
        G_GNUC_BEGIN_IGNORE_DEPRECATIONS
        gtk_message_dialog_set_image(GTK_MESSAGE_DIALOG(box),
                                     gtk_image_new_from_icon_name(icon, GTK_ICON_SIZE_DIALOG));
        G_GNUC_END_IGNORE_DEPRECATIONS
    }
    addButtons(box, type);
    int reply = runModal(box);
    endBox(box);
    if (reply == GTK_RESPONSE_DELETE_EVENT || reply <= 0)
        reply = (type & 0xFu) == 0 ? plat::IDOK : plat::IDCANCEL;
    return reply;
}

bool chooseOpenFile(const plat::OpenFileName& ofn, std::string* path) {
    if (hackMode || ending() || !available()) return false;
    // The save action is the one that proposes a name and takes a name of a
    // file that does not exist yet; the buttons say what this is.
    GtkWidget* chooser = newBox(gtk_file_chooser_dialog_new(
        shownText(ofn.title ? ofn.title : "Open").c_str(), gtkParentOf(ofn.owner),
        GTK_FILE_CHOOSER_ACTION_SAVE, "_Cancel", GTK_RESPONSE_CANCEL, "_Open",
        GTK_RESPONSE_ACCEPT, nullptr));
    GtkFileChooser* fc = GTK_FILE_CHOOSER(chooser);
    // Modal as the platform's own: the dialog behind takes no input meanwhile.
    gtk_window_set_modal(GTK_WINDOW(chooser), TRUE);
    gtk_window_set_default_size(GTK_WINDOW(chooser), 720, 480);
    gtk_file_chooser_set_do_overwrite_confirmation(fc, FALSE);
    gtk_file_chooser_set_local_only(fc, TRUE);
    addFilters(fc, ofn.filter);
    if (ofn.initialDir && ofn.initialDir[0]) gtk_file_chooser_set_current_folder(fc, ofn.initialDir);
    const std::string proposed = ofn.file ? ofn.file : "";
    if (!proposed.empty() && !g_utf8_validate(proposed.c_str(), -1, nullptr)) {
        // The name box takes UTF-8 only; a file of another name is proposed
        // by selecting it, which keeps its bytes.
        gtk_file_chooser_set_filename(fc, proposed.c_str());
    } else if (!proposed.empty()) {
        const std::size_t slash = proposed.find_last_of('/');
        if (slash != std::string::npos) {
            const std::string folder = slash == 0 ? "/" : proposed.substr(0, slash);
            gtk_file_chooser_set_current_folder(fc, folder.c_str());
            gtk_file_chooser_set_current_name(fc, proposed.c_str() + slash + 1);
        } else {
            gtk_file_chooser_set_current_name(fc, proposed.c_str());
        }
    }
    bool chosen = false;
    for (;;) {
        if (runModal(chooser) != GTK_RESPONSE_ACCEPT) break;
        gchar* name = gtk_file_chooser_get_filename(fc);
        if (name == nullptr) break;
        std::string picked = name;
        g_free(name);
        struct stat st {};
        const std::string full = withDefaultExtension(picked, ofn.defaultExtension);
        const bool exists = stat(full.c_str(), &st) == 0;
        if (exists || (ofn.flags & plat::OFN_CREATEPROMPT) == 0 || askToCreate(chooser, full)) {
            *path = picked;
            chosen = true;
            break;
        }
    }
    endBox(chooser);
    return chosen;
}

void runPending() {
    if (answerArrived) {
        answerArrived = false;
        plat::PostMessageA(0, 0, 0, 0);  // WM_NULL for the thread: dispatched to nobody
    }
    while (!pending.empty()) {
        std::vector<Pending> now;
        now.swap(pending);
        for (const Pending& p : now) {
            // The dialog may have ended on an earlier entry of the same batch.
            if (dialogOf(p.dialog) == nullptr || linuxplat::dialogEnded(p.dialog)) continue;
            if (p.isCommand)
                linuxplat::postInput(p.dialog, plat::WM_COMMAND, static_cast<plat::WParam>(p.id),
                                     0);
            else
                linuxplat::setDialogItemTextFromUser(p.dialog, p.id, p.text.c_str());
        }
    }
}

void endBoxes() {
    for (BoxWait* wait : waits) answer(wait, GTK_RESPONSE_DELETE_EVENT);
}

std::size_t cancelDialogs() {
    for (auto& [handle, ui] : dialogs) queueCommand(handle, plat::IDCANCEL);
    return dialogs.size();
}

}  // namespace desktop::gtkui
