#include "gtk_scan_code_entry.h"

#include "trace.h"
#include "winuser.h"
#include "x11_keys.h"

#include <gdk/gdkkeysyms.h>

#include <optional>
#include <string>
#include <vector>

namespace qvpwdctl {

const char GtkScanCodeEntry::kCut[] = "cut-clipboard";
const char GtkScanCodeEntry::kCopy[] = "copy-clipboard";
const char GtkScanCodeEntry::kPaste[] = "paste-clipboard";

namespace {

unsigned VirtualKeyOf(guint keyval) {
    switch (keyval) {
    case GDK_KEY_BackSpace: return VK_BACK;
    case GDK_KEY_End:
    case GDK_KEY_KP_End: return VK_END;
    case GDK_KEY_Home:
    case GDK_KEY_KP_Home: return VK_HOME;
    case GDK_KEY_Left:
    case GDK_KEY_KP_Left: return VK_LEFT;
    case GDK_KEY_Up:
    case GDK_KEY_KP_Up: return VK_UP;
    case GDK_KEY_Right:
    case GDK_KEY_KP_Right: return VK_RIGHT;
    case GDK_KEY_Down:
    case GDK_KEY_KP_Down: return VK_DOWN;
    case GDK_KEY_Delete:
    case GDK_KEY_KP_Delete: return VK_DELETE;
    case GDK_KEY_Insert:
    case GDK_KEY_KP_Insert: return VK_INSERT;
    default: return 0;
    }
}

// The character a key types, as the message loop of a window system makes it (Ctrl with a letter gives a
// control character); none for keys that type nothing.
std::optional<wchar_t> CharacterOf(const GdkEventKey& event) {
    bool ctrl = (event.state & GDK_CONTROL_MASK) != 0;
    if (event.keyval == GDK_KEY_BackSpace) return ctrl ? L'\x7F' : L'\b';
    // Delete types no character (X gives it DEL).
    if (event.keyval == GDK_KEY_Delete || event.keyval == GDK_KEY_KP_Delete) return std::nullopt;
    gunichar u = gdk_keyval_to_unicode(event.keyval);
    if (u == 0 || u == 0x7F) return std::nullopt;
    if (!ctrl) return static_cast<wchar_t>(u);
    if (u >= 'a' && u <= 'z') return static_cast<wchar_t>(u - 'a' + 1);
    if (u >= 'A' && u <= 'Z') return static_cast<wchar_t>(u - 'A' + 1);
    switch (u) {
    case '@': return L'\0';
    case '[': return L'\x1B';
    case '\\': return L'\x1C';
    case ']': return L'\x1D';
    case '^': return L'\x1E';
    case '_': return L'\x1F';
    case ' ': return L' ';
    default: return std::nullopt;
    }
}

bool IsDialogKey(const GdkEventKey& event) {
    switch (event.keyval) {
    case GDK_KEY_Tab:
    case GDK_KEY_ISO_Left_Tab:
    case GDK_KEY_KP_Tab:
    case GDK_KEY_Escape:
    case GDK_KEY_Return:
    case GDK_KEY_KP_Enter:
    case GDK_KEY_ISO_Enter: return (event.state & GDK_CONTROL_MASK) == 0;
    default: return false;
    }
}

bool IsAlt(guint keyval) {
    return keyval == GDK_KEY_Alt_L || keyval == GDK_KEY_Alt_R || keyval == GDK_KEY_Meta_L || keyval == GDK_KEY_Meta_R;
}

}  // namespace

GtkScanCodeEntry::GtkScanCodeEntry(GtkWidget* entry, ScanCodeEdit& edit, std::function<void()> changed)
    : entry_(entry), edit_(edit), changed_(std::move(changed)) {
    gtk_entry_set_visibility(GTK_ENTRY(entry), FALSE);
    gtk_entry_set_invisible_char(GTK_ENTRY(entry), '*');
    gtk_entry_set_max_length(GTK_ENTRY(entry), ScanCodeEdit::kCapacity);
    handlers_ = {
        g_signal_connect(entry, "key-press-event", G_CALLBACK(OnKeyPress), this),
        g_signal_connect(entry, "key-release-event", G_CALLBACK(OnKeyRelease), this),
        g_signal_connect(entry, "insert-text", G_CALLBACK(OnInsertText), this),
        g_signal_connect(entry, "delete-text", G_CALLBACK(OnDeleteText), this),
        g_signal_connect(entry, kCut, G_CALLBACK(OnClipboardRequest<kCut>), this),
        g_signal_connect(entry, kCopy, G_CALLBACK(OnClipboardRequest<kCopy>), this),
        g_signal_connect(entry, kPaste, G_CALLBACK(OnClipboardRequest<kPaste>), this),
        g_signal_connect(entry, "draw", G_CALLBACK(OnDraw), this),
    };
}

GtkScanCodeEntry::~GtkScanCodeEntry() {
    for (gulong id : handlers_)
        if (g_signal_handler_is_connected(entry_, id)) g_signal_handler_disconnect(entry_, id);
}

gboolean GtkScanCodeEntry::OnKeyPress(GtkWidget*, GdkEventKey* event, gpointer self) {
    return static_cast<GtkScanCodeEntry*>(self)->KeyPress(*event);
}
gboolean GtkScanCodeEntry::OnKeyRelease(GtkWidget*, GdkEventKey* event, gpointer self) {
    return static_cast<GtkScanCodeEntry*>(self)->KeyRelease(*event);
}

void GtkScanCodeEntry::OnInsertText(GtkEditable* editable, gchar*, gint, gint*, gpointer self) {
    if (!static_cast<GtkScanCodeEntry*>(self)->drawing_text_) g_signal_stop_emission_by_name(editable, "insert-text");
}
void GtkScanCodeEntry::OnDeleteText(GtkEditable* editable, gint, gint, gpointer self) {
    if (!static_cast<GtkScanCodeEntry*>(self)->drawing_text_) g_signal_stop_emission_by_name(editable, "delete-text");
}
template <const char* kSignal>
void GtkScanCodeEntry::OnClipboardRequest(GtkEntry* entry, gpointer self) {
    if (!static_cast<GtkScanCodeEntry*>(self)->edit_.OnClipboardRequest())
        g_signal_stop_emission_by_name(entry, kSignal);
}

gboolean GtkScanCodeEntry::OnDraw(GtkWidget*, cairo_t*, gpointer self) {
    auto* me = static_cast<GtkScanCodeEntry*>(self);
    if (!me->painted_) {
        me->painted_ = true;
        me->edit_.OnFirstPaint();
        Trace(L"password box ready");
    }
    return FALSE;
}

Selection GtkScanCodeEntry::Shown() const {
    gint start = 0, end = 0;
    if (!gtk_editable_get_selection_bounds(GTK_EDITABLE(entry_), &start, &end))
        start = end = gtk_editable_get_position(GTK_EDITABLE(entry_));
    return {start, end};
}

void GtkScanCodeEntry::Show(bool codesChanged) {
    drawing_text_ = true;
    std::string stars(static_cast<size_t>(edit_.Length()), '*');
    gtk_entry_set_text(GTK_ENTRY(entry_), stars.c_str());
    gtk_editable_set_position(GTK_EDITABLE(entry_), edit_.Caret());
    drawing_text_ = false;
    if (codesChanged && changed_) changed_();
}

gboolean GtkScanCodeEntry::KeyPress(const GdkEventKey& event) {
    uint8_t scan = ScanCodeOfX11Keycode(event.hardware_keycode);
    if ((event.state & GDK_MOD1_MASK) != 0) {
        // Alt with a keypad digit composes a character; other Alt combinations belong to the dialog.
        if (KeypadDigit(scan) >= 0) {
            alt_digits_ = true;
            return TRUE;
        }
        return FALSE;
    }
    if (IsDialogKey(event) || IsAlt(event.keyval)) return FALSE;

    std::vector<uint16_t> before(edit_.Codes().begin(), edit_.Codes().end());
    unsigned vk = VirtualKeyOf(event.keyval);
    edit_.OnKeyDown(vk, 1, Shown());
    std::optional<wchar_t> character = CharacterOf(event);
    bool passed = true;
    if (character) {
        KeyStroke stroke{scan, (event.state & GDK_SHIFT_MASK) != 0, (event.state & GDK_LOCK_MASK) != 0};
        passed = edit_.OnChar(*character, stroke, 1, Shown());
    }
    bool changed = !std::equal(before.begin(), before.end(), edit_.Codes().begin(), edit_.Codes().end());
    std::fill(before.begin(), before.end(), 0);
    switch (vk) {
    case VK_LEFT:
    case VK_RIGHT:
    case VK_HOME:
    case VK_END: return FALSE;  // the entry moves its caret (and selection) itself
    case VK_UP:
    case VK_DOWN:
        // A single-line box treats them as Left and Right.
        g_signal_emit_by_name(entry_, "move-cursor", GTK_MOVEMENT_VISUAL_POSITIONS, vk == VK_UP ? -1 : 1,
                              (event.state & GDK_SHIFT_MASK) != 0);
        return TRUE;
    default: break;
    }
    if (!character && vk != VK_DELETE && vk != VK_BACK) return FALSE;
    // A refused key leaves the box as it is, selection included.
    if (passed || changed) Show(changed);
    return TRUE;
}

gboolean GtkScanCodeEntry::KeyRelease(const GdkEventKey& event) {
    if (IsAlt(event.keyval) && alt_digits_) {
        alt_digits_ = false;
        KeyStroke alt{ScanCodeEdit::kAltScanCode, false, false};
        if (edit_.OnChar(L'?', alt, 1, Shown())) Show(true);
        return FALSE;
    }
    unsigned vk = VirtualKeyOf(event.keyval);
    gint start = 0, end = 0;
    bool selected = gtk_editable_get_selection_bounds(GTK_EDITABLE(entry_), &start, &end);
    if (auto caret = edit_.OnKeyUp(vk, selected)) gtk_editable_set_position(GTK_EDITABLE(entry_), *caret);
    return FALSE;
}

void GtkScanCodeEntry::SetText(const std::wstring& codes) {
    edit_.SetText(codes.c_str());
    Show(true);
}

}  // namespace qvpwdctl
