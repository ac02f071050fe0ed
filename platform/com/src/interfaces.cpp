// The interfaces that cross processes, described once each.

#include "interfaces.h"

#include "oaidl.h"
#include "qv_module_unload.h"
#include "wbemcli.h"
#include "wbemprov.h"

#include <initializer_list>
#include <mutex>

namespace qv::com {
namespace {

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

std::vector<InterfaceSpec>* BuildTable() {
    auto* table = qv::win::KeepUntilUnload(new std::vector<InterfaceSpec>());
    table->push_back(Interface<IUnknown>(IID_IUnknown, "IUnknown", {}));

    Index<&IClassFactory::CreateInstance, &IClassFactory::LockServer>();
    table->push_back(Interface<IClassFactory>(
        IID_IClassFactory, "IClassFactory",
        {Method<&IClassFactory::CreateInstance>("CreateInstance",
                                                {InItf(IID_IUnknown), InGuid, ArgSpec{Arg::kOutInterface, nullptr, 1}}),
         Method<&IClassFactory::LockServer>("LockServer", {InInt})}));

    Index<&IDispatch::GetTypeInfoCount, &IDispatch::GetTypeInfo, &IDispatch::GetIDsOfNames, &IDispatch::Invoke>();
    table->push_back(Interface<IDispatch>(
        IID_IDispatch, "IDispatch",
        {Method<&IDispatch::GetTypeInfoCount>("GetTypeInfoCount", {OutInt}),
         Method<&IDispatch::GetTypeInfo>("GetTypeInfo", {InInt, InInt, OutItf(IID_ITypeInfo)}),
         Method<&IDispatch::GetIDsOfNames>("GetIDsOfNames", {InGuid, ArgSpec{Arg::kInStringArray, nullptr, 2}, InInt,
                                                             InInt, ArgSpec{Arg::kOutIntArray, nullptr, 2}}),
         Method<&IDispatch::Invoke>("Invoke",
                                    {InInt, InGuid, InInt, InInt, InDispParams, OutVariant, OutExcepInfo, OutInt})}));

    Index<&IWbemProviderInitSink::SetStatus>();
    table->push_back(
        Interface<IWbemProviderInitSink>(IID_IWbemProviderInitSink, "IWbemProviderInitSink",
                                         {Method<&IWbemProviderInitSink::SetStatus>("SetStatus", {InInt, InInt})}));

    Index<&IWbemProviderInit::Initialize>();
    table->push_back(
        Interface<IWbemProviderInit>(IID_IWbemProviderInit, "IWbemProviderInit",
                                     {Method<&IWbemProviderInit::Initialize>(
                                         "Initialize", {InString, InInt, InString, InString, InItf(IID_IWbemServices),
                                                        InItf(IID_IWbemContext), InItf(IID_IWbemProviderInitSink)})}));

    Index<&IWbemObjectSink::Indicate, &IWbemObjectSink::SetStatus>();
    table->push_back(Interface<IWbemObjectSink>(
        IID_IWbemObjectSink, "IWbemObjectSink",
        {Method<&IWbemObjectSink::Indicate>("Indicate",
                                            {InInt, ArgSpec{Arg::kInInterfaceArray, &IID_IWbemClassObject, 0}}),
         Method<&IWbemObjectSink::SetStatus>("SetStatus", {InInt, InInt, InString, InItf(IID_IWbemClassObject)})}));

    Index<&IEnumWbemClassObject::Reset, &IEnumWbemClassObject::Next, &IEnumWbemClassObject::NextAsync,
          &IEnumWbemClassObject::Clone, &IEnumWbemClassObject::Skip>();
    table->push_back(Interface<IEnumWbemClassObject>(
        IID_IEnumWbemClassObject, "IEnumWbemClassObject",
        {Method<&IEnumWbemClassObject::Reset>("Reset"),
         Method<&IEnumWbemClassObject::Next>(
             "Next", {InInt, InInt, ArgSpec{Arg::kOutInterfaceArray, &IID_IWbemClassObject, 1}, OutInt}),
         Method<&IEnumWbemClassObject::NextAsync>("NextAsync", {InInt, InItf(IID_IWbemObjectSink)}),
         Method<&IEnumWbemClassObject::Clone>("Clone", {OutItf(IID_IEnumWbemClassObject)}),
         Method<&IEnumWbemClassObject::Skip>("Skip", {InInt, InInt})}));

    Index<&IWbemCallResult::GetResultObject, &IWbemCallResult::GetResultString, &IWbemCallResult::GetResultServices,
          &IWbemCallResult::GetCallStatus>();
    table->push_back(Interface<IWbemCallResult>(
        IID_IWbemCallResult, "IWbemCallResult",
        {Method<&IWbemCallResult::GetResultObject>("GetResultObject", {InInt, OutItf(IID_IWbemClassObject)}),
         Method<&IWbemCallResult::GetResultString>("GetResultString", {InInt, OutString}),
         Method<&IWbemCallResult::GetResultServices>("GetResultServices", {InInt, OutItf(IID_IWbemServices)}),
         Method<&IWbemCallResult::GetCallStatus>("GetCallStatus", {InInt, OutInt})}));

    Index<&IWbemLocator::ConnectServer>();
    table->push_back(Interface<IWbemLocator>(
        IID_IWbemLocator, "IWbemLocator",
        {Method<&IWbemLocator::ConnectServer>("ConnectServer", {InString, InString, InString, InString, InInt, InString,
                                                                InItf(IID_IWbemContext), OutItf(IID_IWbemServices)})}));

    using S = IWbemServices;
    const ArgSpec Ctx = InItf(IID_IWbemContext);
    const ArgSpec Sink = InItf(IID_IWbemObjectSink);
    const ArgSpec Obj = InItf(IID_IWbemClassObject);
    const ArgSpec OutObj = OutItf(IID_IWbemClassObject);
    const ArgSpec OutResult = OutItf(IID_IWbemCallResult);
    const ArgSpec OutEnum = OutItf(IID_IEnumWbemClassObject);
    Index<&S::OpenNamespace, &S::CancelAsyncCall, &S::QueryObjectSink, &S::GetObject, &S::GetObjectAsync, &S::PutClass,
          &S::PutClassAsync, &S::DeleteClass, &S::DeleteClassAsync, &S::CreateClassEnum, &S::CreateClassEnumAsync,
          &S::PutInstance, &S::PutInstanceAsync, &S::DeleteInstance, &S::DeleteInstanceAsync, &S::CreateInstanceEnum,
          &S::CreateInstanceEnumAsync, &S::ExecQuery, &S::ExecQueryAsync, &S::ExecNotificationQuery,
          &S::ExecNotificationQueryAsync, &S::ExecMethod, &S::ExecMethodAsync>();
    table->push_back(Interface<IWbemServices>(
        IID_IWbemServices, "IWbemServices",
        {Method<&S::OpenNamespace>("OpenNamespace", {InString, InInt, Ctx, OutItf(IID_IWbemServices), OutResult}),
         Method<&S::CancelAsyncCall>("CancelAsyncCall", {Sink}),
         Method<&S::QueryObjectSink>("QueryObjectSink", {InInt, OutItf(IID_IWbemObjectSink)}),
         Method<&S::GetObject>("GetObject", {InString, InInt, Ctx, OutObj, OutResult}),
         Method<&S::GetObjectAsync>("GetObjectAsync", {InString, InInt, Ctx, Sink}),
         Method<&S::PutClass>("PutClass", {Obj, InInt, Ctx, OutResult}),
         Method<&S::PutClassAsync>("PutClassAsync", {Obj, InInt, Ctx, Sink}),
         Method<&S::DeleteClass>("DeleteClass", {InString, InInt, Ctx, OutResult}),
         Method<&S::DeleteClassAsync>("DeleteClassAsync", {InString, InInt, Ctx, Sink}),
         Method<&S::CreateClassEnum>("CreateClassEnum", {InString, InInt, Ctx, OutEnum}),
         Method<&S::CreateClassEnumAsync>("CreateClassEnumAsync", {InString, InInt, Ctx, Sink}),
         Method<&S::PutInstance>("PutInstance", {Obj, InInt, Ctx, OutResult}),
         Method<&S::PutInstanceAsync>("PutInstanceAsync", {Obj, InInt, Ctx, Sink}),
         Method<&S::DeleteInstance>("DeleteInstance", {InString, InInt, Ctx, OutResult}),
         Method<&S::DeleteInstanceAsync>("DeleteInstanceAsync", {InString, InInt, Ctx, Sink}),
         Method<&S::CreateInstanceEnum>("CreateInstanceEnum", {InString, InInt, Ctx, OutEnum}),
         Method<&S::CreateInstanceEnumAsync>("CreateInstanceEnumAsync", {InString, InInt, Ctx, Sink}),
         Method<&S::ExecQuery>("ExecQuery", {InString, InString, InInt, Ctx, OutEnum}),
         Method<&S::ExecQueryAsync>("ExecQueryAsync", {InString, InString, InInt, Ctx, Sink}),
         Method<&S::ExecNotificationQuery>("ExecNotificationQuery", {InString, InString, InInt, Ctx, OutEnum}),
         Method<&S::ExecNotificationQueryAsync>("ExecNotificationQueryAsync", {InString, InString, InInt, Ctx, Sink}),
         Method<&S::ExecMethod>("ExecMethod", {InString, InString, InInt, Ctx, Obj, OutObj, OutResult}),
         Method<&S::ExecMethodAsync>("ExecMethodAsync", {InString, InString, InInt, Ctx, Obj, Sink})}));
    return table;
}

}  // namespace

const InterfaceSpec* FindInterface(REFGUID iid) {
    static std::vector<InterfaceSpec>* table = BuildTable();
    for (const auto& spec : *table)
        if (spec.iid == iid) return &spec;
    return nullptr;
}

}  // namespace qv::com
