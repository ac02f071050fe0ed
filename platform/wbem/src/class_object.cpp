// IWbemClassObject: properties, system properties, qualifiers, methods, spawning and cloning.
#include "qv_class_object.h"

#include "by_value.h"
#include "qualifier_set.h"
#include "qv_cim_variant.h"
#include "qv_object_codec.h"
#include "qv_wbem_classes.h"
#include "qv_wbem_interface_ids.h"

namespace qv::wbem {

namespace {

// Private interface through which our own objects are recognised (embedded objects, signatures, Put*).
// {6E1B5C2A-3F0D-4C1E-9A57-2B8C0D4E7F11}
DEFINE_GUID(IID_IQvCimObject, 0x6e1b5c2a, 0x3f0d, 0x4c1e, 0x9a, 0x57, 0x2b, 0x8c, 0x0d, 0x4e, 0x7f, 0x11);

const wchar_t* const kSystemProperties[] = {
    L"__GENUS",          L"__CLASS",      L"__SUPERCLASS", L"__DYNASTY",   L"__RELPATH",
    L"__PROPERTY_COUNT", L"__DERIVATION", L"__SERVER",     L"__NAMESPACE", L"__PATH"};

bool IsSystemName(const std::wstring& name) { return name.size() >= 2 && name[0] == L'_' && name[1] == L'_'; }

CimValue TextOrNull(const std::wstring& text) {
    return text.empty() ? CimValue::Null(CIM_STRING) : CimValue::String(text);
}

// The value of a system property; false when `name` is not one.
bool SystemValue(const CimObject& o, const std::wstring& name, CimValue* value) {
    if (!IsSystemName(name)) return false;
    if (NamesEqual(name, L"__GENUS"))
        *value = CimValue::Sint(CIM_SINT32, o.genus);
    else if (NamesEqual(name, L"__CLASS"))
        *value = TextOrNull(o.className);
    else if (NamesEqual(name, L"__SUPERCLASS"))
        *value = TextOrNull(o.superclass);
    else if (NamesEqual(name, L"__DYNASTY"))
        *value = TextOrNull(o.derivation.empty() ? (o.IsClass() ? o.className : L"") : o.derivation.back());
    else if (NamesEqual(name, L"__RELPATH"))
        *value = TextOrNull(RelativePath(o));
    else if (NamesEqual(name, L"__PROPERTY_COUNT"))
        *value = CimValue::Sint(CIM_SINT32, static_cast<int64_t>(o.properties.size()));
    else if (NamesEqual(name, L"__DERIVATION")) {
        *value = CimValue{CIM_STRING | CIM_FLAG_ARRAY, false, {}};
        for (const auto& d : o.derivation) value->elements.push_back(d);
    } else if (NamesEqual(name, L"__SERVER"))
        *value = TextOrNull(o.server);
    else if (NamesEqual(name, L"__NAMESPACE"))
        *value = TextOrNull(o.nameSpace);
    else if (NamesEqual(name, L"__PATH"))
        *value = TextOrNull(FullPath(o));
    else
        return false;
    return true;
}

struct IQvCimObject : IUnknown {
    virtual CimObject* Data() = 0;

protected:
    ~IQvCimObject() = default;
};

}  // namespace
}  // namespace qv::wbem

QV_COM_INTERFACE_ID(qv::wbem::IQvCimObject, IUnknown, qv::wbem::IID_IQvCimObject);

namespace qv::wbem {
namespace {

class ClassObject final : public qv::com::Object<IWbemClassObject, IQvCimObject, ByValueMarshal> {
public:
    explicit ClassObject(CimObject object) : object_(std::move(object)) {}

    // Objects cross processes by value, as the codec's bytes.
    CLSID UnmarshalClass() const override { return CLSID_QvWbemObjectUnmarshal; }
    std::vector<uint8_t> MarshalBytes() override { return EncodeObject(object_); }

    CimObject* Data() override { return &object_; }

    STDMETHODIMP GetQualifierSet(IWbemQualifierSet** qualifiers) override {
        if (!qualifiers) return WBEM_E_INVALID_PARAMETER;
        *qualifiers = CreateQualifierSet(Self(), &object_, QualifierTarget::Object, L"");
        return S_OK;
    }

