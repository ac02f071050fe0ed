#include "settings_xml_document.h"

#include "msxml.h"
#include "objbase.h"
#include "oleauto.h"
#include "windows.h"
#include "wrl/client.h"
#include "atlbase.h"

#include <cstring>
#include <initializer_list>
#include <new>
#include <string>
#include <utility>

namespace zmrmc {
namespace {

using ATL::CComBSTR;
using ATL::CComVariant;
using Microsoft::WRL::ComPtr;

constexpr uint16_t kUnused = 0xFFFF;

const char* TypeName(uint16_t type) {
    switch (type) {
    case SRI_TYPE_ENUM: return "enum";
    case SRI_TYPE_TEXT: return "alpha";
    case SRI_TYPE_BINARY: return "binary";
    case SRI_TYPE_INTEGER: return "int";
    case SRI_TYPE_PASSWORD: return "password";
    case SRI_TYPE_DATE: return "date";
    case SRI_TYPE_TIME: return "time";
    case SRI_TYPE_ORDERED_LIST: return "orderedlist";
    case SRI_TYPE_KEYED_ENUM: return "ext_enum";
    case SRI_TYPE_KEYED_INTEGER: return "ext_int";
    default: return "";
    }
}

std::string Signed16(uint16_t n) { return std::to_string(static_cast<int16_t>(n)); }
std::string Signed32(uint32_t n) { return std::to_string(static_cast<int32_t>(n)); }

// A BSTR of ANSI text; empty (null) when memory runs out.
CComBSTR AnsiBstr(std::string_view text) {
    int length = static_cast<int>(text.size());
    int wide = length == 0 ? 0 : MultiByteToWideChar(CP_ACP, 0, text.data(), length, nullptr, 0);
    CComBSTR result(wide, nullptr);
    if (result.m_str != nullptr && wide > 0) MultiByteToWideChar(CP_ACP, 0, text.data(), length, result.m_str, wide);
    return result;
}

using Element = ComPtr<IXMLDOMElement>;

// Builds nodes of one document; the first failure sticks and turns every later step into a no-op.
class Builder {
public:
    explicit Builder(IXMLDOMDocument* document) : document_(document) {}

    bool ok() const { return SUCCEEDED(result_); }

    void Make(Element& element, const wchar_t* name) {
        if (!ok()) return;
        CComBSTR tag(name);
        result_ = !tag ? E_OUTOFMEMORY : document_->createElement(tag, element.ReleaseAndGetAddressOf());
    }

    void Attribute(Element& element, const wchar_t* name, std::string_view value) {
        if (!ok()) return;
        CComVariant text;
        text.vt = VT_BSTR;
        text.bstrVal = AnsiBstr(value).Detach();
        CComBSTR key(name);
        result_ = !key || text.bstrVal == nullptr ? E_OUTOFMEMORY : element->setAttribute(key, text);
    }

    void Text(Element& element, std::string_view value) {
        if (!ok()) return;
        CComBSTR data = AnsiBstr(value);
        ComPtr<IXMLDOMText> text;
        result_ = !data ? E_OUTOFMEMORY : document_->createTextNode(data, text.GetAddressOf());
        if (ok()) result_ = element->appendChild(text.Get(), nullptr);
    }

    void Append(IXMLDOMNode* parent, Element& child) {
        if (ok()) result_ = parent->appendChild(child.Get(), nullptr);
    }

    // A child element with its attributes (name, value pairs) and text, appended to `parent`.
    void Child(Element& parent, const wchar_t* name,
               std::initializer_list<std::pair<const wchar_t*, std::string>> attributes, const char* text) {
        Element child;
        Make(child, name);
        for (const auto& [key, value] : attributes) Attribute(child, key, value);
        if (text != nullptr) Text(child, text);
        Append(parent.Get(), child);
    }

