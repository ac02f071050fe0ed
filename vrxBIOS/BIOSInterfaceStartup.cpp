// Start-up and termination of the provider object: its identity from the version resource, the settings
// library written out and bound, the firmware's settings read once.

#include "BIOSInterface.h"
#include "DebugTrace.h"
#include "ResourceFile.h"
#include "WorkingFolder.h"
#include "resource.h"

#include <cstring>
#include <vector>

namespace {

constexpr wchar_t kLibraryFile[] = L"ZMRMC.DLL";

// One string of the program's own version resource (language 0x0409, code page 1200); absent when the
// resource or the string is missing.
std::optional<std::wstring> VersionString(const std::vector<BYTE>& block, LPCWSTR key) {
    if (block.empty()) return std::nullopt;
    std::wstring query = std::wstring(L"\\StringFileInfo\\040904B0\\") + key;
    LPVOID value = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(block.data(), query.c_str(), &value, &length) || value == nullptr) return std::nullopt;
    return std::wstring(static_cast<LPCWSTR>(value));
}

std::vector<BYTE> OwnVersionBlock() {
    wchar_t program[MAX_PATH * 4] = {};
    DWORD n = GetModuleFileNameW(nullptr, program, MAX_PATH * 4);
    if (n == 0 || n >= MAX_PATH * 4) return {};
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeW(program, &ignored);
    if (size == 0) return {};
    std::vector<BYTE> block(size);
    if (!GetFileVersionInfoW(program, 0, size, block.data())) return {};
    return block;
}

// True when the file at path holds exactly the bytes of resource "BINARY"/id. The provider then uses the
// library already written by an earlier start instead of deleting and rewriting it.
bool FileHoldsResource(HMODULE module, UINT id, LPCWSTR path) {
    HRSRC resource = FindResourceW(module, MAKEINTRESOURCEW(id), L"BINARY");
    HGLOBAL loaded = resource != nullptr ? LoadResource(module, resource) : nullptr;
    const BYTE* bytes = loaded != nullptr ? static_cast<const BYTE*>(LockResource(loaded)) : nullptr;
    DWORD size = resource != nullptr ? SizeofResource(module, resource) : 0;
    if (bytes == nullptr || size == 0) return false;
    WIN32_FILE_ATTRIBUTE_DATA existing;
    if (!GetFileAttributesExW(path, GetFileExInfoStandard, &existing) || existing.nFileSizeHigh != 0 ||
        existing.nFileSizeLow != size)
        return false;
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    std::vector<BYTE> chunk(1 << 20);
    DWORD compared = 0;
    bool same = true;
    while (same && compared < size) {
        DWORD wanted = size - compared < chunk.size() ? size - compared : static_cast<DWORD>(chunk.size());
        DWORD got = 0;
        same = ReadFile(file, chunk.data(), wanted, &got, nullptr) && got == wanted &&
               std::memcmp(chunk.data(), bytes + compared, wanted) == 0;
        compared += got;
    }
    CloseHandle(file);
    return same;
}

}  // namespace

void BIOSInterface::StartUp() {
    ready_ = 0;
    std::vector<BYTE> version = OwnVersionBlock();
    identity_.name = VersionString(version, L"Comments");
    identity_.version = VersionString(version, L"ProductVersion");
    identity_.build = VersionString(version, L"FileVersion");
    DebugTrace(L"Initializing %s....", identity_.name ? identity_.name->c_str() : nullptr);
    DebugTrace(L"  Version: %s", identity_.version ? identity_.version->c_str() : nullptr);
    DebugTrace(L"  Build:   %s", identity_.build ? identity_.build->c_str() : nullptr);

    LPWSTR folder = GetWorkingFolder(L"vrxBIOS");
    if (folder == nullptr) {
        // Without a working folder there is no library of ours to load (and a bare file name would load
        // whatever "ZMRMC.DLL" the current directory holds).
        DebugTrace(L"  Failed to initialize zmrmc...");
        return;
    }
    working_folder_ = folder;
    delete[] folder;
    CreateDirectoryW(working_folder_.c_str(), nullptr);
    library_path_ = working_folder_ + kLibraryFile;
    HMODULE program = GetModuleHandleW(nullptr);
    if (!FileHoldsResource(program, IDR_ZMRMC_LIBRARY, library_path_.c_str()))
        ExtractResourceFile(program, IDR_ZMRMC_LIBRARY, library_path_.c_str());

    library_holder_ = std::make_unique<LibraryBinding>();
    library_ = library_holder_.get();
    if (library_->Bind(library_path_.c_str(), 0, 1) == 0) {
        DebugTrace(L"  Failed to initialize zmrmc...");
        return;
    }
    // A read takes a reference whether it succeeds or not; it is given back either way.
    int read = library_->ReadFromSystem(nullptr);
    library_->Release();
    if (read == 0) {
        DebugTrace(L"  Failed to retrieve system configuration...");
        return;
    }
    ready_ = 1;
}

void BIOSInterface::Terminate() {
    settings_.ClearNames();
    ready_ = 0;
    library_ = nullptr;
    library_holder_.reset();
    library_path_.clear();
    working_folder_.clear();
    DebugTrace(L"Terminating %s....", identity_.name ? identity_.name->c_str() : nullptr);
    identity_ = ProviderIdentity{};
}
