// Microsoft::WRL::ComPtr: one counted reference to a COM interface, released when the holder goes.
//
//   ComPtr<IWbemServices> services;
//   hr = locator->ConnectServer(..., services.ReleaseAndGetAddressOf());  // an out parameter fills the holder
//   ComPtr<IWbemClassObject> object;
//   hr = unknown.As(&object);                                             // QueryInterface
//
// Constructing or assigning from a raw pointer or another holder takes a new reference (AddRef); Attach takes
// over a reference the caller already owns and Detach hands the holder's own reference out. There is no
// operator&: an out parameter is GetAddressOf (the holder must be empty) or ReleaseAndGetAddressOf.
// As and the CopyTo of another interface need the interface's IID registered with QV_COM_INTERFACE_ID
// (COM's own in qv_com_object.h, WMI's in qv_wbem_interface_ids.h), the platform's stand-in for __uuidof.
#pragma once

#include "unknwn.h"

#include <cstddef>
#include <type_traits>
#include <utility>

template <typename Interface>
struct QvInterfaceId;

namespace Microsoft::WRL {

namespace Details {

template <typename Interface>
const IID& InterfaceId() {
    if constexpr (std::is_same_v<Interface, IUnknown>)
        return IID_IUnknown;
    else
        return *QvInterfaceId<Interface>::Id();
}

}  // namespace Details

template <typename T>
class ComPtr {
public:
    using InterfaceType = T;

    ComPtr() noexcept = default;
    ComPtr(std::nullptr_t) noexcept {}
    template <typename U, typename = std::enable_if_t<std::is_convertible_v<U*, T*>>>
    ComPtr(U* other) noexcept : ptr_(other) {
        InternalAddRef();
    }
    ComPtr(const ComPtr& other) noexcept : ComPtr(other.ptr_) {}
    template <typename U, typename = std::enable_if_t<std::is_convertible_v<U*, T*>>>
    ComPtr(const ComPtr<U>& other) noexcept : ComPtr(other.Get()) {}
    ComPtr(ComPtr&& other) noexcept : ptr_(other.Detach()) {}
    template <typename U, typename = std::enable_if_t<std::is_convertible_v<U*, T*>>>
    ComPtr(ComPtr<U>&& other) noexcept : ptr_(other.Detach()) {}
    ~ComPtr() { InternalRelease(); }

    ComPtr& operator=(std::nullptr_t) noexcept {
        InternalRelease();
        return *this;
    }
    template <typename U, typename = std::enable_if_t<std::is_convertible_v<U*, T*>>>
    ComPtr& operator=(U* other) noexcept {
        ComPtr(other).Swap(*this);
        return *this;
    }
    // Copy-and-swap: the new reference is taken before the old one goes, so self-assignment is harmless.
    ComPtr& operator=(const ComPtr& other) noexcept {
        ComPtr(other).Swap(*this);
        return *this;
    }
    template <typename U, typename = std::enable_if_t<std::is_convertible_v<U*, T*>>>
    ComPtr& operator=(const ComPtr<U>& other) noexcept {
        ComPtr(other).Swap(*this);
        return *this;
    }
    ComPtr& operator=(ComPtr&& other) noexcept {
        ComPtr(std::move(other)).Swap(*this);
        return *this;
    }
    template <typename U, typename = std::enable_if_t<std::is_convertible_v<U*, T*>>>
    ComPtr& operator=(ComPtr<U>&& other) noexcept {
        ComPtr(std::move(other)).Swap(*this);
        return *this;
    }

    void Swap(ComPtr& other) noexcept { std::swap(ptr_, other.ptr_); }
    void Swap(ComPtr&& other) noexcept { std::swap(ptr_, other.ptr_); }

    T* Get() const noexcept { return ptr_; }
    T* operator->() const noexcept { return ptr_; }
    explicit operator bool() const noexcept { return ptr_ != nullptr; }

    // The address of the held pointer, for an out parameter of an empty holder (a held reference would leak).
    T* const* GetAddressOf() const noexcept { return &ptr_; }
    T** GetAddressOf() noexcept { return &ptr_; }
    // Releases the held reference first: the holder is empty when the callee fills it.
    T** ReleaseAndGetAddressOf() noexcept {
        InternalRelease();
        return &ptr_;
    }

    // Takes over a reference the caller owns (no AddRef), releasing the held one first.
    void Attach(T* other) noexcept {
        InternalRelease();
        ptr_ = other;
    }
    // Hands the held reference to the caller, who releases it; the holder is empty after.
    T* Detach() noexcept {
        T* held = ptr_;
        ptr_ = nullptr;
        return held;
    }
    // Releases the held reference; answers the count Release returned (0 for an empty holder).
    unsigned long Reset() { return InternalRelease(); }

    // *ptr gets a new reference to the held object (null for an empty holder).
    HRESULT CopyTo(T** ptr) const noexcept {
        InternalAddRef();
        *ptr = ptr_;
        return S_OK;
    }
    // QueryInterface of the held object.
    HRESULT CopyTo(REFIID riid, void** ptr) const noexcept {
        if (ptr_ == nullptr) return E_POINTER;
        return ptr_->QueryInterface(riid, ptr);
    }
    template <typename U>
    HRESULT CopyTo(U** ptr) const noexcept {
        return CopyTo(Details::InterfaceId<U>(), reinterpret_cast<void**>(ptr));
    }

    // QueryInterface for U into *p (emptied first; empty again on failure).
    template <typename U>
    HRESULT As(ComPtr<U>* p) const noexcept {
        return CopyTo(Details::InterfaceId<U>(), reinterpret_cast<void**>(p->ReleaseAndGetAddressOf()));
    }
    HRESULT AsIID(REFIID riid, ComPtr<IUnknown>* p) const noexcept {
        return CopyTo(riid, reinterpret_cast<void**>(p->ReleaseAndGetAddressOf()));
    }

private:
    void InternalAddRef() const noexcept {
        if (ptr_ != nullptr) ptr_->AddRef();
    }
    unsigned long InternalRelease() noexcept {
        T* held = ptr_;
        if (held == nullptr) return 0;
        ptr_ = nullptr;  // emptied before Release, so a destructor that reaches this holder sees it empty
        return held->Release();
    }

    T* ptr_ = nullptr;
};

template <typename T, typename U>
bool operator==(const ComPtr<T>& a, const ComPtr<U>& b) noexcept {
    return a.Get() == b.Get();
}
template <typename T, typename U>
bool operator!=(const ComPtr<T>& a, const ComPtr<U>& b) noexcept {
    return a.Get() != b.Get();
}
template <typename T>
bool operator==(const ComPtr<T>& a, std::nullptr_t) noexcept {
    return a.Get() == nullptr;
}
template <typename T>
bool operator!=(const ComPtr<T>& a, std::nullptr_t) noexcept {
    return a.Get() != nullptr;
}
template <typename T>
bool operator==(std::nullptr_t, const ComPtr<T>& a) noexcept {
    return a.Get() == nullptr;
}
template <typename T>
bool operator!=(std::nullptr_t, const ComPtr<T>& a) noexcept {
    return a.Get() != nullptr;
}
template <typename T, typename U>
bool operator<(const ComPtr<T>& a, const ComPtr<U>& b) noexcept {
    return a.Get() < b.Get();
}

}  // namespace Microsoft::WRL
