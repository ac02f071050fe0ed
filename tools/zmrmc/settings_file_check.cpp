#include "settings_file_check.h"

#include "exit_codes.h"
#include "qv_system_root.h"
#include "text.h"
#include "windows.h"
#include "winuser.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <optional>

namespace fs = std::filesystem;

namespace {

constexpr uint16_t kUnused = 0xFFFF;
constexpr uintmax_t kMaxFileSize = 64u << 20;
constexpr size_t kMaxNotes = 1000;

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }
std::string_view WithoutLeadingBlanks(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
    return text;
}

// The lines of a text one at a time, as the library's reader takes them (LF or CR LF ends a line).
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

std::optional<uint32_t> DecimalNumber(std::string_view text) {
    text = Trimmed(text);
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

std::vector<uint16_t> ListOf(const SRI& sri) {
    std::vector<uint16_t> ids;
    const auto* bytes = static_cast<const uint8_t*>(sri.value);
    size_t limit = bytes != nullptr ? std::min<size_t>(sri.elementCount, sri.valueSize / 2) : 0;
    for (size_t i = 0; i < limit; ++i) {
        uint16_t id = static_cast<uint16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
        if (id == kUnused) break;
        ids.push_back(id);
    }
    return ids;
}

// The value lines of each block of a settings file, by header (the first block of a header).
std::map<std::string, std::vector<std::string_view>> Blocks(std::string_view text) {
    std::map<std::string, std::vector<std::string_view>> blocks;
    std::vector<std::string_view>* current = nullptr;
    Lines lines(text);
    for (std::string_view line; lines.Next(&line);) {
        if (!line.empty() && line.front() != '\t' && line.front() != ' ') {
            auto [at, fresh] = blocks.try_emplace(std::string(line));
            current = fresh ? &at->second : nullptr;
        } else if (current != nullptr && !line.empty()) {
            current->push_back(line);
        }
    }
    return blocks;
}

// Walks the file as the library's reader does and notes what it would skip.
class Checker {
public:
    Checker(ZmrmcLibrary& library, std::string_view current) : library_(library), current_(Blocks(current)) {
        for (uint16_t id = 0; id != kUnused; ++id) {
            const char* text = library.Text(id, nullptr);
            if (text == nullptr || *text == '\0') break;
            ids_.try_emplace(Key(text), id);
        }
    }

    std::vector<FileNote> Check(std::string_view text) {
        Lines lines(text);
        std::string_view line;
        lines.Next(&line);  // the first line, "English"
        for (line_ = 2; lines.Next(&line); ++line_) {
            if (!line.empty() && line.front() != '\t' && line.front() != ' ') {
                Finish();
                Header(line);
            } else if (!line.empty()) {
                Value(line);
            }
        }
        Finish();
        std::stable_sort(notes_.begin(), notes_.end(),
                         [](const FileNote& a, const FileNote& b) { return a.line < b.line; });
        if (left_out_ > 0)
            notes_.push_back(
                {line_ - 1, "", "and " + std::to_string(left_out_) + " more notes like these, not listed"});
        return std::move(notes_);
    }

private:
    struct Block {
        bool active = false;
        size_t header_line = 0;
        std::string name;  // UTF-8, as the file writes it
        SRI sri{};
        std::vector<uint16_t> list;
        size_t lines = 0;
        bool selected = false;
        size_t placed = 0;
        size_t text_length = 0;
        bool ignored_noted = false;
        bool read_only = false;  // only compared with the current value lines
        std::vector<std::string_view> values;
        std::string header;
    };

    static std::string Key(std::string_view ansi) {
        std::string utf8 = Utf8FromAnsi(ansi);
        std::wstring wide = qv::win::FromUtf8(utf8);
        CharLowerBuffW(wide.data(), static_cast<DWORD>(wide.size()));
        return qv::win::ToUtf8(wide);
    }
    std::optional<uint16_t> Id(std::string_view ansi) const {
        auto found = ids_.find(Key(ansi));
        if (found == ids_.end()) return std::nullopt;
        return found->second;
    }
    void Note(size_t line, const std::string& setting, std::string reason) {
        if (notes_.size() < kMaxNotes)
            notes_.push_back({line, setting, std::move(reason)});
        else
            ++left_out_;
    }
    void NoteHere(std::string reason) { Note(line_, block_.name, std::move(reason)); }
    static std::string Quoted(std::string_view ansi) { return "'" + Utf8FromAnsi(ansi) + "'"; }

    void Header(std::string_view line) {
        block_ = Block{};
        seen_header_ = true;
        std::string name = Utf8FromAnsi(line);
        size_t slash = line.find('\\');
        std::optional<uint16_t> name_id = Id(line.substr(0, slash));
        uint16_t key[4] = {kUnused, kUnused, kUnused, kUnused};
        bool known = name_id.has_value();
        if (known && slash != std::string_view::npos) {
            std::string_view rest = line.substr(slash + 1);
            for (size_t i = 0;; ++i) {
                size_t next = rest.find('\\');
                std::optional<uint16_t> sub = Id(rest.substr(0, next));
                if (i == 4 || !sub) {
                    known = false;
                    break;
                }
                key[i] = *sub;
                if (next == std::string_view::npos) break;
                rest.remove_prefix(next + 1);
            }
        }
        const SRI* record = known ? library_.Find(*name_id, key) : nullptr;
        if (record == nullptr) return Note(line_, name, "no such setting on this machine, skipped");
        SRI sri;
        std::memcpy(&sri, record, sizeof sri);
        block_.active = true;
        block_.read_only = (sri.flags & SRI_FLAG_READ_ONLY) != 0;
        block_.header = std::string(line);
        block_.header_line = line_;
        block_.name = name;
        block_.sri = sri;
        block_.list = ListOf(sri);
    }

    void Value(std::string_view line) {
        if (!block_.active) {
            if (!seen_header_ && !stray_noted_) Note(line_, "", "value lines before any setting, skipped");
            stray_noted_ = true;
            return;
        }
        if (block_.read_only) return block_.values.push_back(line);
        std::string_view value = WithoutLeadingBlanks(line);
        switch (block_.sri.type) {
        case SRI_TYPE_TEXT:
        case SRI_TYPE_PASSWORD: block_.text_length += line.front() == '\t' ? line.size() - 1 : value.size(); return;
        case SRI_TYPE_DATE:
        case SRI_TYPE_TIME: block_.text_length = line.front() == '\t' ? line.size() - 1 : value.size(); return;
        default: break;
        }
        if (value.empty()) return;
        switch (block_.sri.type) {
        case SRI_TYPE_ENUM:
        case SRI_TYPE_KEYED_ENUM: Choice(value); break;
        case SRI_TYPE_INTEGER:
        case SRI_TYPE_KEYED_INTEGER: Number(value); break;
        case SRI_TYPE_ORDERED_LIST: Element(value); break;
        default:
            if (!block_.ignored_noted) NoteHere("its values are not taken from settings files, skipped");
            block_.ignored_noted = true;
            break;
        }
        ++block_.lines;
    }

    void Choice(std::string_view value) {
        if (value.front() != '*') return;
        std::string_view choice = WithoutLeadingBlanks(value.substr(1));
        if (block_.selected) return NoteHere("a second selected value " + Quoted(choice) + " is skipped");
        std::optional<uint16_t> id = Id(choice);
        for (uint16_t entry : block_.list) {
            if (id && entry == *id) {
                block_.selected = true;
                return;
            }
        }
        NoteHere("it has no value " + Quoted(choice) + ", skipped");
    }

    void Number(std::string_view value) {
        std::optional<uint32_t> number = DecimalNumber(value);
        if (block_.lines > 2) return NoteHere("extra line " + Quoted(value) + " skipped");
        if (!number) {
            static const char* const kField[] = {"lower bound", "upper bound", "value"};
            return NoteHere(Quoted(value) + " is not a number, the " + kField[block_.lines] + " is left as it is");
        }
        if (block_.lines == 0) block_.sri.lowerBound = *number;
        if (block_.lines == 1) block_.sri.upperBound = *number;
        if (block_.lines != 2) return;
        uint32_t low = block_.sri.lowerBound, high = block_.sri.upperBound;
        uint32_t taken = std::max(*number, low) >= high ? high : *number <= low ? low : *number;
        if (taken != *number)
            NoteHere(std::to_string(*number) + " is outside " + std::to_string(low) + ".." + std::to_string(high) +
                     ", " + std::to_string(taken) + " is taken");
    }

    void Element(std::string_view value) {
        std::optional<uint16_t> id = Id(value);
        for (size_t i = block_.placed; id && i < block_.list.size(); ++i) {
            if (block_.list[i] != *id) continue;
            std::swap(block_.list[i], block_.list[block_.placed]);  // only membership matters below
            ++block_.placed;
            return;
        }
        bool known = false;
        for (uint16_t entry : block_.list) known = known || (id && entry == *id);
        NoteHere(known ? "element " + Quoted(value) + " named twice, the second is skipped"
                       : "it has no element " + Quoted(value) + ", skipped");
    }

    void Finish() {
        if (!block_.active) return;
        if (block_.read_only) {
            auto current = current_.find(block_.header);
            if (current == current_.end() || current->second != block_.values)
                Note(block_.header_line, block_.name, "read-only, its value stays as it is");
            block_ = Block{};
            return;
        }
        bool enumeration = block_.sri.type == SRI_TYPE_ENUM || block_.sri.type == SRI_TYPE_KEYED_ENUM;
        if (enumeration && !block_.selected)
            Note(block_.header_line, block_.name, "no value selected (no \"*\" line), left as it is");
        bool text = block_.sri.type == SRI_TYPE_TEXT || block_.sri.type == SRI_TYPE_PASSWORD ||
                    block_.sri.type == SRI_TYPE_DATE || block_.sri.type == SRI_TYPE_TIME;
        size_t longest = block_.sri.upperBound > 0 ? block_.sri.upperBound - 1 : 0;
        if (text && block_.sri.type != SRI_TYPE_PASSWORD && block_.text_length > longest)
            Note(block_.header_line, block_.name,
                 "a text of " + std::to_string(block_.text_length) + " characters, the setting holds " +
                     std::to_string(longest));
        block_ = Block{};
    }

    ZmrmcLibrary& library_;
    std::map<std::string, std::vector<std::string_view>> current_;
    std::map<std::string, uint16_t> ids_;
    std::vector<FileNote> notes_;
    Block block_;
    size_t line_ = 0;
    bool seen_header_ = false;
    bool stray_noted_ = false;
    size_t left_out_ = 0;  // notes beyond the most listed
};

}  // namespace

