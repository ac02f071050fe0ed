#include "settings_text_reader.h"

#include "text_case.h"

#include "windows.h"

#include <cstring>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace zmrmc {
namespace {

constexpr uint16_t kUnused = 0xFFFF;
constexpr size_t kMaxFileSize = 64u << 20;
constexpr size_t kMaxSubNames = 4;

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

std::string_view WithoutLeadingBlanks(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
    return text;
}

bool IsKeyed(const SRI& sri) { return sri.type == SRI_TYPE_KEYED_ENUM || sri.type == SRI_TYPE_KEYED_INTEGER; }

// The lines of a text one at a time, each without the LF that ends it and the CR before that LF; a last line
// without an end counts too.
class Lines {
public:
    explicit Lines(std::string_view text) : rest_(text) {}
    bool Next(std::string_view* line) {
        if (rest_.empty()) return false;
        size_t end = rest_.find('\n');
        *line = rest_.substr(0, end);
        if (end != std::string_view::npos && !line->empty() && line->back() == '\r') line->remove_suffix(1);
        rest_.remove_prefix(end == std::string_view::npos ? rest_.size() : end + 1);
        return true;
    }

private:
    std::string_view rest_;
};

// A signed or unsigned 32-bit decimal number ("%d" or "%u" text), surrounded by white space at most.
std::optional<uint32_t> DecimalNumber(std::string_view text) {
    text = WithoutLeadingBlanks(text);
    while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
    bool negative = !text.empty() && text.front() == '-';
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) text.remove_prefix(1);
    if (text.empty() || text.size() > 10) return std::nullopt;
    uint64_t number = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        number = number * 10 + static_cast<uint64_t>(c - '0');
    }
    if (negative ? number > 0x80000000u : number > 0xFFFFFFFFu) return std::nullopt;
    return static_cast<uint32_t>(negative ? 0u - number : number);
}

// The lookups a file needs, built once per file: the language table's texts (first ID of each text, ignoring
// case) and the records by name ID in firmware order.
class Lookups {
public:
    explicit Lookups(SettingsModel& model) {
        const SRI* language = model.Language();
        for (uint16_t id = 0; language != nullptr && id < language->elementCount && id != kUnused; ++id)
            ids_.try_emplace(Folded(model.FindString(id, nullptr)), id);
        for (int i = 0, count = model.Count(); i < count; ++i) {
            SRI* sri = model.At(i);
            by_name_[sri->nameId].push_back(sri);
        }
    }

    std::optional<uint16_t> Id(std::string_view text) const {
        auto found = ids_.find(Folded(text));
        if (found == ids_.end()) return std::nullopt;
        return found->second;
    }

    // As SettingsModel::Find with a key.
    SRI* Find(uint16_t name_id, const uint16_t key[4]) const {
        auto found = by_name_.find(name_id);
        if (found == by_name_.end()) return nullptr;
        for (SRI* sri : found->second)
            if (!IsKeyed(*sri) || std::memcmp(key, sri->instanceKey, sizeof sri->instanceKey) == 0) return sri;
        return nullptr;
    }

private:
    static std::string Folded(std::string_view text) {
        std::string folded(text);
        for (char& c : folded) c = static_cast<char>(FoldCase(static_cast<unsigned char>(c)));
        return folded;
    }

    std::unordered_map<std::string, uint16_t> ids_;
    std::unordered_map<uint16_t, std::vector<SRI*>> by_name_;
};

// The setting whose block is being read, and what its value lines have given so far.
struct Block {
    SRI* sri = nullptr;
    size_t lines = 0;  // value lines taken (for ordered lists: elements placed)
    bool has_text = false;
    std::string text;
};

SRI* FindHeader(const Lookups& lookups, std::string_view line) {
    size_t slash = line.find('\\');
    std::optional<uint16_t> name = lookups.Id(line.substr(0, slash));
    if (!name) return nullptr;
    uint16_t key[4] = {kUnused, kUnused, kUnused, kUnused};
    if (slash != std::string_view::npos) {
        std::string_view rest = line.substr(slash + 1);
        for (size_t i = 0;; ++i) {
            size_t next = rest.find('\\');
            std::optional<uint16_t> sub = lookups.Id(rest.substr(0, next));
            if (i == kMaxSubNames || !sub) return nullptr;  // names no setting the firmware has
            key[i] = *sub;
            if (next == std::string_view::npos) break;
            rest.remove_prefix(next + 1);
        }
    }
    SRI* sri = lookups.Find(*name, key);
    if (sri == nullptr || (sri->flags & SRI_FLAG_READ_ONLY) != 0) return nullptr;
    return sri;
}

void StartBlock(Block& block, SRI* sri) {
    block = Block{};
    block.sri = sri;
    if (sri == nullptr) return;
    bool enumeration = sri->type == SRI_TYPE_ENUM || sri->type == SRI_TYPE_KEYED_ENUM;
    sri->currentIndex = enumeration ? kUnused : 0;  // an enumeration has no selection until a "*" line
    sri->changed = 1;
}

