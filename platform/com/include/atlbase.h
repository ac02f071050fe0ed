// ATL's holders of Automation values: CComBSTR (one BSTR) and CComVariant (one VARIANT), each freeing what it
// holds when it goes.
//
//   CComBSTR name(L"vrxBIntM");              // SysAllocString; freed with the holder
//   hr = object->GetObjectText(0, &text);    // operator& for an out parameter of an empty CComBSTR
//   CComVariant value;                       // a VARIANT itself: &value is the VARIANT* of a Get
//   hr = object->Get(L"Size", 0, &value, nullptr, nullptr);
//
// A failed allocation leaves a null BSTR (CComBSTR) or VT_ERROR with E_OUTOFMEMORY (CComVariant); nothing
// throws. Attach takes over a value the caller owns, Detach hands the held one out.
#pragma once

#include "oleauto.h"

#include <cstring>
#include <memory>

namespace ATL {

class CComBSTR {
public:
    BSTR m_str = nullptr;

    CComBSTR() noexcept = default;
    // A copy of text (null stays null).
    CComBSTR(LPCOLESTR text) noexcept : m_str(SysAllocString(text)) {}
    // A copy of the first `length` characters of text (text may hold NULs; null text gives `length` zeros).
    CComBSTR(int length, LPCOLESTR text) noexcept : m_str(SysAllocStringLen(text, static_cast<UINT>(length))) {}
    CComBSTR(const CComBSTR& other) noexcept : m_str(other.Copy()) {}
    CComBSTR(CComBSTR&& other) noexcept : m_str(other.Detach()) {}
    ~CComBSTR() { SysFreeString(m_str); }

    CComBSTR& operator=(const CComBSTR& other) noexcept {
        if (m_str != other.m_str) Attach(other.Copy());
        return *this;
    }
    CComBSTR& operator=(CComBSTR&& other) noexcept {
        if (this != std::addressof(other)) Attach(other.Detach());  // operator& is the BSTR's address
        return *this;
    }
    CComBSTR& operator=(LPCOLESTR text) noexcept {
        if (m_str != text) Attach(SysAllocString(text));
        return *this;
    }

    operator BSTR() const noexcept { return m_str; }
    // The address of the held BSTR, for an out parameter; the holder must be empty (a held text would leak).
    BSTR* operator&() noexcept { return &m_str; }
    bool operator!() const noexcept { return m_str == nullptr; }

    unsigned int Length() const noexcept { return SysStringLen(m_str); }
    // A new BSTR with the same bytes that the caller frees (null for a null text).
    BSTR Copy() const noexcept {
        if (m_str == nullptr) return nullptr;
        return SysAllocStringByteLen(reinterpret_cast<LPCSTR>(m_str), SysStringByteLen(m_str));
    }
    HRESULT CopyTo(BSTR* target) const noexcept {
        if (target == nullptr) return E_POINTER;
        *target = Copy();
        return *target == nullptr && m_str != nullptr ? E_OUTOFMEMORY : S_OK;
    }
    // Takes over text, which the caller allocated, freeing the held one.
    void Attach(BSTR text) noexcept {
        if (m_str == text) return;
        SysFreeString(m_str);
        m_str = text;
    }
    // Hands the held text to the caller, who frees it.
    BSTR Detach() noexcept {
        BSTR held = m_str;
        m_str = nullptr;
        return held;
    }
    void Empty() noexcept { Attach(nullptr); }
};

class CComVariant : public VARIANT {
public:
    CComVariant() noexcept { VariantInit(this); }
    CComVariant(const VARIANT& source) noexcept {
        VariantInit(this);
        InternalCopy(&source);
    }
    CComVariant(const CComVariant& source) noexcept : CComVariant(static_cast<const VARIANT&>(source)) {}
    // Takes over what source holds; source is VT_EMPTY after.
    CComVariant(CComVariant&& source) noexcept {
        std::memcpy(static_cast<VARIANT*>(this), static_cast<VARIANT*>(&source), sizeof(VARIANT));
        source.vt = VT_EMPTY;
    }
    // VT_BSTR with a copy of text.
    CComVariant(LPCOLESTR text) noexcept {
        VariantInit(this);
        *this = text;
    }
    // VT_I4.
    CComVariant(int value) noexcept {
        VariantInit(this);
        vt = VT_I4;
        lVal = value;
    }
    // VT_UNKNOWN holding a new reference (null stays null).
    CComVariant(IUnknown* object) noexcept {
        VariantInit(this);
        vt = VT_UNKNOWN;
        punkVal = object;
        if (object != nullptr) object->AddRef();
    }
    ~CComVariant() { Clear(); }

    CComVariant& operator=(const CComVariant& source) noexcept { return *this = static_cast<const VARIANT&>(source); }
    CComVariant& operator=(const VARIANT& source) noexcept {
        if (static_cast<VARIANT*>(this) != &source) InternalCopy(&source);
        return *this;
    }
    CComVariant& operator=(CComVariant&& source) noexcept {
        if (this != &source) {
            Clear();
            std::memcpy(static_cast<VARIANT*>(this), static_cast<VARIANT*>(&source), sizeof(VARIANT));
            source.vt = VT_EMPTY;
        }
        return *this;
    }
    CComVariant& operator=(LPCOLESTR text) noexcept {
        BSTR copy = SysAllocString(text);
        Clear();
        vt = VT_BSTR;
        bstrVal = copy;
        if (copy == nullptr && text != nullptr) {
            vt = VT_ERROR;
            scode = E_OUTOFMEMORY;
        }
        return *this;
    }

    // Frees what the variant holds; it is VT_EMPTY after.
    HRESULT Clear() noexcept { return VariantClear(this); }
    // A deep copy of source, replacing the held value.
    HRESULT Copy(const VARIANT* source) noexcept { return VariantCopy(this, source); }
    // Takes over what *source holds (source is VT_EMPTY after), freeing the held value.
    HRESULT Attach(VARIANT* source) noexcept {
        if (source == nullptr) return E_INVALIDARG;
        HRESULT hr = Clear();
        if (FAILED(hr)) return hr;
        std::memcpy(static_cast<VARIANT*>(this), source, sizeof(VARIANT));
        source->vt = VT_EMPTY;
        return S_OK;
    }
    // Hands the held value to *target (cleared first); this variant is VT_EMPTY after.
    HRESULT Detach(VARIANT* target) noexcept {
        if (target == nullptr) return E_POINTER;
        HRESULT hr = VariantClear(target);
        if (FAILED(hr)) return hr;
        std::memcpy(target, static_cast<VARIANT*>(this), sizeof(VARIANT));
        vt = VT_EMPTY;
        return S_OK;
    }
    // Converts source (this variant itself when null) to type and holds the result.
    HRESULT ChangeType(VARTYPE type, const VARIANT* source = nullptr) noexcept {
        return VariantChangeType(this, source != nullptr ? source : this, 0, type);
    }

private:
    void InternalCopy(const VARIANT* source) noexcept {
        HRESULT hr = Copy(source);
        if (FAILED(hr)) {
            Clear();
            vt = VT_ERROR;
            scode = hr;
        }
    }
};

}  // namespace ATL

// ATL's names are usable without the namespace unless a program asks otherwise.
#ifndef _ATL_NO_AUTOMATIC_NAMESPACE
using ATL::CComBSTR;
using ATL::CComVariant;
#endif
