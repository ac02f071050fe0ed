// IUnknown written once: reference counting and QueryInterface for the platform's and tests' COM classes.
//
//   class Sink final : public qv::com::Object<IWbemObjectSink> { ... };
//   class Value final : public qv::com::Object<IWbemClassObject, IMarshal> { ... };
//
// QueryInterface answers IUnknown (through the first interface named), every interface named and the
// interfaces those derive from, and nothing else; the pointer it hands out is AddRef'd. Each interface named
// needs its IID registered with QV_COM_INTERFACE_ID next to where the interface is known (COM's own below,
// WMI's in qv_wbem_interface_ids.h); a missing one is a compile error.
#pragma once

#include "oaidl.h"
#include "objidl.h"
#include "statreg.h"
#include "unknwn.h"

#include <atomic>
#include <type_traits>

// Specialised per interface: Id() (its IID) and Base (the interface it derives from; IUnknown ends the chain).
// A class that implements an interface for others to derive from (an IMarshal written once, say) is named
// with QV_COM_IMPLEMENTATION: it has no IID of its own and answers its interface's.
template <typename Interface>
struct QvInterfaceId;

#define QV_COM_INTERFACE_ID(Interface, BaseInterface, iid) \
    template <>                                            \
    struct QvInterfaceId<Interface> {                      \
        using Base = BaseInterface;                        \
        static const GUID* Id() { return &(iid); }         \
    }

#define QV_COM_IMPLEMENTATION(Class, Interface)     \
    template <>                                     \
    struct QvInterfaceId<Class> {                   \
        using Base = Interface;                     \
        static const GUID* Id() { return nullptr; } \
    }

QV_COM_INTERFACE_ID(IClassFactory, IUnknown, IID_IClassFactory);
QV_COM_INTERFACE_ID(ISequentialStream, IUnknown, IID_ISequentialStream);
QV_COM_INTERFACE_ID(IStream, ISequentialStream, IID_IStream);
QV_COM_INTERFACE_ID(IMarshal, IUnknown, IID_IMarshal);
QV_COM_INTERFACE_ID(IDispatch, IUnknown, IID_IDispatch);
QV_COM_INTERFACE_ID(ITypeLib, IUnknown, IID_ITypeLib);
QV_COM_INTERFACE_ID(IRegistrar, IUnknown, IID_IRegistrar);

namespace qv::com {

namespace detail {

// `self` as the interface riid names, when it is Interface or one it derives from (IUnknown is answered apart).
template <typename Interface>
void* Cast(Interface* self, REFIID riid) {
    if constexpr (std::is_same_v<Interface, IUnknown>) {
        return nullptr;
    } else {
        using Base = typename QvInterfaceId<Interface>::Base;
        const GUID* id = QvInterfaceId<Interface>::Id();
        if (id != nullptr && IsEqualGUID(riid, *id)) return self;
        return Cast<Base>(static_cast<Base*>(self), riid);
    }
}

// QueryInterface over the named interfaces; AddRef/Release come from the lifetime policy deriving from it.
template <typename First, typename... Rest>
class Interfaces : public First, public Rest... {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
        if (object == nullptr) return E_POINTER;
        *object = Find(riid);
        if (*object == nullptr) return E_NOINTERFACE;
        static_cast<First*>(this)->AddRef();
        return S_OK;
    }

protected:
    Interfaces() = default;
    virtual ~Interfaces() = default;

    // An IID the class answers beyond its named interfaces (a private one that identifies its own objects):
    // the pointer to hand out, or null. QueryInterface takes the reference.
    virtual void* FindOther(REFIID) { return nullptr; }

private:
    void* Find(REFIID riid) {
        if (IsEqualGUID(riid, IID_IUnknown)) return static_cast<IUnknown*>(static_cast<First*>(this));
        void* found = Cast<First>(this, riid);
        ((found = found != nullptr ? found : Cast<Rest>(this, riid)), ...);
        return found != nullptr ? found : FindOther(riid);
    }
};

}  // namespace detail

// A heap object with an atomic reference count that starts at 1 (the creator's) and deletes itself when the
// last reference goes; the virtual destructor is where a class does anything due at final release.
template <typename First, typename... Rest>
class Object : public detail::Interfaces<First, Rest...> {
public:
    STDMETHODIMP_(ULONG) AddRef() override { return ++references_; }
    STDMETHODIMP_(ULONG) Release() override {
        ULONG left = --references_;
        if (left == 0) delete this;
        return left;
    }

protected:
    Object() = default;

private:
    std::atomic<ULONG> references_{1};
};

// An object whose life is not counted (a process-wide class factory, a static or owned member): AddRef and
// Release only report constant counts and never delete it.
template <typename First, typename... Rest>
class UncountedObject : public detail::Interfaces<First, Rest...> {
public:
    STDMETHODIMP_(ULONG) AddRef() override { return 2; }
    STDMETHODIMP_(ULONG) Release() override { return 1; }

protected:
    UncountedObject() = default;
};

}  // namespace qv::com