    STDMETHODIMP Get(LPCWSTR name, LONG flags, VARIANT* value, CIMTYPE* type, LONG* flavor) override {
        if (!name || flags != 0) return WBEM_E_INVALID_PARAMETER;
        CimValue system;
        if (SystemValue(object_, name, &system)) {
            if (type) *type = system.type;
            if (flavor) *flavor = WBEM_FLAVOR_ORIGIN_SYSTEM;
            return value ? ToVariant(system, value) : S_OK;
        }
        const Property* p = FindProperty(object_, name);
        if (!p) return WBEM_E_NOT_FOUND;
        return PropertyValue(*p, value, type, flavor);
    }

    STDMETHODIMP Put(LPCWSTR name, LONG flags, VARIANT* value, CIMTYPE type) override {
        if (!name || !*name || flags != 0) return WBEM_E_INVALID_PARAMETER;
        std::wstring n = name;
        if (IsSystemName(n)) {
            if (NamesEqual(n, L"__CLASS") && object_.IsClass()) {
                CimValue text;
                if (FAILED(FromVariant(value, CIM_STRING, &text)) || text.null) return WBEM_E_TYPE_MISMATCH;
                object_.className = std::get<std::wstring>(text.elements[0]);
                for (Property& p : object_.properties)
                    if (p.origin.empty()) p.origin = object_.className;
                for (Method& m : object_.methods)
                    if (m.origin.empty()) m.origin = object_.className;
                return S_OK;
            }
            return WBEM_E_READ_ONLY;
        }
        if (Property* p = FindProperty(object_, n)) {
            if (type != 0 && type != p->type) return WBEM_E_TYPE_MISMATCH;
            CimValue converted;
            HRESULT hr = FromVariant(value, p->type, &converted);
            if (FAILED(hr)) return hr;
            p->value = std::move(converted);
            return S_OK;
        }
        if (!object_.IsClass()) return WBEM_E_NOT_FOUND;
        CIMTYPE newType = type != 0 ? type : CimTypeOfVariant(value);
        if (newType == CIM_EMPTY || CimTypeName(newType).empty()) return WBEM_E_INVALID_PROPERTY_TYPE;
        Property p;
        p.name = n;
        p.type = newType;
        p.origin = object_.className;
        HRESULT hr = FromVariant(value, newType, &p.value);
        if (FAILED(hr)) return hr;
        object_.properties.push_back(std::move(p));
        return S_OK;
    }

    STDMETHODIMP Delete(LPCWSTR name) override {
        if (!name) return WBEM_E_INVALID_PARAMETER;
        if (IsSystemName(name)) return WBEM_E_SYSTEM_PROPERTY;
        for (auto it = object_.properties.begin(); it != object_.properties.end(); ++it) {
            if (!NamesEqual(it->name, name)) continue;
            if (!object_.IsClass()) {
                it->value = CimValue::Null(it->type);
                return S_OK;
            }
            if (!NamesEqual(it->origin, object_.className)) return WBEM_E_PROPAGATED_PROPERTY;
            object_.properties.erase(it);
            return S_OK;
        }
        return WBEM_E_NOT_FOUND;
    }

    STDMETHODIMP GetNames(LPCWSTR qualifierName, LONG flags, VARIANT* qualifierValue, SAFEARRAY** names) override {
        if (!names) return WBEM_E_INVALID_PARAMETER;
        std::vector<std::wstring> selected;
        HRESULT hr = SelectNames(qualifierName, flags, qualifierValue, &selected);
        if (FAILED(hr)) return hr;
        *names = SafeArrayCreateVector(VT_BSTR, 0, static_cast<ULONG>(selected.size()));
        if (!*names) return WBEM_E_OUT_OF_MEMORY;
        for (LONG i = 0; i < static_cast<LONG>(selected.size()); ++i) {
            BSTR text = SysAllocString(selected[i].c_str());
            SafeArrayPutElement(*names, &i, text);
            SysFreeString(text);
        }
        return S_OK;
    }

