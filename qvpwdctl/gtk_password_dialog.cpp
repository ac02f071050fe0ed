#include "gtk_password_dialog.h"

#include "dialog_template.h"
#include "gtk_scan_code_entry.h"
#include "qv_system_root.h"
#include "resource.h"
#include "scan_code_edit.h"
#include "trace.h"
#include "windows.h"
#include "x11_bell.h"
#include "xkb_keyboard_layouts.h"

#include <gdk/gdkkeysyms.h>
#include <gdk/gdkx.h>

#include <memory>
#include <string>
#include <vector>

namespace qvpwdctl {
namespace {

// Widgets take the dialog font, and no more room than their template rectangles give them.
constexpr const char* kStyle =
    "* { font: 8pt \"MS Sans Serif\", Sans; }"
    "button, entry { min-height: 0; padding: 0 4px; }"
    "button label { padding: 0; }";

// "&Accept" to GTK's mnemonic form "_Accept".
std::string Mnemonic(const wchar_t* text) {
    std::string out;
    for (const wchar_t* c = text; *c != 0; ++c) {
        if (*c == L'&')
            out += '_';
        else if (*c == L'_')
            out += "__";
        else
            out += qv::win::ToUtf8(std::wstring(1, *c));
    }
    return out;
}

DialogUnits UnitsOf(GtkWidget* widget, const DialogTemplate& dialog) {
    PangoLayout* layout = gtk_widget_create_pango_layout(widget,
                                                         "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    std::string font = qv::win::ToUtf8(dialog.font_face) + ", Sans " + std::to_string(dialog.font_points);
    PangoFontDescription* description = pango_font_description_from_string(font.c_str());
    pango_layout_set_font_description(layout, description);
    int width = 0, height = 0;
    pango_layout_get_pixel_size(layout, &width, &height);
    pango_font_description_free(description);
    g_object_unref(layout);
    return {(width / 26 + 1) / 2, height};
}

// The program's icon (resource 128, a PNG) at a size.
GdkPixbuf* Icon(int size) {
    HRSRC found = FindResourceW(nullptr, MAKEINTRESOURCEW(IDR_MAINFRAME), L"ICON");
    if (found == nullptr) return nullptr;
    auto* bytes = static_cast<const guchar*>(LockResource(LoadResource(nullptr, found)));
    DWORD length = SizeofResource(nullptr, found);
    GdkPixbufLoader* loader = gdk_pixbuf_loader_new();
    GdkPixbuf* icon = nullptr;
    if (gdk_pixbuf_loader_write(loader, bytes, length, nullptr) && gdk_pixbuf_loader_close(loader, nullptr)) {
        GdkPixbuf* image = gdk_pixbuf_loader_get_pixbuf(loader);
        if (image != nullptr) icon = gdk_pixbuf_scale_simple(image, size, size, GDK_INTERP_BILINEAR);
    } else {
        gdk_pixbuf_loader_close(loader, nullptr);
    }
    g_object_unref(loader);
    return icon;
}

class Dialog {
public:
    Dialog(DialogForm form, const std::wstring& prompt)
        : display_(GDK_DISPLAY_XDISPLAY(gdk_display_get_default())),
          layouts_(display_),
          bell_(display_),
          edit_(std::make_unique<ScanCodeEdit>(layouts_, bell_)),
          form_(form),
          prompt_(prompt) {}

    DialogOutcome Run() {
        Build();
        layouts_.WatchChanges();
        gdk_window_add_filter(nullptr, &Dialog::FilterXEvent, this);
        loop_ = g_main_loop_new(nullptr, FALSE);
        Trace(L"password dialog open (%ls form), prompt \"%ls\"", form_ == DialogForm::kFull ? L"full" : L"compact",
              prompt_.c_str());
        g_main_loop_run(loop_);
        g_main_loop_unref(loop_);
        gdk_window_remove_filter(nullptr, &Dialog::FilterXEvent, this);

        DialogOutcome outcome;
        outcome.accepted = accepted_;
        if (accepted_) outcome.result = qv::win::FromUtf8(gtk_entry_get_text(GTK_ENTRY(encoding_)));
        // The control goes with the window: its buffer is wiped and the user's layout comes back.
        entry_.reset();
        gtk_widget_destroy(window_);
        edit_.reset();
        while (gtk_events_pending()) gtk_main_iteration();
        XSync(display_, False);
        Trace(L"password dialog closed (%ls)", accepted_ ? L"accepted" : L"cancelled");
        return outcome;
    }

private:
    void Build() {
        const DialogTemplate& dialog = PasswordDialogTemplate();
        window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
        gtk_window_set_title(GTK_WINDOW(window_), qv::win::ToUtf8(dialog.caption).c_str());
        gtk_window_set_resizable(GTK_WINDOW(window_), FALSE);
        gtk_window_set_modal(GTK_WINDOW(window_), TRUE);
        gtk_window_set_type_hint(GTK_WINDOW(window_), GDK_WINDOW_TYPE_HINT_DIALOG);
        gtk_window_set_position(GTK_WINDOW(window_), GTK_WIN_POS_CENTER);
        GtkCssProvider* css = gtk_css_provider_new();
        gtk_css_provider_load_from_data(css, kStyle, -1, nullptr);
        gtk_style_context_add_provider_for_screen(gtk_widget_get_screen(window_), GTK_STYLE_PROVIDER(css),
                                                  GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
        g_object_unref(css);
        GList* icons = nullptr;
        for (int size : {32, 16})
            if (GdkPixbuf* icon = Icon(size)) icons = g_list_append(icons, icon);
        gtk_window_set_icon_list(GTK_WINDOW(window_), icons);
        g_list_free_full(icons, g_object_unref);

        DialogUnits units = UnitsOf(window_, dialog);
        const DialogControl* line = FindControl(dialog, IDC_SEPARATOR);
        int height = form_ == DialogForm::kCompact ? line->y : dialog.height;
        GtkWidget* fixed = gtk_fixed_new();
        gtk_widget_set_size_request(fixed, units.X(dialog.width), units.Y(height));
        gtk_container_add(GTK_CONTAINER(window_), fixed);

        std::vector<GtkWidget*> tab_order;
        for (int i = 0; i < dialog.control_count; ++i) {
            const DialogControl& control = dialog.controls[i];
            GtkWidget* widget = Create(control);
            gtk_widget_set_size_request(widget, units.X(control.width), units.Y(control.height));
            gtk_fixed_put(GTK_FIXED(fixed), widget, units.X(control.x), units.Y(control.y));
            // The compact form ends above the line: what lies below is not shown.
            bool hidden = form_ == DialogForm::kCompact && control.y >= line->y;
            gtk_widget_set_no_show_all(widget, hidden);
            if (control.kind == ControlKind::kPasswordEdit || control.kind == ControlKind::kButton ||
                control.kind == ControlKind::kDefaultButton)
                if (!hidden) tab_order.push_back(widget);
        }
        GList* chain = nullptr;
        for (GtkWidget* w : tab_order) chain = g_list_append(chain, w);
        G_GNUC_BEGIN_IGNORE_DEPRECATIONS
        gtk_container_set_focus_chain(GTK_CONTAINER(fixed), chain);
        G_GNUC_END_IGNORE_DEPRECATIONS
        g_list_free(chain);

        g_signal_connect(window_, "delete-event", G_CALLBACK(&Dialog::OnDelete), this);
        g_signal_connect(window_, "key-press-event", G_CALLBACK(&Dialog::OnWindowKey), this);
        gtk_widget_show_all(window_);
        gtk_widget_grab_default(accept_);
        gtk_widget_grab_focus(password_);
        gtk_window_present(GTK_WINDOW(window_));
    }

    GtkWidget* Create(const DialogControl& control) {
        switch (control.kind) {
        case ControlKind::kStaticRight: {
            GtkWidget* label = gtk_label_new(
                qv::win::ToUtf8(control.id == IDC_PROMPT ? prompt_ : std::wstring(control.text)).c_str());
            gtk_label_set_xalign(GTK_LABEL(label), 1.0f);
            gtk_label_set_yalign(GTK_LABEL(label), 0.0f);
            gtk_label_set_justify(GTK_LABEL(label), GTK_JUSTIFY_RIGHT);
            gtk_label_set_line_wrap(GTK_LABEL(label), TRUE);
            gtk_label_set_max_width_chars(GTK_LABEL(label), 1);
            return label;
        }
        case ControlKind::kPasswordEdit:
            password_ = gtk_entry_new();
            gtk_entry_set_activates_default(GTK_ENTRY(password_), TRUE);
            entry_ = std::make_unique<GtkScanCodeEntry>(password_, *edit_, [this] { OnPasswordChange(); });
            return password_;
        case ControlKind::kDefaultButton:
        case ControlKind::kButton: {
            GtkWidget* button = gtk_button_new_with_mnemonic(Mnemonic(control.text).c_str());
            if (control.id == IDOK) {
                accept_ = button;
                gtk_widget_set_can_default(button, TRUE);
                g_signal_connect(button, "clicked", G_CALLBACK(&Dialog::OnAccept), this);
            } else if (control.id == IDCANCEL) {
                g_signal_connect(button, "clicked", G_CALLBACK(&Dialog::OnCancel), this);
            } else if (control.id == IDC_COPY) {
                g_signal_connect(button, "clicked", G_CALLBACK(&Dialog::OnCopy), this);
            }
            return button;
        }
        case ControlKind::kEtchedLine: return gtk_separator_new(GTK_ORIENTATION_HORIZONTAL);
        case ControlKind::kReadOnlyEdit:
            encoding_ = gtk_entry_new();
            gtk_editable_set_editable(GTK_EDITABLE(encoding_), FALSE);
            gtk_widget_set_can_focus(encoding_, FALSE);
            return encoding_;
        }
        return gtk_label_new("");
    }

    void OnPasswordChange() {
        wchar_t text[ScanCodeEdit::kCapacity + 1] = {};
        size_t count = edit_->GetText(text, ScanCodeEdit::kCapacity + 1);
        std::vector<uint16_t> codes(text, text + count);
        PasswordDialogRules::Change change = rules_.OnPasswordChange(codes);
        std::fill(codes.begin(), codes.end(), 0);
        std::fill(std::begin(text), std::end(text), 0);
        if (change.undo) {
            entry_->SetText(std::wstring(change.codes.begin(), change.codes.end()));
            bell_.Beep(BeepSound::kDefault);
            return;
        }
        gtk_entry_set_text(GTK_ENTRY(encoding_), qv::win::ToUtf8(rules_.Encoding()).c_str());
    }

    void Close(bool accepted) {
        accepted_ = accepted;
        if (g_main_loop_is_running(loop_)) g_main_loop_quit(loop_);
    }

    static void OnAccept(GtkButton*, gpointer self) { static_cast<Dialog*>(self)->Close(true); }
    static void OnCancel(GtkButton*, gpointer self) { static_cast<Dialog*>(self)->Close(false); }
    static gboolean OnDelete(GtkWidget*, GdkEvent*, gpointer self) {
        static_cast<Dialog*>(self)->Close(false);
        return TRUE;
    }
    static gboolean OnWindowKey(GtkWidget*, GdkEventKey* event, gpointer self) {
        if (event->keyval != GDK_KEY_Escape) return FALSE;
        static_cast<Dialog*>(self)->Close(false);
        return TRUE;
    }
    // Copy: the whole encoding, selected and scrolled to the caret, goes to the clipboard.
    static void OnCopy(GtkButton*, gpointer self) {
        GtkWidget* encoding = static_cast<Dialog*>(self)->encoding_;
        gtk_editable_select_region(GTK_EDITABLE(encoding), 0, -1);
        gtk_editable_copy_clipboard(GTK_EDITABLE(encoding));
    }

    static GdkFilterReturn FilterXEvent(GdkXEvent* xevent, GdkEvent*, gpointer self) {
        auto* me = static_cast<Dialog*>(self);
        if (!me->edit_) return GDK_FILTER_CONTINUE;
        if (LayoutHandle changed = me->layouts_.LayoutChangedTo(*static_cast<XEvent*>(xevent)))
            me->edit_->OnInputLanguageChange(changed);
        return GDK_FILTER_CONTINUE;
    }

    Display* display_;
    XkbKeyboardLayouts layouts_;
    X11Bell bell_;
    std::unique_ptr<ScanCodeEdit> edit_;
    std::unique_ptr<GtkScanCodeEntry> entry_;
    PasswordDialogRules rules_;
    DialogForm form_;
    std::wstring prompt_;
    GtkWidget* window_ = nullptr;
    GtkWidget* password_ = nullptr;
    GtkWidget* encoding_ = nullptr;
    GtkWidget* accept_ = nullptr;
    GMainLoop* loop_ = nullptr;
    bool accepted_ = false;
};

}  // namespace

bool OpenGtkDisplay() {
    static const bool opened = [] {
        gdk_set_allowed_backends("x11");
        return gtk_init_check(nullptr, nullptr) == TRUE;
    }();
    return opened;
}

DialogOutcome RunGtkPasswordDialog(DialogForm form, const std::wstring& prompt) {
    Dialog dialog(form, prompt);
    return dialog.Run();
}

}  // namespace qvpwdctl
