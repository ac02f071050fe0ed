// One counted reference to a COM object, released when the holder goes.
#pragma once

#include "unknwn.h"

template <typename T>
class WMIComPtr {
public:
    WMIComPtr() = default;
    // Takes a new reference to object (null allowed).
    explicit WMIComPtr(T* object) : object_(object) {
        if (object_ != nullptr) object_->AddRef();
    }
    WMIComPtr(const WMIComPtr& other) : WMIComPtr(other.object_) {}
    WMIComPtr& operator=(const WMIComPtr& other) {
        Reset(other.object_);
        return *this;
    }
    ~WMIComPtr() { Reset(nullptr); }

    // Holds object with a new reference, releasing the previous one.
    void Reset(T* object) {
        if (object != nullptr) object->AddRef();
        T* old = object_;
        object_ = object;
        if (old != nullptr) old->Release();
    }
    // Takes over a reference the caller already owns (an out parameter of a COM call).
    void Adopt(T* object) {
        T* old = object_;
        object_ = object;
        if (old != nullptr) old->Release();
    }
    T* Get() const { return object_; }
    T* operator->() const { return object_; }
    explicit operator bool() const { return object_ != nullptr; }

private:
    T* object_ = nullptr;
};
