// How resources are carried in a module image.
//
// Each resource is one ELF note with owner "QVRSRC" and note type 0x5156, in an allocated note section, so the
// loader maps it with the module and a file reader finds it through the program headers. The descriptor is:
//   u16 language, u16 reserved, type, name, u32 data size, data
// where type and name are each: u32 kind (0 integer identifier, 1 string), u32 value (identifier, or byte
// length of the UTF-8 string that follows, padded to 4 bytes). cmake/QvResources.cmake writes these notes.
#pragma once

#include "windef.h"

#include <cstdint>
#include <functional>
#include <string>

namespace qv::win {

struct ResourceId {
    bool is_integer = true;
    WORD id = 0;
    std::wstring name;  // upper-cased, as Windows compares resource names without regard to case
};

struct ResourceEntry {
    ResourceId type;
    ResourceId name;
    WORD language = 0;
    const BYTE* data = nullptr;
    DWORD size = 0;
};

// Walks a block of ELF notes; calls `found` for each well-formed resource note. Returns false (and stops)
// when the block is malformed: a note or descriptor that runs past the end.
bool ParseResourceNotes(const BYTE* notes, size_t size, const std::function<void(const ResourceEntry&)>& found);

// Resource identifier from a Win32 argument (MAKEINTRESOURCE value, "#123" or a name).
ResourceId ResourceIdFromArgument(LPCWSTR argument);
bool operator==(const ResourceId& a, const ResourceId& b);

// Reads the notes of an ELF file on disk (no loading): every resource of the file, copied into `storage`.
bool ReadFileResources(const std::string& host_path, std::string& storage,
                       const std::function<void(const ResourceEntry&)>& found);

}  // namespace qv::win