std::string ReadSettingsFile(const std::string& path) {
    fs::path host = qv::win::HostPath(AnsiFromUtf8(path));
    std::error_code ec;
    fs::file_status status = fs::status(host, ec);
    if (!fs::exists(status)) throw CommandError(path + ": no such file");
    if (fs::is_directory(status)) throw CommandError(path + ": a folder, not a settings file");
    uintmax_t size = fs::file_size(host, ec);
    if (!ec && size > kMaxFileSize) throw CommandError(path + ": larger than the 64 MB a settings file may have");
    std::ifstream in(host, std::ios::binary);
    if (!in) throw CommandError(path + ": cannot be read: " + std::strerror(errno));
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (text.empty()) throw CommandError(path + ": empty, not a settings file");
    std::string_view first;
    Lines(text).Next(&first);
    if (first != "English")
        throw CommandError(path + ": not a settings file the library reads: its first line must be \"English\"" +
                           " (it is '" + Utf8FromAnsi(first.substr(0, 40)) + "')");
    return text;
}

std::vector<FileNote> CheckSettingsFile(ZmrmcLibrary& library, std::string_view text, std::string_view current) {
    return Checker(library, current).Check(text);
}

std::string CurrentSettingsFile(ZmrmcLibrary& library, const char* password) {
    std::error_code ec;
    std::string pattern = (fs::temp_directory_path(ec) / "zmrmc-current-XXXXXX").string();
    int fd = mkstemp(pattern.data());
    if (fd < 0) throw CommandError("cannot make a temporary file in " + fs::temp_directory_path(ec).string());
    close(fd);
    bool written = library.WriteToFile(pattern.c_str(), 1, password) != 0;
    std::ifstream in(pattern, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    fs::remove(pattern, ec);
    if (!written) throw CommandError("the BIOS access library cannot write the current settings");
    return text;
}
