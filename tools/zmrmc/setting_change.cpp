#include "setting_change.h"

#include "text.h"

namespace {

std::string IntegerShown(const SettingView& view, bool with_bounds) {
    std::string value = std::to_string(view.number);
    if (with_bounds) value += " (" + std::to_string(view.low) + ".." + std::to_string(view.high) + ")";
    return value;
}

}  // namespace

std::optional<Change> ChangeOf(const SettingView& before, const SettingView& after) {
    Change change{after.full_name, before.Value(), after.Value()};
    switch (after.type) {
    case SRI_TYPE_ENUM:
    case SRI_TYPE_KEYED_ENUM:
        if (after.selected < 0 || after.selected == before.selected) return std::nullopt;
        return change;
    case SRI_TYPE_ORDERED_LIST:
        if (after.ids == before.ids) return std::nullopt;
        return change;
    case SRI_TYPE_INTEGER:
    case SRI_TYPE_KEYED_INTEGER: {
        bool bounds = after.low != before.low || after.high != before.high;
        if (!bounds && after.number == before.number) return std::nullopt;
        return Change{after.full_name, IntegerShown(before, bounds), IntegerShown(after, bounds)};
    }
    case SRI_TYPE_PASSWORD:
        if (after.text == before.text) return std::nullopt;
        return Change{after.full_name, before.Value(), "(another password, not shown)"};
    case SRI_TYPE_TEXT:
    case SRI_TYPE_DATE:
    case SRI_TYPE_TIME:
        if (Trimmed(after.text) == Trimmed(before.text)) return std::nullopt;  // blanks around a text do not count
        return change;
    default: return std::nullopt;  // byte blocks take nothing from a file
    }
}
