// One description of each interface that crosses processes: its methods in slot order and the kind of each
// argument. Proxies and stubs are generated from these descriptions; nothing is written per interface twice.
//
// The runtime describes its own interfaces (IUnknown, IClassFactory, IDispatch); a layer above that declares
// further interfaces describes them with the builders below and hands them over with DescribeInterfaces before
// they first cross (the WMI layer does so before main):
//
//   Index<&IFoo::Get, &IFoo::Put>();  // every method, in slot order
//   DescribeInterfaces({Interface<IFoo>(IID_IFoo, "IFoo", {Method<&IFoo::Get>("Get", {InInt, OutString}),
//                                                          Method<&IFoo::Put>("Put", {InString})})});
#pragma once

#include "guiddef.h"
#include "windef.h"

#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <typeinfo>
#include <utility>
#include <vector>

namespace qv::com {

enum class Arg : uint8_t {
    kInInt,              // any integer argument (LONG, ULONG, BOOL, WORD, LCID, HRESULT...)
    kInString,           // const wchar_t* or BSTR, may be null; the callee receives a BSTR
    kInGuid,             // REFIID / REFGUID
    kInVariant,          // VARIANT* read by the callee, may be null
    kInInterface,        // interface pointer of `iid`, may be null
    kInInterfaceArray,   // `iid` pointers, as many as the integer argument `ref` says
    kInStringArray,      // LPOLESTR*, as many as the integer argument `ref` says
    kInDispParams,       // DISPPARAMS*
    kOutInt,             // LONG*/ULONG*/UINT*, may be null
    kOutIntArray,        // LONG* array of the length in argument `ref`
    kOutString,          // BSTR*
    kOutVariant,         // VARIANT*, may be null
    kOutInterface,       // T** of `iid`, or of the IID in argument `ref` when `iid` is null
    kOutInterfaceArray,  // T* array of the length in argument `ref`
    kOutExcepInfo,       // EXCEPINFO*, may be null
};

struct ArgSpec {
    Arg kind;
    const GUID* iid = nullptr;
    int ref = -1;
};

using StubInvoke = HRESULT (*)(void* itf, const uint64_t* argv);

struct MethodSpec {
    const char* name;
    std::vector<ArgSpec> args;
    void* thunk;        // the proxy's vtable entry
    StubInvoke invoke;  // calls the real object's method with decoded arguments
};

struct InterfaceSpec {
    GUID iid;
    const char* name;
    const std::type_info* type;
    std::vector<MethodSpec> methods;  // slots 3, 4, ... (after IUnknown's three)
    std::vector<void*> vtable;        // offset-to-top, type_info, then every slot: the proxy's vtable
};

// --- the proxy side, implemented in proxy.cpp -----------------------------------------------------------------
HRESULT ProxyQueryInterface(void* self, REFIID riid, void** object);
ULONG ProxyAddRef(void* self);
ULONG ProxyRelease(void* self);
HRESULT ProxyInvoke(void* self, size_t method, const uint64_t* argv);

// --- turning typed arguments into uniform slots and back --------------------------------------------------------
template <typename T>
uint64_t ToSlot(std::type_identity_t<T> value) {
    if constexpr (std::is_reference_v<T>)
        return reinterpret_cast<uintptr_t>(&value);
    else if constexpr (std::is_pointer_v<T>)
        return reinterpret_cast<uintptr_t>(value);
    else
        return static_cast<uint64_t>(static_cast<int64_t>(value));
}

template <typename T>
T FromSlot(uint64_t slot) {
    if constexpr (std::is_reference_v<T>)
        return *reinterpret_cast<std::remove_reference_t<T>*>(static_cast<uintptr_t>(slot));
    else if constexpr (std::is_pointer_v<T>)
        return reinterpret_cast<T>(static_cast<uintptr_t>(slot));
    else
        return static_cast<T>(slot);
}

template <auto M>
struct MethodBinding;

template <typename C, typename... A, HRESULT (C::*M)(A...)>
struct MethodBinding<M> {
    static constexpr size_t kArity = sizeof...(A);
    static inline size_t index = 0;

    // Has the calling convention of the virtual method: `this` first, then the arguments.
    static HRESULT Thunk(void* self, A... args) {
        uint64_t argv[kArity + 1] = {ToSlot<A>(args)..., 0};
        return ProxyInvoke(self, index, argv);
    }
    static HRESULT Invoke(void* itf, const uint64_t* argv) {
        return Call(static_cast<C*>(itf), argv, std::index_sequence_for<A...>{});
    }
    template <size_t... I>
    static HRESULT Call(C* object, [[maybe_unused]] const uint64_t* argv, std::index_sequence<I...>) {
        return (object->*M)(FromSlot<A>(argv[I])...);
    }
};

// --- describing an interface ------------------------------------------------------------------------------------

constexpr ArgSpec InInt{Arg::kInInt};
constexpr ArgSpec InString{Arg::kInString};
constexpr ArgSpec InGuid{Arg::kInGuid};
constexpr ArgSpec InDispParams{Arg::kInDispParams};
constexpr ArgSpec OutInt{Arg::kOutInt};
constexpr ArgSpec OutString{Arg::kOutString};
constexpr ArgSpec OutVariant{Arg::kOutVariant};
constexpr ArgSpec OutExcepInfo{Arg::kOutExcepInfo};
constexpr ArgSpec InItf(const GUID& iid) { return {Arg::kInInterface, &iid}; }
constexpr ArgSpec OutItf(const GUID& iid) { return {Arg::kOutInterface, &iid}; }

// One method: the argument list must match the method's arity (checked at compile time).
template <auto M, size_t N>
MethodSpec Method(const char* name, const ArgSpec (&args)[N]) {
    static_assert(N == MethodBinding<M>::kArity, "argument kinds must match the method's parameters");
    return {name, std::vector<ArgSpec>(args, args + N), reinterpret_cast<void*>(&MethodBinding<M>::Thunk),
            &MethodBinding<M>::Invoke};
}
template <auto M>
MethodSpec Method(const char* name) {
    static_assert(MethodBinding<M>::kArity == 0, "argument kinds must match the method's parameters");
    return {name, {}, reinterpret_cast<void*>(&MethodBinding<M>::Thunk), &MethodBinding<M>::Invoke};
}
// Records each method's index for its proxy thunk.
template <auto... M>
void Index() {
    size_t i = 0;
    ((MethodBinding<M>::index = i++), ...);
}

template <typename I>
InterfaceSpec Interface(const GUID& iid, const char* name, std::vector<MethodSpec> methods) {
    InterfaceSpec spec{iid, name, &typeid(I), std::move(methods), {}};
    spec.vtable.push_back(nullptr);  // offset to top
    spec.vtable.push_back(const_cast<void*>(static_cast<const void*>(spec.type)));
    spec.vtable.push_back(reinterpret_cast<void*>(&ProxyQueryInterface));
    spec.vtable.push_back(reinterpret_cast<void*>(&ProxyAddRef));
    spec.vtable.push_back(reinterpret_cast<void*>(&ProxyRelease));
    for (const auto& m : spec.methods) spec.vtable.push_back(m.thunk);
    return spec;
}

// Adds descriptions to the process's table. An interface described twice keeps its first description.
void DescribeInterfaces(std::vector<InterfaceSpec> specs);

}  // namespace qv::com
