#include "xkb_keyboard_layouts.h"

#include <X11/XKBlib.h>

#include <cstdio>
// XKBrules.h needs FILE declared first.
#include <X11/extensions/XKBrules.h>

#include <cstdlib>
#include <cwchar>
#include <mutex>
#include <vector>

namespace qvpwdctl {
namespace {

constexpr const char* kRulesFolder = "/usr/share/X11/xkb/rules/";
constexpr int kMaxGroups = 4;

struct LayoutLanguage {
    const char* layout;
    uint16_t language;
};
constexpr LayoutLanguage kLanguages[] = {
    {"us", 0x0409}, {"de", 0x0407}, {"fr", 0x040C}, {"gb", 0x0809}, {"es", 0x040A}, {"it", 0x0410},
    {"ch", 0x0807}, {"at", 0x0C07}, {"be", 0x080C}, {"nl", 0x0413}, {"se", 0x041D}, {"no", 0x0414},
    {"dk", 0x0406}, {"fi", 0x040B}, {"pt", 0x0816}, {"br", 0x0416}, {"pl", 0x0415}, {"cz", 0x0405},
    {"hu", 0x040E}, {"ru", 0x0419}, {"jp", 0x0411}, {"ca", 0x0C0C},
};

// Layouts without a known language, by the handle given to them.
std::mutex others_mutex;
std::vector<std::string> others;

std::vector<std::string> Split(const char* text) {
    std::vector<std::string> parts;
    std::string s = text != nullptr ? text : "";
    size_t start = 0;
    for (;;) {
        size_t comma = s.find(',', start);
        parts.push_back(s.substr(start, comma - start));
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return parts;
}

std::string Join(const std::vector<std::string>& parts) {
    std::string joined;
    for (size_t i = 0; i < parts.size(); ++i) joined += (i > 0 ? "," : "") + parts[i];
    return joined;
}

// The rules names of the display, freed with the object.
struct RulesNames {
    char* rules_file = nullptr;
    XkbRF_VarDefsRec vars{};
    bool ok = false;
    explicit RulesNames(Display* display) { ok = XkbRF_GetNamesProp(display, &rules_file, &vars) == True; }
    ~RulesNames() {
        std::free(rules_file);
        std::free(vars.model);
        std::free(vars.layout);
        std::free(vars.variant);
        std::free(vars.options);
    }
    RulesNames(const RulesNames&) = delete;
    RulesNames& operator=(const RulesNames&) = delete;
    std::vector<std::string> Layouts() const {
        if (ok && vars.layout != nullptr) return Split(vars.layout);
        return {"us"};
    }
};

int CurrentGroup(Display* display) {
    XkbStateRec state{};
    if (XkbGetState(display, XkbUseCoreKbd, &state) != Success) return 0;
    return state.group;
}

// Compiles and loads a keymap of the display's rules with these layouts and variants.
bool LoadKeymap(Display* display, RulesNames& names, const std::string& layouts, const std::string& variants) {
    std::string rules_name = names.rules_file != nullptr && names.rules_file[0] != '\0' ? names.rules_file : "evdev";
    std::string path = rules_name.find('/') == std::string::npos ? kRulesFolder + rules_name : rules_name;
    XkbRF_RulesPtr rules = XkbRF_Load(path.data(), const_cast<char*>("C"), False, True);
    if (rules == nullptr) return false;
    XkbRF_VarDefsRec vars = names.vars;
    std::string layout_text = layouts, variant_text = variants;
    vars.layout = layout_text.data();
    vars.variant = variant_text.data();
    XkbComponentNamesRec components{};
    bool ok = XkbRF_GetComponents(rules, &vars, &components) == True;
    if (ok) {
        XkbDescPtr keymap = XkbGetKeyboardByName(display, XkbUseCoreKbd, &components, XkbGBN_AllComponentsMask,
                                                 XkbGBN_AllComponentsMask & ~XkbGBN_GeometryMask, True);
        ok = keymap != nullptr;
        if (keymap != nullptr) XkbFreeKeyboard(keymap, XkbAllComponentsMask, True);
        if (ok) ok = XkbRF_SetNamesProp(display, const_cast<char*>(rules_name.c_str()), &vars) == True;
    }
    for (char* part : {components.keymap, components.keycodes, components.types, components.compat, components.symbols,
                       components.geometry})
        std::free(part);
    XkbRF_Free(rules, True);
    return ok;
}

// The index of the group whose layout has the handle, or -1.
int GroupOf(const std::vector<std::string>& layouts, LayoutHandle handle) {
    for (size_t i = 0; i < layouts.size() && i < kMaxGroups; ++i)
        if (XkbKeyboardLayouts::HandleOfLayout(layouts[i]) == handle) return static_cast<int>(i);
    return -1;
}

bool LockGroup(Display* display, int group) {
    bool ok = XkbLockGroup(display, XkbUseCoreKbd, static_cast<unsigned>(group)) == True;
    XSync(display, False);
    return ok;
}

}  // namespace

XkbKeyboardLayouts::XkbKeyboardLayouts(Display* display) : display_(display) {
    int opcode = 0, error = 0, major = XkbMajorVersion, minor = XkbMinorVersion;
    XkbQueryExtension(display, &opcode, &xkb_event_, &error, &major, &minor);
}

LayoutHandle XkbKeyboardLayouts::HandleOfLayout(const std::string& layout) {
    std::string base = layout.substr(0, layout.find('('));
    for (const auto& known : kLanguages)
        if (base == known.layout) return static_cast<LayoutHandle>(known.language) << 16 | known.language;
    std::lock_guard hold(others_mutex);
    size_t i = 0;
    while (i < others.size() && others[i] != base) ++i;
    if (i == others.size()) others.push_back(base);
    return 0xF0000000u | static_cast<LayoutHandle>(i);
}

std::string XkbKeyboardLayouts::LayoutOfName(const std::wstring& name) {
    if (name.size() != 8) return {};
    wchar_t* end = nullptr;
    unsigned long value = std::wcstoul(name.c_str(), &end, 16);
    if (end == nullptr || *end != L'\0') return {};
    auto language = static_cast<uint16_t>(value & 0xFFFF);
    for (const auto& known : kLanguages)
        if (known.language == language) return known.layout;
    return {};
}

LayoutHandle XkbKeyboardLayouts::Current() {
    RulesNames names(display_);
    std::vector<std::string> layouts = names.Layouts();
    auto group = static_cast<size_t>(CurrentGroup(display_));
    return HandleOfLayout(group < layouts.size() ? layouts[group] : layouts.back());
}

LayoutHandle XkbKeyboardLayouts::LoadAndActivate(const wchar_t* name) {
    std::string layout = LayoutOfName(name != nullptr ? name : L"");
    if (layout.empty()) return 0;
    LayoutHandle handle = HandleOfLayout(layout);
    RulesNames names(display_);
    std::vector<std::string> layouts = names.Layouts();
    int group = GroupOf(layouts, handle);
    if (group < 0) {
        if (layouts.size() >= kMaxGroups) return 0;
        std::vector<std::string> variants = Split(names.ok ? names.vars.variant : nullptr);
        variants.resize(layouts.size());
        layouts.push_back(layout);
        variants.push_back("");
        if (!LoadKeymap(display_, names, Join(layouts), Join(variants))) return 0;
        group = static_cast<int>(layouts.size()) - 1;
    }
    return LockGroup(display_, group) ? handle : 0;
}

bool XkbKeyboardLayouts::Activate(LayoutHandle layout) {
    RulesNames names(display_);
    int group = GroupOf(names.Layouts(), layout);
    return group >= 0 && LockGroup(display_, group);
}

void XkbKeyboardLayouts::WatchChanges() {
    XkbSelectEventDetails(display_, XkbUseCoreKbd, XkbStateNotify, XkbGroupStateMask, XkbGroupStateMask);
    XkbSelectEvents(display_, XkbUseCoreKbd, XkbNewKeyboardNotifyMask, XkbNewKeyboardNotifyMask);
}

LayoutHandle XkbKeyboardLayouts::LayoutChangedTo(const XEvent& event) {
    if (xkb_event_ == 0 || event.type != xkb_event_) return 0;
    const auto& xkb = reinterpret_cast<const XkbEvent&>(event);
    if (xkb.any.xkb_type == XkbNewKeyboardNotify) return Current();
    if (xkb.any.xkb_type != XkbStateNotify || (xkb.state.changed & XkbGroupStateMask) == 0) return 0;
    // The group the event tells of: the state may have moved on since.
    RulesNames names(display_);
    std::vector<std::string> layouts = names.Layouts();
    auto group = static_cast<size_t>(xkb.state.group);
    return HandleOfLayout(group < layouts.size() ? layouts[group] : layouts.back());
}

}  // namespace qvpwdctl