void FinishBlock(SettingsModel& model, const Block& block) {
    if (block.sri != nullptr && block.has_text) model.SetText(block.sri, block.text);
}

void SelectChoice(const Lookups& lookups, SRI& sri, std::string_view line) {
    if (line.front() != '*' || sri.currentIndex != kUnused) return;
    std::optional<uint16_t> id = lookups.Id(WithoutLeadingBlanks(line.substr(1)));
    if (!id) return;
    for (size_t position = 0, length = ListLength(sri); position < length; ++position) {
        if (ListEntry(sri, position) != *id) continue;
        sri.currentIndex = static_cast<uint16_t>(position);
        return;
    }
}

void TakeNumber(SRI& sri, size_t line, std::string_view text) {
    std::optional<uint32_t> number = DecimalNumber(text);
    if (!number) return;
    switch (line) {
    case 0: sri.lowerBound = *number; break;
    case 1: sri.upperBound = *number; break;
    case 2: {
        uint32_t low = sri.lowerBound, high = sri.upperBound;
        uint32_t value = std::max(*number, low) >= high ? high : *number <= low ? low : *number;
        SetIntegerValue(sri, value);
        break;
    }
    default: break;
    }
}

void PlaceElement(const Lookups& lookups, Block& block, std::string_view text) {
    std::optional<uint16_t> id = lookups.Id(text);
    if (!id) return;
    SRI& sri = *block.sri;
    for (size_t found = block.lines, length = ListLength(sri); found < length; ++found) {
        if (ListEntry(sri, found) != *id) continue;
        for (size_t i = found; i > block.lines; --i) SetListEntry(sri, i, ListEntry(sri, i - 1));
        SetListEntry(sri, block.lines, *id);
        ++block.lines;
        return;
    }
}

void TakeValueLine(const Lookups& lookups, Block& block, std::string_view line) {
    SRI& sri = *block.sri;
    std::string_view value = WithoutLeadingBlanks(line);
    // Text values are taken as the writer wrote them: only its one tab goes, so blanks inside and around the
    // text (also where a long text was cut) stay; a line written by hand with leading blanks loses them.
    std::string_view piece = line.front() == '\t' ? line.substr(1) : value;
    switch (sri.type) {
    case SRI_TYPE_TEXT:
    case SRI_TYPE_PASSWORD:
        if (block.lines == 0)
            block.text = piece;
        else
            block.text += piece;  // a further piece of a long text
        block.has_text = true;
        ++block.lines;
        return;
    case SRI_TYPE_DATE:
    case SRI_TYPE_TIME:
        if (block.lines > 0 && piece.empty()) return;
        block.text = piece;
        block.has_text = true;
        ++block.lines;
        return;
    default: break;
    }
    if (value.empty()) return;
    switch (sri.type) {
    case SRI_TYPE_ENUM:
    case SRI_TYPE_KEYED_ENUM:
        SelectChoice(lookups, sri, value);
        ++block.lines;
        break;
    case SRI_TYPE_INTEGER:
    case SRI_TYPE_KEYED_INTEGER:
        TakeNumber(sri, block.lines, value);
        ++block.lines;
        break;
    case SRI_TYPE_ORDERED_LIST: PlaceElement(lookups, block, value); break;
    default: break;  // byte blocks and string tables take no values from a file
    }
}

bool ReadWholeFile(const char* path, std::string* text) {
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    std::string bytes;
    bool complete = true;
    for (;;) {
        char chunk[65536];
        DWORD read = 0;
        if (!ReadFile(file, chunk, sizeof chunk, &read, nullptr)) {
            complete = false;
            break;
        }
        if (read == 0) break;
        if (bytes.size() + read > kMaxFileSize) {
            complete = false;
            break;
        }
        bytes.append(chunk, read);
    }
    CloseHandle(file);
    if (!complete) return false;
    *text = std::move(bytes);
    return true;
}

}  // namespace

bool ApplySettingsText(SettingsModel& model, std::string_view text) {
    if (model.Language() == nullptr) return false;
    Lines lines(text);
    std::string_view line;
    if (!lines.Next(&line) || line != "English") return false;
    Lookups lookups(model);
    Block block;
    while (lines.Next(&line)) {
        if (!line.empty() && line.front() != '\t' && line.front() != ' ') {
            FinishBlock(model, block);
            StartBlock(block, FindHeader(lookups, line));
        } else if (block.sri != nullptr && !line.empty()) {
            TakeValueLine(lookups, block, line);
        }
    }
    FinishBlock(model, block);
    return true;
}

bool ReadSettingsText(SettingsModel& model, const char* path) {
    std::string text;
    if (path == nullptr || !ReadWholeFile(path, &text)) return false;
    return ApplySettingsText(model, text);
}

}  // namespace zmrmc