    STDMETHODIMP BeginEnumeration(LONG flags) override {
        if (flags & ~(WBEM_MASK_CONDITION_ORIGIN | WBEM_FLAG_KEYS_ONLY | WBEM_FLAG_REFS_ONLY))
            return WBEM_E_INVALID_PARAMETER;
        HRESULT hr = SelectNames(nullptr, flags, nullptr, &enumeration_);
        position_ = 0;
        hint_ = 0;
        enumerating_ = SUCCEEDED(hr);
        return hr;
    }

    STDMETHODIMP Next(LONG, BSTR* name, VARIANT* value, CIMTYPE* type, LONG* flavor) override {
        if (!enumerating_) return WBEM_E_UNEXPECTED;
        while (position_ < enumeration_.size()) {
            const std::wstring& n = enumeration_[position_++];
            // Properties come in their order, so the next one is usually right after the last one found: that
            // saves a search by name (ignoring case) through every property for each.
            if (!IsSystemName(n) && hint_ < object_.properties.size() && object_.properties[hint_].name == n) {
                HRESULT hr = PropertyValue(object_.properties[hint_++], value, type, flavor);
                if (SUCCEEDED(hr) && name) *name = SysAllocStringLen(n.data(), static_cast<UINT>(n.size()));
                return hr;
            }
            HRESULT hr = Get(n.c_str(), 0, value, type, flavor);
            if (hr == WBEM_E_NOT_FOUND) continue;  // deleted during the enumeration
            if (const Property* p = IsSystemName(n) ? nullptr : FindProperty(object_, n))
                hint_ = static_cast<size_t>(p - object_.properties.data()) + 1;
            if (SUCCEEDED(hr) && name) *name = SysAllocString(n.c_str());
            return hr;
        }
        return WBEM_S_NO_MORE_DATA;
    }

    STDMETHODIMP EndEnumeration() override {
        enumerating_ = false;
        enumeration_.clear();
        return S_OK;
    }

    STDMETHODIMP GetPropertyQualifierSet(LPCWSTR property, IWbemQualifierSet** qualifiers) override {
        if (!property || !qualifiers) return WBEM_E_INVALID_PARAMETER;
        if (IsSystemName(property)) return WBEM_E_SYSTEM_PROPERTY;
        if (!FindProperty(object_, property)) return WBEM_E_NOT_FOUND;
        *qualifiers = CreateQualifierSet(Self(), &object_, QualifierTarget::Property, property);
        return S_OK;
    }

    STDMETHODIMP Clone(IWbemClassObject** copy) override {
        if (!copy) return WBEM_E_INVALID_PARAMETER;
        *copy = CreateClassObject(object_);
        return S_OK;
    }

    STDMETHODIMP GetObjectText(LONG flags, BSTR* text) override {
        if (!text) return WBEM_E_INVALID_PARAMETER;
        std::wstring mof = ObjectText(object_, flags);
        *text = SysAllocStringLen(mof.data(), static_cast<UINT>(mof.size()));
        return *text ? S_OK : WBEM_E_OUT_OF_MEMORY;
    }

    STDMETHODIMP SpawnDerivedClass(LONG flags, IWbemClassObject** newClass) override {
        if (!newClass || flags != 0) return WBEM_E_INVALID_PARAMETER;
        if (!object_.IsClass() || object_.className.empty()) return WBEM_E_INVALID_OPERATION;
        *newClass = CreateClassObject(DeriveClass(object_, L""));
        return S_OK;
    }

    STDMETHODIMP SpawnInstance(LONG flags, IWbemClassObject** newInstance) override {
        if (!newInstance || flags != 0) return WBEM_E_INVALID_PARAMETER;
        if (!object_.IsClass() || object_.className.empty()) return WBEM_E_INVALID_OPERATION;
        *newInstance = CreateClassObject(SpawnInstanceOf(object_));
        return S_OK;
    }

    STDMETHODIMP CompareTo(LONG, IWbemClassObject* compareTo) override {
        const CimObject* other = CimObjectOf(compareTo);
        if (!other) return WBEM_E_INVALID_PARAMETER;
        return object_ == *other ? WBEM_S_SAME : WBEM_S_DIFFERENT;
    }

    STDMETHODIMP GetPropertyOrigin(LPCWSTR name, BSTR* className) override {
        if (!name || !className) return WBEM_E_INVALID_PARAMETER;
        const Property* p = FindProperty(object_, name);
        if (!p) return WBEM_E_NOT_FOUND;
        *className = SysAllocString(p->origin.c_str());
        return S_OK;
    }

