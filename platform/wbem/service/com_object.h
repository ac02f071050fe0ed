// Reference counting and QueryInterface for the service's COM objects; each counts as activity.
#pragma once

#include "service.h"

#include <atomic>

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
        ULONG left = --refs_;
        if (left == 0) delete this;
        else Released(left);
        return left;
    }

protected:
    // Called after a release that left `left` references.
    virtual void Released(ULONG) {}

private:
    GUID iid_;
    std::atomic<ULONG> refs_{1};
};

}  // namespace qv::wbem::service
