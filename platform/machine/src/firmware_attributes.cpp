// Reading and writing the kernel's firmware-attributes files.

#include "firmware_attributes.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <sstream>

namespace fs = std::filesystem;

namespace qv::machine {
namespace {

std::optional<int64_t> NumberFile(const fs::path& file) {
    std::optional<std::string> text = ReadAttributeFile(file);
    if (!text || text->empty()) return std::nullopt;
    char* end = nullptr;
    errno = 0;
    long long n = std::strtoll(text->c_str(), &end, 0);
    if (errno != 0 || end == text->c_str() || *end != '\0') return std::nullopt;
    return n;
}

std::optional<uint32_t> LengthFile(const fs::path& file) {
    std::optional<int64_t> n = NumberFile(file);
    if (!n || *n < 0 || *n > 0xFFFFFFFF) return std::nullopt;
    return static_cast<uint32_t>(*n);
}

AttributeKind KindOf(const std::string& type) {
    if (type == "enumeration") return AttributeKind::Enumeration;
    if (type == "integer") return AttributeKind::Integer;
    if (type == "string") return AttributeKind::String;
    if (type == "ordered-list") return AttributeKind::OrderedList;
    return AttributeKind::Other;
}

std::vector<fs::path> Folders(const fs::path& parent) {
    std::vector<fs::path> found;
    std::error_code ec;
    for (fs::directory_iterator it(parent, ec), end; !ec && it != end; it.increment(ec))
        if (it->is_directory(ec)) found.push_back(it->path());
    std::sort(found.begin(), found.end());
    return found;
}

}  // namespace

std::optional<std::string> ReadAttributeFile(const fs::path& file) {
    int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    std::string text;
    char buffer[4096];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            int err = errno;
            ::close(fd);
            errno = err;
            return std::nullopt;
        }
        if (n == 0) break;
        text.append(buffer, static_cast<size_t>(n));
    }
    ::close(fd);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text;
}

bool Writable(const fs::path& file) {
    struct stat st {};
    return ::stat(file.c_str(), &st) == 0 && (st.st_mode & 0222) != 0;
}

int WriteAttributeFile(const fs::path& file, const std::string& text) {
    // O_TRUNC as the shell's ">" does: a plain file of a test tree then holds exactly the value; the kernel's
    // attribute files ignore it.
    int fd = ::open(file.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd < 0) return errno;
    ssize_t n;
    do {
        n = ::write(fd, text.data(), text.size());
    } while (n < 0 && errno == EINTR);
    int err = n < 0 ? errno : static_cast<size_t>(n) == text.size() ? 0 : EIO;
    if (::close(fd) != 0 && err == 0) err = errno;  // a file system may report the write's fate at close
    return err;
}

std::vector<std::string> SplitList(const std::string& text) {
    char separator = text.find(';') != std::string::npos ? ';' : ',';
    std::vector<std::string> items;
    std::stringstream in(text);
    std::string item;
    while (std::getline(in, item, separator)) {
        while (!item.empty() && item.back() == ' ') item.pop_back();
        while (!item.empty() && item.front() == ' ') item.erase(item.begin());
        if (!item.empty()) items.push_back(item);
    }
    return items;
}

std::vector<std::string> ResetOptions(const std::string& text) {
    std::vector<std::string> options;
    std::stringstream in(text);
    std::string word;
    while (in >> word) {
        if (word.size() >= 2 && word.front() == '[' && word.back() == ']') word = word.substr(1, word.size() - 2);
        if (!word.empty()) options.push_back(word);
    }
    return options;
}

std::vector<fs::path> FirmwareAttributeDrivers(const fs::path& root) {
    std::vector<fs::path> drivers;
    std::error_code ec;
    for (const fs::path& folder : Folders(root))
        if (fs::is_directory(folder / "attributes", ec)) drivers.push_back(folder);
    return drivers;
}

std::optional<FirmwareAttribute> ReadAttribute(const fs::path& folder) {
    std::optional<std::string> type = ReadAttributeFile(folder / "type");
    if (!type) return std::nullopt;
    FirmwareAttribute a;
    a.folder = folder;
    a.driver = folder.parent_path().parent_path().filename().string();
    a.name = folder.filename().string();
    a.displayName = ReadAttributeFile(folder / "display_name").value_or("");
    a.typeText = *type;
    a.kind = KindOf(*type);
    switch (a.kind) {
    case AttributeKind::Enumeration:
        a.choices = SplitList(ReadAttributeFile(folder / "possible_values").value_or(""));
        break;
    case AttributeKind::OrderedList: a.choices = SplitList(ReadAttributeFile(folder / "elements").value_or("")); break;
    case AttributeKind::Integer:
        a.minValue = NumberFile(folder / "min_value").value_or(0);
        a.maxValue = NumberFile(folder / "max_value").value_or(0xFFFFFFFF);
        a.increment = std::max<int64_t>(1, NumberFile(folder / "scalar_increment").value_or(1));
        break;
    case AttributeKind::String:
        a.minLength = LengthFile(folder / "min_length");
        a.maxLength = LengthFile(folder / "max_length");
        break;
    case AttributeKind::Other: break;
    }
    return a;
}

std::vector<FirmwareAttribute> ReadAttributes(const fs::path& driver) {
    std::vector<FirmwareAttribute> attributes;
    for (const fs::path& folder : Folders(driver / "attributes"))
        if (std::optional<FirmwareAttribute> a = ReadAttribute(folder)) attributes.push_back(std::move(*a));
    return attributes;
}

std::vector<FirmwareAuthentication> ReadAuthentications(const fs::path& driver) {
    std::vector<FirmwareAuthentication> found;
    for (const fs::path& folder : Folders(driver / "authentication")) {
        FirmwareAuthentication a;
        a.folder = folder;
        a.name = folder.filename().string();
        a.role = ReadAttributeFile(folder / "role").value_or("");
        a.minLength = LengthFile(folder / "min_password_length");
        a.maxLength = LengthFile(folder / "max_password_length");
        found.push_back(std::move(a));
    }
    return found;
}

}  // namespace qv::machine
