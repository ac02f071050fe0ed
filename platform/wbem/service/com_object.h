// Reference counting and QueryInterface for the service's COM objects; each counts as activity.
#pragma once

#include "service.h"

#include <atomic>
#include <functional>

namespace qv::wbem::service {

template <typename I>
class ServiceObject : public I {
public:
    explicit ServiceObject(const GUID& iid) : iid_(iid) { ObjectCreated(); }
    virtual ~ServiceObject() { ObjectDestroyed(); }
    STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
        if (out == nullptr) return E_POINTER;
        if (IsEqualGUID(riid, IID_IUnknown) || IsEqualGUID(riid, iid_)) {
            *out = static_cast<I*>(this);
            this->AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
    STDMETHODIMP_(ULONG) Release() override {
        // Taken before the count drops: once it has, another thread may delete the object.
        std::function<void()> hook = OnlyOwnerLeft();
        ULONG left = --refs_;
        if (left == 0)
            delete this;
        else if (left == 1 && hook)
            hook();
        return left;
    }

protected:
    // What to run when a release leaves one reference (the creator's own): it must not touch the object.
    virtual std::function<void()> OnlyOwnerLeft() const { return {}; }

private:
    GUID iid_;
    std::atomic<ULONG> refs_{1};
};

}  // namespace qv::wbem::service
