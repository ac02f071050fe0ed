// The password box on GTK: a GtkEntry that shows a ScanCodeEdit. Every key event is turned into the
// messages the edit handles (key-down, then the character the key types, as a window system's message loop
// would), and the entry's text is redrawn from the edit after each: one "*" per code, the caret where the edit
// has it. The entry changes its text for nobody else: typing, pasting (keys, middle click, menu), dropping and
// cutting are all stopped, so the visible text is always the buffer.
//
// Alt with keypad digits types a character when Alt is released; on X that composition does not exist, so it
// is reproduced here: the character arrives with the Alt key's scan code, as on Windows.
//
// Lifetime: made after the entry, destroyed before it (it disconnects its handlers).
#pragma once

#include "keyboard_layouts.h"
#include "scan_code_edit.h"

#include <gtk/gtk.h>

#include <functional>
#include <string>
#include <vector>

namespace qvpwdctl {

class GtkScanCodeEntry {
public:
    // `changed` is called after each message that changed the codes (the box's change notification).
    GtkScanCodeEntry(GtkWidget* entry, ScanCodeEdit& edit, std::function<void()> changed);
    ~GtkScanCodeEntry();
    GtkScanCodeEntry(const GtkScanCodeEntry&) = delete;
    GtkScanCodeEntry& operator=(const GtkScanCodeEntry&) = delete;

    // Setting the box's text (the codes as characters), as the dialog does to put earlier codes back.
    void SetText(const std::wstring& codes);

private:
    static gboolean OnKeyPress(GtkWidget*, GdkEventKey* event, gpointer self);
    static gboolean OnKeyRelease(GtkWidget*, GdkEventKey* event, gpointer self);
    static void OnInsertText(GtkEditable* editable, gchar*, gint, gint*, gpointer self);
    static void OnDeleteText(GtkEditable* editable, gint, gint, gpointer self);
    template <const char* kSignal>
    static void OnClipboardRequest(GtkEntry* entry, gpointer self);
    static const char kCut[], kCopy[], kPaste[];
    static gboolean OnDraw(GtkWidget*, cairo_t*, gpointer self);

    gboolean KeyPress(const GdkEventKey& event);
    gboolean KeyRelease(const GdkEventKey& event);
    Selection Shown() const;
    // Redraws the entry from the edit and tells of a change.
    void Show(bool codesChanged);

    GtkWidget* entry_;
    ScanCodeEdit& edit_;
    std::function<void()> changed_;
    bool drawing_text_ = false;
    bool painted_ = false;
    bool alt_digits_ = false;
    std::vector<gulong> handlers_;
};

}  // namespace qvpwdctl