    HRESULT result() const { return result_; }

private:
    IXMLDOMDocument* document_;
    HRESULT result_ = S_OK;
};

void AddLanguage(SettingsModel& model, Builder& build, Element& root, SRI& table) {
    Element language;
    build.Make(language, L"Language");
    build.Attribute(language, L"Name", model.FindString(table.nameId, nullptr));
    for (uint16_t id = 0; id < table.elementCount && build.ok(); ++id)
        build.Child(language, L"STR", {{L"ID", std::to_string(id)}}, model.FindString(id, &table));
    build.Append(root.Get(), language);
}

void AddSubNames(SettingsModel& model, Builder& build, Element& setting, const SRI& sri) {
    for (uint16_t i = 0; i < 4; ++i) {
        uint16_t key = sri.instanceKey[i];
        if (key == kUnused) continue;
        build.Child(setting, L"SubName", {{L"StrID", Signed16(key)}, {L"Index", Signed16(i)}},
                    model.FindString(key, nullptr));
    }
}

void AddListValues(SettingsModel& model, Builder& build, Element& setting, const SRI& sri) {
    for (size_t position = 0, length = ListLength(sri); position < length && build.ok(); ++position) {
        uint16_t id = ListEntry(sri, position);
        build.Child(setting, L"Value",
                    {{L"StrID", Signed16(id)}, {L"Index", Signed16(static_cast<uint16_t>(position))}},
                    model.FindString(id, nullptr));
    }
}

void AddSetting(SettingsModel& model, Builder& build, Element& root, const SRI& sri) {
    Element setting;
    build.Make(setting, L"Setting");
    for (int slot = 0; slot < 6; ++slot) {
        if (sri.path[slot] == kUnused) continue;
        std::wstring name = L"Menu." + std::to_wstring(slot);
        build.Attribute(setting, name.c_str(), Signed16(sri.path[slot]));
    }
    if ((sri.flags & SRI_FLAG_READ_ONLY) != 0) build.Attribute(setting, L"ReadOnly", "true");
    build.Child(setting, L"Name", {{L"StrID", Signed16(sri.nameId)}}, model.FindString(sri.nameId, nullptr));
    std::string text(ValueText(sri));
    build.Attribute(setting, L"Type", TypeName(sri.type));
    switch (sri.type) {
    case SRI_TYPE_ENUM:
    case SRI_TYPE_KEYED_ENUM:
        build.Attribute(setting, L"SelectedIndex", Signed16(sri.currentIndex));
        if (sri.type == SRI_TYPE_KEYED_ENUM) AddSubNames(model, build, setting, sri);
        AddListValues(model, build, setting, sri);
        break;
    case SRI_TYPE_TEXT:
    case SRI_TYPE_PASSWORD:
        build.Child(setting, L"Value", {{L"MaxSize", std::to_string(sri.valueSize)}}, text.c_str());
        break;
    case SRI_TYPE_BINARY: build.Child(setting, L"Value", {{L"MaxSize", std::to_string(sri.valueSize)}}, nullptr); break;
    case SRI_TYPE_INTEGER:
    case SRI_TYPE_KEYED_INTEGER:
        build.Child(setting, L"Value", {{L"Min", Signed32(sri.lowerBound)}, {L"Max", Signed32(sri.upperBound)}},
                    Signed32(IntegerValue(sri)).c_str());
        if (sri.type == SRI_TYPE_KEYED_INTEGER) AddSubNames(model, build, setting, sri);
        break;
    case SRI_TYPE_DATE:
    case SRI_TYPE_TIME:
        build.Child(setting, L"Value", {{L"Min", Signed32(sri.lowerBound)}, {L"Max", Signed32(sri.upperBound)}},
                    text.c_str());
        break;
    case SRI_TYPE_ORDERED_LIST:
        build.Attribute(setting, L"Size", std::to_string(sri.elementCount));
        AddListValues(model, build, setting, sri);
        break;
    default: break;
    }
    build.Append(root.Get(), setting);
}

// Builds the whole document and saves it; S_OK or the first failure.
HRESULT BuildAndSave(SettingsModel& model, IXMLDOMDocument* document, const char* path) {
    Builder build(document);
    Element root;
    build.Make(root, L"BiosConfig");
    for (int i = 0, count = model.Count(); i < count && build.ok(); ++i)
        if (SRI* sri = model.At(i); sri->type == SRI_TYPE_STRING_TABLE) AddLanguage(model, build, root, *sri);
    for (int i = 0, count = model.Count(); i < count && build.ok(); ++i) {
        const SRI* sri = model.At(i);
        if (sri->type == SRI_TYPE_STRING_TABLE || std::strcmp(model.FindString(sri->nameId, nullptr), "ESCD") == 0)
            continue;
        AddSetting(model, build, root, *sri);
    }
    build.Append(document, root);
    if (!build.ok()) return build.result();
    CComVariant destination;
    destination.vt = VT_BSTR;
    destination.bstrVal = AnsiBstr(path).Detach();
    return destination.bstrVal != nullptr ? document->save(destination) : E_OUTOFMEMORY;
}

}  // namespace

bool WriteSettingsXml(SettingsModel& model, const char* path) {
    if (path == nullptr || model.Language() == nullptr) return false;
    HRESULT initialised = CoInitialize(nullptr);
    HRESULT hr;
    {
        ComPtr<IXMLDOMDocument> document;
        hr = CoCreateInstance(CLSID_DOMDocument, nullptr, CLSCTX_INPROC_SERVER, IID_IXMLDOMDocument,
                              reinterpret_cast<void**>(document.GetAddressOf()));
        if (SUCCEEDED(hr) && document) {
            try {
                hr = BuildAndSave(model, document.Get(), path);
            } catch (const std::bad_alloc&) {
                hr = E_OUTOFMEMORY;
            }
        } else if (SUCCEEDED(hr)) {
            hr = E_FAIL;
        }
    }  // the document goes before COM is uninitialised
    if (SUCCEEDED(initialised)) CoUninitialize();
    return SUCCEEDED(hr);
}

}  // namespace zmrmc