    STDMETHODIMP InheritsFrom(LPCWSTR ancestor) override {
        if (!ancestor) return WBEM_E_INVALID_PARAMETER;
        for (const auto& d : object_.derivation)
            if (NamesEqual(d, ancestor)) return S_OK;
        return WBEM_S_FALSE;
    }

    STDMETHODIMP GetMethod(LPCWSTR name, LONG flags, IWbemClassObject** in, IWbemClassObject** out) override {
        if (!name || flags != 0) return WBEM_E_INVALID_PARAMETER;
        if (!object_.IsClass()) return WBEM_E_ILLEGAL_OPERATION;
        const Method* m = FindMethod(object_, name);
        if (!m) return WBEM_E_NOT_FOUND;
        if (in) *in = m->in ? CreateClassObject(*m->in) : nullptr;
        if (out) *out = m->out ? CreateClassObject(*m->out) : nullptr;
        return S_OK;
    }

    STDMETHODIMP PutMethod(LPCWSTR name, LONG flags, IWbemClassObject* in, IWbemClassObject* out) override {
        if (!name || !*name || flags != 0) return WBEM_E_INVALID_PARAMETER;
        if (!object_.IsClass()) return WBEM_E_ILLEGAL_OPERATION;
        const CimObject* inData = in ? CimObjectOf(in) : nullptr;
        const CimObject* outData = out ? CimObjectOf(out) : nullptr;
        if ((in && !inData) || (out && !outData)) return WBEM_E_INVALID_PARAMETER;
        Method* m = FindMethod(object_, name);
        if (!m) {
            object_.methods.push_back({});
            m = &object_.methods.back();
            m->name = name;
            m->origin = object_.className;
        }
        m->in = inData ? std::make_shared<CimObject>(*inData) : nullptr;
        m->out = outData ? std::make_shared<CimObject>(*outData) : nullptr;
        return S_OK;
    }

    STDMETHODIMP DeleteMethod(LPCWSTR name) override {
        if (!name) return WBEM_E_INVALID_PARAMETER;
        for (auto it = object_.methods.begin(); it != object_.methods.end(); ++it) {
            if (!NamesEqual(it->name, name)) continue;
            if (!NamesEqual(it->origin, object_.className)) return WBEM_E_PROPAGATED_METHOD;
            object_.methods.erase(it);
            return S_OK;
        }
        return WBEM_E_NOT_FOUND;
    }

    STDMETHODIMP BeginMethodEnumeration(LONG flags) override {
        methodNames_.clear();
        for (const Method& m : object_.methods) {
            bool local = NamesEqual(m.origin, object_.className);
            if ((flags & WBEM_FLAG_LOCAL_ONLY) && !local) continue;
            if ((flags & WBEM_FLAG_PROPAGATED_ONLY) && local) continue;
            methodNames_.push_back(m.name);
        }
        methodPosition_ = 0;
        return S_OK;
    }

    STDMETHODIMP NextMethod(LONG, BSTR* name, IWbemClassObject** in, IWbemClassObject** out) override {
        while (methodPosition_ < methodNames_.size()) {
            const std::wstring& n = methodNames_[methodPosition_++];
            if (!FindMethod(object_, n)) continue;
            if (name) *name = SysAllocString(n.c_str());
            return GetMethod(n.c_str(), 0, in, out);
        }
        return WBEM_S_NO_MORE_DATA;
    }

    STDMETHODIMP EndMethodEnumeration() override {
        methodNames_.clear();
        return S_OK;
    }

    STDMETHODIMP GetMethodQualifierSet(LPCWSTR method, IWbemQualifierSet** qualifiers) override {
        if (!method || !qualifiers) return WBEM_E_INVALID_PARAMETER;
        if (!FindMethod(object_, method)) return WBEM_E_NOT_FOUND;
        *qualifiers = CreateQualifierSet(Self(), &object_, QualifierTarget::Method, method);
        return S_OK;
    }

