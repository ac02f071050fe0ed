// Parsing resource notes, in memory and from ELF files on disk.

#include "qv_resource_notes.h"
#include "qv_system_root.h"
#include "windows.h"

#include <elf.h>

#include <cstring>
#include <cwctype>
#include <fstream>
#include <vector>
#include <iterator>

namespace qv::win {
namespace {

constexpr char kOwner[] = "QVRSRC";
constexpr uint32_t kNoteType = 0x5156;

size_t Align4(size_t n) { return (n + 3) & ~size_t{3}; }

uint32_t ReadU32(const BYTE* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

// Reads one type-or-name field at *offset within [desc, desc+size).
bool ReadId(const BYTE* desc, size_t size, size_t* offset, ResourceId* id) {
    if (size - *offset < 8) return false;
    uint32_t kind = ReadU32(desc + *offset);
    uint32_t value = ReadU32(desc + *offset + 4);
    *offset += 8;
    if (kind == 0) {
        if (value > 0xFFFF) return false;
        id->is_integer = true;
        id->id = static_cast<WORD>(value);
        return true;
    }
    if (kind != 1 || value == 0 || size - *offset < Align4(value)) return false;
    std::wstring name = FromUtf8(std::string(reinterpret_cast<const char*>(desc + *offset), value));
    for (auto& c : name) c = static_cast<wchar_t>(std::towupper(static_cast<wint_t>(c)));
    id->is_integer = false;
    id->name = std::move(name);
    *offset += Align4(value);
    return true;
}

}  // namespace

bool operator==(const ResourceId& a, const ResourceId& b) {
    return a.is_integer == b.is_integer && (a.is_integer ? a.id == b.id : a.name == b.name);
}

ResourceId ResourceIdFromArgument(LPCWSTR argument) {
    ResourceId id;
    if (IS_INTRESOURCE(argument)) {
        id.id = static_cast<WORD>(reinterpret_cast<ULONG_PTR>(argument));
        return id;
    }
    std::wstring text(argument);
    if (text.size() > 1 && text[0] == L'#') {
        unsigned long value = 0;
        bool digits = true;
        for (size_t i = 1; i < text.size() && digits; ++i) {
            digits = text[i] >= L'0' && text[i] <= L'9';
            value = value * 10 + static_cast<unsigned long>(text[i] - L'0');
            if (value > 0xFFFF) digits = false;
        }
        if (digits) {
            id.id = static_cast<WORD>(value);
            return id;
        }
    }
    id.is_integer = false;
    for (auto& c : text) c = static_cast<wchar_t>(std::towupper(static_cast<wint_t>(c)));
    id.name = std::move(text);
    return id;
}

bool ParseResourceNotes(const BYTE* notes, size_t size, const std::function<void(const ResourceEntry&)>& found) {
    size_t offset = 0;
    while (size - offset >= 12) {
        uint32_t namesz = ReadU32(notes + offset);
        uint32_t descsz = ReadU32(notes + offset + 4);
        uint32_t type = ReadU32(notes + offset + 8);
        offset += 12;
        if (size - offset < Align4(namesz)) return false;
        const BYTE* name = notes + offset;
        offset += Align4(namesz);
        if (size - offset < Align4(descsz)) return false;
        const BYTE* desc = notes + offset;
        offset += Align4(descsz);
        if (type != kNoteType || namesz != sizeof kOwner || std::memcmp(name, kOwner, sizeof kOwner) != 0) continue;

        ResourceEntry entry;
        size_t at = 4;
        if (descsz < 4) return false;
        entry.language = static_cast<WORD>(desc[0] | (desc[1] << 8));
        if (!ReadId(desc, descsz, &at, &entry.type) || !ReadId(desc, descsz, &at, &entry.name)) return false;
        if (descsz - at < 4) return false;
        uint32_t data_size = ReadU32(desc + at);
        at += 4;
        if (descsz - at < data_size) return false;
        entry.data = desc + at;
        entry.size = data_size;
        found(entry);
    }
    return true;
}

bool ReadFileResources(const std::string& host_path, std::string& storage,
                       const std::function<void(const ResourceEntry&)>& found) {
    // Only the headers and the note segments are read: programs carry large resources and debug data, and a
    // version query must not read all of it.
    std::ifstream in(host_path, std::ios::binary);
    if (!in) return false;
    in.seekg(0, std::ios::end);
    std::streamoff end = in.tellg();
    if (end < 0) return false;
    size_t size = static_cast<size_t>(end);
    auto read_at = [&](size_t offset, void* to, size_t length) {
        in.seekg(static_cast<std::streamoff>(offset));
        return static_cast<bool>(in.read(static_cast<char*>(to), static_cast<std::streamsize>(length)));
    };
    Elf64_Ehdr header;
    if (size < sizeof header || !read_at(0, &header, sizeof header)) return false;
    if (std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 || header.e_ident[EI_CLASS] != ELFCLASS64) return false;
    if (header.e_phentsize != sizeof(Elf64_Phdr) || header.e_phoff > size ||
        (size - header.e_phoff) / sizeof(Elf64_Phdr) < header.e_phnum)
        return false;
    std::vector<Elf64_Phdr> notes;
    size_t total = 0;
    for (unsigned i = 0; i < header.e_phnum; ++i) {
        Elf64_Phdr ph;
        if (!read_at(header.e_phoff + i * sizeof(Elf64_Phdr), &ph, sizeof ph)) return false;
        if (ph.p_type != PT_NOTE) continue;
        if (ph.p_offset > size || size - ph.p_offset < ph.p_filesz) return false;
        notes.push_back(ph);
        total += ph.p_filesz;
    }
    // One buffer for every note segment, so that entries stay valid as long as storage does.
    storage.assign(total, '\0');
    size_t at = 0;
    for (const Elf64_Phdr& ph : notes) {
        if (ph.p_filesz != 0 && !read_at(ph.p_offset, storage.data() + at, ph.p_filesz)) return false;
        at += ph.p_filesz;
    }
    at = 0;
    for (const Elf64_Phdr& ph : notes) {
        if (!ParseResourceNotes(reinterpret_cast<const BYTE*>(storage.data()) + at, ph.p_filesz, found)) return false;
        at += ph.p_filesz;
    }
    return true;
}

}  // namespace qv::win
