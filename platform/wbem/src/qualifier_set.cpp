// IWbemQualifierSet: read, add, override and remove qualifiers with their flavors.
#include "qualifier_set.h"

#include "qv_cim_variant.h"
#include "qv_wbem_interface_ids.h"

namespace qv::wbem {

HRESULT QualifierValueFromVariant(const VARIANT* in, CimValue* out) {
    if (!in) return WBEM_E_INVALID_PARAMETER;
    CIMTYPE type;
    switch (in->vt & ~VT_ARRAY) {
    case VT_I4:
    case VT_I2:
    case VT_UI1: type = CIM_SINT32; break;
    case VT_R8:
    case VT_R4: type = CIM_REAL64; break;
    case VT_BOOL: type = CIM_BOOLEAN; break;
    case VT_BSTR: type = CIM_STRING; break;
    default: return WBEM_E_INVALID_QUALIFIER_TYPE;
    }
    if (in->vt & VT_ARRAY) type |= CIM_FLAG_ARRAY;
    HRESULT hr = FromVariant(in, type, out);
    return FAILED(hr) ? WBEM_E_INVALID_QUALIFIER_TYPE : S_OK;
}

namespace {

class QualifierSet final : public qv::com::Object<IWbemQualifierSet> {
public:
    QualifierSet(IUnknown* owner, CimObject* object, QualifierTarget target, const std::wstring& name)
        : owner_(owner), object_(object), target_(target), name_(name) {
        owner_->AddRef();
    }
    ~QualifierSet() { owner_->Release(); }

    STDMETHODIMP Get(LPCWSTR name, LONG, VARIANT* value, LONG* flavor) override {
        QualifierList* list = List();
        if (!list) return WBEM_E_NOT_FOUND;
        if (!name) return WBEM_E_INVALID_PARAMETER;
        const Qualifier* q = FindQualifier(*list, name);
        if (!q) return WBEM_E_NOT_FOUND;
        if (flavor) *flavor = q->flavor;
        return value ? ToVariant(q->value, value) : S_OK;
    }

    STDMETHODIMP Put(LPCWSTR name, VARIANT* value, LONG flavor) override {
        QualifierList* list = List();
        if (!list) return WBEM_E_NOT_FOUND;
        if (!name || !*name) return WBEM_E_INVALID_PARAMETER;
        if (flavor & ~(WBEM_FLAVOR_MASK_PROPAGATION | WBEM_FLAVOR_MASK_PERMISSIONS | WBEM_FLAVOR_MASK_AMENDED))
            return WBEM_E_INVALID_FLAVOR;
        CimValue converted;
        HRESULT hr = QualifierValueFromVariant(value, &converted);
        if (FAILED(hr)) return hr;
        if (Qualifier* q = FindQualifier(*list, name)) {
            if ((q->flavor & WBEM_FLAVOR_ORIGIN_PROPAGATED) && (q->flavor & WBEM_FLAVOR_NOT_OVERRIDABLE))
                return WBEM_E_OVERRIDE_NOT_ALLOWED;
            q->value = converted;
            q->flavor = flavor;
            return S_OK;
        }
        list->push_back({name, converted, flavor});
        return S_OK;
    }

    STDMETHODIMP Delete(LPCWSTR name) override {
        QualifierList* list = List();
        if (!list) return WBEM_E_NOT_FOUND;
        if (!name) return WBEM_E_INVALID_PARAMETER;
        for (auto it = list->begin(); it != list->end(); ++it) {
            if (!NamesEqual(it->name, name)) continue;
            if (it->flavor & WBEM_FLAVOR_ORIGIN_PROPAGATED) return WBEM_E_PROPAGATED_QUALIFIER;
            list->erase(it);
            return S_OK;
        }
        return WBEM_E_NOT_FOUND;
    }

    STDMETHODIMP GetNames(LONG flags, SAFEARRAY** names) override {
        if (!names) return WBEM_E_INVALID_PARAMETER;
        QualifierList* list = List();
        if (!list) return WBEM_E_NOT_FOUND;
        std::vector<std::wstring> selected = Select(*list, flags);
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
        QualifierList* list = List();
        if (!list) return WBEM_E_NOT_FOUND;
        enumeration_ = Select(*list, flags);
        position_ = 0;
        enumerating_ = true;
        return S_OK;
    }

    STDMETHODIMP Next(LONG, BSTR* name, VARIANT* value, LONG* flavor) override {
        if (!enumerating_) return WBEM_E_UNEXPECTED;
        QualifierList* list = List();
        if (!list) return WBEM_E_NOT_FOUND;
        while (position_ < enumeration_.size()) {
            const Qualifier* q = FindQualifier(*list, enumeration_[position_++]);
            if (!q) continue;
            if (name) *name = SysAllocString(q->name.c_str());
            if (flavor) *flavor = q->flavor;
            if (value) return ToVariant(q->value, value);
            return S_OK;
        }
        return WBEM_S_NO_MORE_DATA;
    }

    STDMETHODIMP EndEnumeration() override {
        enumerating_ = false;
        enumeration_.clear();
        return S_OK;
    }

private:
    QualifierList* List() {
        switch (target_) {
        case QualifierTarget::Object: return &object_->qualifiers;
        case QualifierTarget::Property: {
            Property* p = FindProperty(*object_, name_);
            return p ? &p->qualifiers : nullptr;
        }
        case QualifierTarget::Method: {
            Method* m = FindMethod(*object_, name_);
            return m ? &m->qualifiers : nullptr;
        }
        }
        return nullptr;
    }

    static std::vector<std::wstring> Select(const QualifierList& list, LONG flags) {
        std::vector<std::wstring> names;
        for (const Qualifier& q : list) {
            bool propagated = (q.flavor & WBEM_FLAVOR_ORIGIN_PROPAGATED) != 0;
            if ((flags & WBEM_FLAG_LOCAL_ONLY) && propagated) continue;
            if ((flags & WBEM_FLAG_PROPAGATED_ONLY) && !propagated) continue;
            names.push_back(q.name);
        }
        return names;
    }

    IUnknown* owner_;
    CimObject* object_;
    QualifierTarget target_;
    std::wstring name_;
    std::vector<std::wstring> enumeration_;
    size_t position_ = 0;
    bool enumerating_ = false;
};

}  // namespace

IWbemQualifierSet* CreateQualifierSet(IUnknown* owner, CimObject* object, QualifierTarget target,
                                      const std::wstring& name) {
    return new QualifierSet(owner, object, target, name);
}

}  // namespace qv::wbem