    STDMETHODIMP GetMethodOrigin(LPCWSTR methodName, BSTR* className) override {
        if (!methodName || !className) return WBEM_E_INVALID_PARAMETER;
        const Method* m = FindMethod(object_, methodName);
        if (!m) return WBEM_E_NOT_FOUND;
        *className = SysAllocString(m->origin.c_str());
        return S_OK;
    }

private:
    IUnknown* Self() { return static_cast<IWbemClassObject*>(this); }

    HRESULT SelectNames(LPCWSTR qualifierName, LONG flags, const VARIANT* qualifierValue,
                        std::vector<std::wstring>* names) {
        LONG condition = flags & WBEM_MASK_PRIMARY_CONDITION;
        LONG origin = flags & WBEM_MASK_CONDITION_ORIGIN;
        if (condition != WBEM_FLAG_ALWAYS && (!qualifierName || !*qualifierName)) return WBEM_E_INVALID_PARAMETER;
        CimValue wanted;
        if (condition == WBEM_FLAG_ONLY_IF_IDENTICAL) {
            HRESULT hr = QualifierValueFromVariant(qualifierValue, &wanted);
            if (FAILED(hr)) return WBEM_E_INVALID_PARAMETER;
        }
        names->clear();
        bool wantSystem = origin == 0 || origin == WBEM_FLAG_SYSTEM_ONLY;
        bool onlySystem = origin == WBEM_FLAG_SYSTEM_ONLY;
        if (wantSystem && condition == WBEM_FLAG_ALWAYS && !(flags & (WBEM_FLAG_KEYS_ONLY | WBEM_FLAG_REFS_ONLY)))
            for (const wchar_t* n : kSystemProperties) names->push_back(n);
        if (onlySystem) return S_OK;
        for (const Property& p : object_.properties) {
            bool local = NamesEqual(p.origin, object_.className);
            if (origin == WBEM_FLAG_LOCAL_ONLY && !local) continue;
            if (origin == WBEM_FLAG_PROPAGATED_ONLY && local) continue;
            if ((flags & WBEM_FLAG_KEYS_ONLY) && !HasTrueQualifier(p.qualifiers, L"key")) continue;
            if ((flags & WBEM_FLAG_REFS_ONLY) && (p.type & ~CIM_FLAG_ARRAY) != CIM_REFERENCE) continue;
            if (condition != WBEM_FLAG_ALWAYS) {
                const Qualifier* q = FindQualifier(p.qualifiers, qualifierName);
                if (condition == WBEM_FLAG_ONLY_IF_TRUE && !q) continue;
                if (condition == WBEM_FLAG_ONLY_IF_FALSE && q) continue;
                if (condition == WBEM_FLAG_ONLY_IF_IDENTICAL && (!q || !(q->value == wanted))) continue;
            }
            names->push_back(p.name);
        }
        return S_OK;
    }

    HRESULT PropertyValue(const Property& p, VARIANT* value, CIMTYPE* type, LONG* flavor) {
        if (type) *type = p.type;
        if (flavor)
            *flavor = NamesEqual(p.origin, object_.className) ? WBEM_FLAVOR_ORIGIN_LOCAL
                                                              : WBEM_FLAVOR_ORIGIN_PROPAGATED;
        if (!value) return S_OK;
        if (!p.value.null) return ToVariant(p.value, value);
        return ToVariant(CimValue::Null(p.type), value);
    }

    CimObject object_;
    std::vector<std::wstring> enumeration_;
    size_t position_ = 0;
    size_t hint_ = 0;  // where the enumeration expects its next property
    bool enumerating_ = false;
    std::vector<std::wstring> methodNames_;
    size_t methodPosition_ = 0;
};

}  // namespace

IWbemClassObject* CreateClassObject(const CimObject& object) { return new ClassObject(object); }
IWbemClassObject* CreateClassObject(CimObject&& object) { return new ClassObject(std::move(object)); }

CimObject* CimObjectOf(IUnknown* object) {
    if (!object) return nullptr;
    void* raw = nullptr;
    if (FAILED(object->QueryInterface(IID_IQvCimObject, &raw)) || !raw) return nullptr;
    auto* access = static_cast<IQvCimObject*>(raw);
    CimObject* data = access->Data();
    access->Release();  // the caller's own reference keeps the object alive
    return data;
}

}  // namespace qv::wbem
