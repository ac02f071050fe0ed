// Type libraries: loading the platform's text form and recording it in the registry.

#include "objbase.h"
#include "ole2.h"
#include "qv_com_object.h"
#include "qv_resource_notes.h"
#include "qv_system_root.h"
#include "windows.h"
#include "winreg.h"

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

// {6E0C4B51-3A8E-4C55-9D0B-7E5A2F1C9A02}: asked of an ITypeLib to reach its content.
DEFINE_GUID(IID_IQvTypeLibrary, 0x6e0c4b51, 0x3a8e, 0x4c55, 0x9d, 0x0b, 0x7e, 0x5a, 0x2f, 0x1c, 0x9a, 0x02);
// The automation marshaler, the usual proxy/stub class of dispatch interfaces.
const wchar_t kDispatchProxyStub[] = L"{00020424-0000-0000-C000-000000000046}";

struct TypeItem {
    TYPEKIND kind;
    std::wstring name;
    GUID guid;
};

class TypeLibrary final : public qv::com::Object<ITypeLib> {
public:
    std::wstring name;
    TLIBATTR attributes{};
    std::vector<TypeItem> items;

    // IID_IQvTypeLibrary tells this runtime's own libraries from others.
    void* FindOther(REFIID riid) override {
        return riid == IID_IQvTypeLibrary ? static_cast<ITypeLib*>(this) : nullptr;
    }

