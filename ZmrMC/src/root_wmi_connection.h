// The connection to the firmware's and the operating system's instrumentation namespace "\\.\root\WMI",
// made as both the call gate and the SMBIOS store make it: the in-process WMI locator, no credentials, the
// maximum-wait flag on Windows XP and later, and an impersonating proxy blanket.
#pragma once

#include <objbase.h>
#include <wbemcli.h>

namespace zmrmc {

// On success *services holds a reference the caller releases. The calling thread must have initialised COM.
HRESULT ConnectRootWmi(IWbemServices** services);

// A COM interface reference released when the holder goes.
template <typename T>
class ComRef {
public:
    ComRef() = default;
    ~ComRef() { Reset(); }
    ComRef(const ComRef&) = delete;
    ComRef& operator=(const ComRef&) = delete;
    T* get() const { return p_; }
    T* operator->() const { return p_; }
    T** out() {
        Reset();
        return &p_;
    }
    void Reset() {
        if (p_ != nullptr) p_->Release();
        p_ = nullptr;
    }
    explicit operator bool() const { return p_ != nullptr; }

private:
    T* p_ = nullptr;
};

// A VARIANT cleared when the holder goes.
class Variant {
public:
    Variant() { VariantInit(&v_); }
    ~Variant() { VariantClear(&v_); }
    Variant(const Variant&) = delete;
    Variant& operator=(const Variant&) = delete;
    VARIANT* get() { return &v_; }
    VARIANT* operator->() { return &v_; }

private:
    VARIANT v_;
};

}  // namespace zmrmc
