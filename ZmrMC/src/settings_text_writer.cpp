#include "settings_text_writer.h"

#include "windows.h"

#include <algorithm>
#include <cstring>

namespace zmrmc {
namespace {

constexpr char kLineEnd[] = "\r\n";
constexpr size_t kPieceLength = 62;  // a text value's longest value line
constexpr uint16_t kUnused = 0xFFFF;

void ValueLine(std::string& out, std::string_view value) {
    out += '\t';
    out += value;
    out += kLineEnd;
}

void NumberLine(std::string& out, uint32_t number) { ValueLine(out, std::to_string(static_cast<int32_t>(number))); }

void Header(SettingsModel& model, const SRI& sri, std::string& out) {
    out += model.FindString(sri.nameId, nullptr);
    if (sri.type == SRI_TYPE_KEYED_ENUM || sri.type == SRI_TYPE_KEYED_INTEGER) {
        for (uint16_t key : sri.instanceKey) {
            if (key == kUnused) continue;
            out += '\\';
            out += model.FindString(key, nullptr);
        }
    }
    out += kLineEnd;
}

void Values(SettingsModel& model, const SRI& sri, std::string& out) {
    switch (sri.type) {
    case SRI_TYPE_ENUM:
    case SRI_TYPE_KEYED_ENUM:
        for (size_t position = 0, length = ListLength(sri); position < length; ++position) {
            const char* choice = model.FindString(ListEntry(sri, position), nullptr);
            if (std::strcmp(choice, "--") == 0) continue;  // hidden, but its position still counts
            out += '\t';
            if (position == sri.currentIndex) out += '*';
            out += choice;
            out += kLineEnd;
        }
        break;
    case SRI_TYPE_TEXT:
    case SRI_TYPE_PASSWORD: {
        std::string_view text = ValueText(sri);
        for (; text.size() > kPieceLength; text.remove_prefix(kPieceLength))
            ValueLine(out, text.substr(0, kPieceLength));
        ValueLine(out, text);
        break;
    }
    case SRI_TYPE_INTEGER:
    case SRI_TYPE_KEYED_INTEGER:
        NumberLine(out, sri.lowerBound);
        NumberLine(out, sri.upperBound);
        NumberLine(out, IntegerValue(sri));
        break;
    case SRI_TYPE_DATE:
    case SRI_TYPE_TIME: ValueLine(out, ValueText(sri)); break;
    case SRI_TYPE_ORDERED_LIST:
        for (size_t position = 0, length = ListLength(sri); position < length; ++position)
            ValueLine(out, model.FindString(ListEntry(sri, position), nullptr));
        break;
    default: break;  // byte blocks have no value lines
    }
}

bool WriteWholeFile(const char* path, const std::string& text) {
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    bool complete = true;
    for (size_t done = 0; done < text.size() && complete;) {
        DWORD chunk = static_cast<DWORD>(std::min<size_t>(text.size() - done, 1u << 20));
        DWORD written = 0;
        complete = WriteFile(file, text.data() + done, chunk, &written, nullptr) && written > 0;
        done += written;
    }
    return CloseHandle(file) && complete;
}

}  // namespace

bool BuildSettingsText(SettingsModel& model, std::string* text) {
    const SRI* language = model.Language();
    if (language == nullptr) return false;
    std::string out = model.FindString(language->nameId, nullptr);
    out += kLineEnd;
    for (int i = 0, count = model.Count(); i < count; ++i) {
        const SRI* sri = model.At(i);
        if (sri->type == SRI_TYPE_STRING_TABLE) continue;
        Header(model, *sri, out);
        Values(model, *sri, out);
    }
    *text = std::move(out);
    return true;
}

bool WriteSettingsText(SettingsModel& model, const char* path) {
    std::string text;
    if (path == nullptr || !BuildSettingsText(model, &text)) return false;
    return WriteWholeFile(path, text);
}

}  // namespace zmrmc