    STDMETHODIMP_(UINT) GetTypeInfoCount() override { return static_cast<UINT>(items.size()); }
    STDMETHODIMP GetTypeInfo(UINT, ITypeInfo** info) override {
        if (info != nullptr) *info = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP GetTypeInfoType(UINT index, TYPEKIND* kind) override {
        if (kind == nullptr) return E_INVALIDARG;
        if (index >= items.size()) return TYPE_E_ELEMENTNOTFOUND;
        *kind = items[index].kind;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfoOfGuid(REFGUID, ITypeInfo** info) override {
        if (info != nullptr) *info = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP GetLibAttr(TLIBATTR** out) override {
        if (out == nullptr) return E_INVALIDARG;
        *out = new TLIBATTR(attributes);
        return S_OK;
    }
    STDMETHODIMP GetTypeComp(ITypeComp** comp) override {
        if (comp != nullptr) *comp = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP GetDocumentation(INT index, BSTR* docName, BSTR* docString, DWORD* helpContext,
                                  BSTR* helpFile) override {
        if (index >= static_cast<INT>(items.size()) || index < -1) return TYPE_E_ELEMENTNOTFOUND;
        if (docName != nullptr)
            *docName = SysAllocString(index < 0 ? name.c_str() : items[static_cast<size_t>(index)].name.c_str());
        if (docString != nullptr) *docString = nullptr;
        if (helpContext != nullptr) *helpContext = 0;
        if (helpFile != nullptr) *helpFile = nullptr;
        return S_OK;
    }
    STDMETHODIMP IsName(LPOLESTR, ULONG, BOOL* found) override {
        if (found != nullptr) *found = FALSE;
        return E_NOTIMPL;
    }
    STDMETHODIMP FindName(LPOLESTR, ULONG, ITypeInfo**, MEMBERID*, USHORT*) override { return E_NOTIMPL; }
    STDMETHODIMP_(void) ReleaseTLibAttr(TLIBATTR* out) override { delete out; }

private:
    ~TypeLibrary() = default;
};

bool Parse(const std::string& text, TypeLibrary* library) {
    std::istringstream lines(text);
    std::string line;
    bool have_library = false;
    while (std::getline(lines, line)) {
        std::istringstream words(line);
        std::string kind, name, guid, extra, more;
        if (!(words >> kind) || kind[0] == '#') continue;
        if (!(words >> name >> guid)) return false;
        words >> extra >> more;
        GUID id{};
        if (FAILED(CLSIDFromString(qv::win::FromUtf8(guid).c_str(), &id)) || guid[0] != '{') return false;
        std::wstring wide = qv::win::FromUtf8(name);
        if (kind == "library") {
            unsigned major = 0, minor = 0;
            if (have_library || std::sscanf(extra.c_str(), "%u.%u", &major, &minor) != 2 || major > 0xFFFF ||
                minor > 0xFFFF)
                return false;
            library->name = wide;
            library->attributes.guid = id;
            library->attributes.wMajorVerNum = static_cast<WORD>(major);
            library->attributes.wMinorVerNum = static_cast<WORD>(minor);
            library->attributes.lcid = more.empty() ? 0 : static_cast<LCID>(std::stoul(more, nullptr, 0));
            library->attributes.syskind = SYS_WIN32;
            have_library = true;
        } else if (kind == "interface") {
            library->items.push_back({extra == "dispatch" ? TKIND_DISPATCH : TKIND_INTERFACE, wide, id});
        } else if (kind == "coclass") {
            library->items.push_back({TKIND_COCLASS, wide, id});
        } else {
            return false;
        }
    }
    return have_library;
}

// The text of the library: resource TYPELIB n of a module, or the file itself.
bool ReadLibraryText(const std::wstring& file, std::string* text) {
    std::wstring path = file;
    WORD index = 1;
    size_t cut = path.find_last_of(L"\\/");
    if (cut != std::wstring::npos && cut + 1 < path.size() &&
        path.find_first_not_of(L"0123456789", cut + 1) == std::wstring::npos) {
        index = static_cast<WORD>(std::stoul(path.substr(cut + 1)));
        path.resize(cut);
    }
    std::string host = qv::win::HostPath(path).string();
    std::string storage;
    bool found = false;
    qv::win::ResourceId type = qv::win::ResourceIdFromArgument(L"TYPELIB");
    qv::win::ResourceId name = qv::win::ResourceIdFromArgument(MAKEINTRESOURCEW(index));
    qv::win::ReadFileResources(host, storage, [&](const qv::win::ResourceEntry& e) {
        if (!found && e.type == type && e.name == name) {
            text->assign(reinterpret_cast<const char*>(e.data), e.size);
            found = true;
        }
    });
    if (found) return true;
    std::ifstream in(host, std::ios::binary);
    if (!in) return false;
    std::stringstream bytes;
    bytes << in.rdbuf();
    *text = bytes.str();
    return true;
}

std::wstring Version(const TLIBATTR& a) {
    return std::to_wstring(a.wMajorVerNum) + L"." + std::to_wstring(a.wMinorVerNum);
}

std::wstring Hex(DWORD value) {
    wchar_t text[16];
    std::swprintf(text, 16, L"%x", value);
    return text;
}

HRESULT SetText(const std::wstring& path, LPCWSTR name, const std::wstring& value) {
    HKEY key = nullptr;
    LONG rc = RegCreateKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
    if (rc == ERROR_SUCCESS) {
        rc = RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                            static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
        RegCloseKey(key);
    }
    return rc == ERROR_SUCCESS ? S_OK : TYPE_E_REGISTRYACCESS;
}

std::wstring GetText(const std::wstring& path, LPCWSTR name) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) return {};
    wchar_t buffer[MAX_PATH * 2] = {};
    DWORD size = sizeof(buffer) - sizeof(wchar_t);
    LONG rc = RegQueryValueExW(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(buffer), &size);
    RegCloseKey(key);
    return rc == ERROR_SUCCESS ? buffer : L"";
}

std::wstring GuidText(REFGUID g) {
    wchar_t text[39];
    StringFromGUID2(g, text, 39);
    return text;
}

}  // namespace

HRESULT LoadTypeLibEx(LPCOLESTR file, REGKIND kind, ITypeLib** out) {
    if (file == nullptr || out == nullptr) return E_INVALIDARG;
    *out = nullptr;
    std::string text;
    if (!ReadLibraryText(file, &text)) return TYPE_E_CANTLOADLIBRARY;
    auto* library = new TypeLibrary();
    if (!Parse(text, library)) {
        library->Release();
        return TYPE_E_INVDATAREAD;
    }
    if (kind == REGKIND_REGISTER) {
        HRESULT hr = RegisterTypeLib(library, file, nullptr);
        if (FAILED(hr)) {
            library->Release();
            return hr;
        }
    }
    *out = library;
    return S_OK;
}

HRESULT LoadTypeLib(LPCOLESTR file, ITypeLib** out) { return LoadTypeLibEx(file, REGKIND_DEFAULT, out); }

HRESULT RegisterTypeLib(ITypeLib* library, LPCOLESTR fullPath, LPCOLESTR helpDir) {
    if (library == nullptr || fullPath == nullptr) return E_INVALIDARG;
    TypeLibrary* lib = nullptr;
    if (FAILED(library->QueryInterface(IID_IQvTypeLibrary, reinterpret_cast<void**>(&lib)))) return E_INVALIDARG;
    const TLIBATTR& a = lib->attributes;
    std::wstring base = L"TypeLib\\" + GuidText(a.guid) + L"\\" + Version(a);
    std::wstring path = fullPath;
    std::wstring help = helpDir != nullptr ? helpDir : path.substr(0, path.find_last_of(L"\\/") + 1);
    HRESULT hr = SetText(base, nullptr, lib->name);
    if (SUCCEEDED(hr)) hr = SetText(base + L"\\" + Hex(a.lcid) + L"\\win32", nullptr, path);
    if (SUCCEEDED(hr)) hr = SetText(base + L"\\FLAGS", nullptr, L"0");
    if (SUCCEEDED(hr)) hr = SetText(base + L"\\HELPDIR", nullptr, help);
    for (const auto& item : lib->items) {
        if (FAILED(hr) || item.kind == TKIND_COCLASS) continue;
        std::wstring key = L"Interface\\" + GuidText(item.guid);
        hr = SetText(key, nullptr, item.name);
        if (SUCCEEDED(hr)) hr = SetText(key + L"\\ProxyStubClsid32", nullptr, kDispatchProxyStub);
        if (SUCCEEDED(hr)) hr = SetText(key + L"\\TypeLib", nullptr, GuidText(a.guid));
        if (SUCCEEDED(hr)) hr = SetText(key + L"\\TypeLib", L"Version", Version(a));
    }
    lib->Release();
    return hr;
}

HRESULT UnRegisterTypeLib(REFGUID libid, WORD major, WORD minor, LCID locale, SYSKIND) {
    std::wstring library = L"TypeLib\\" + GuidText(libid);
    std::wstring base = library + L"\\" + std::to_wstring(major) + L"." + std::to_wstring(minor);
    std::wstring path = GetText(base + L"\\" + Hex(locale) + L"\\win32", nullptr);
    if (path.empty()) return TYPE_E_REGISTRYACCESS;
    // The interfaces to remove are those the library declares and that still name this library.
    ITypeLib* loaded = nullptr;
    if (SUCCEEDED(LoadTypeLibEx(path.c_str(), REGKIND_NONE, &loaded))) {
        TypeLibrary* lib = nullptr;
        loaded->QueryInterface(IID_IQvTypeLibrary, reinterpret_cast<void**>(&lib));
        for (const auto& item : lib->items) {
            std::wstring key = L"Interface\\" + GuidText(item.guid);
            if (item.kind != TKIND_COCLASS && GetText(key + L"\\TypeLib", nullptr) == GuidText(libid))
                RegDeleteTreeW(HKEY_CLASSES_ROOT, key.c_str());
        }
        lib->Release();
        loaded->Release();
    }
    if (RegDeleteTreeW(HKEY_CLASSES_ROOT, base.c_str()) != ERROR_SUCCESS) return TYPE_E_REGISTRYACCESS;
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, library.c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS) {
        wchar_t name[64];
        DWORD size = 64;
        bool empty = RegEnumKeyExW(key, 0, name, &size, nullptr, nullptr, nullptr, nullptr) == ERROR_NO_MORE_ITEMS;
        RegCloseKey(key);
        if (empty) RegDeleteTreeW(HKEY_CLASSES_ROOT, library.c_str());
    }
    return S_OK;
}
