// The interfaces of the runtime itself, described once each, and the table other layers add theirs to.

#include "interfaces.h"

#include "oaidl.h"
#include "qv_module_unload.h"

#include <deque>
#include <mutex>

namespace qv::com {
namespace {

// A deque: descriptions never move once added, so FindInterface's answers stay valid.
using Table = std::deque<InterfaceSpec>;

std::mutex table_mutex;

Table* BuildTable() {
    auto* table = qv::win::KeepUntilUnload(new Table());
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

    return table;
}

Table& Described() {
    static Table* table = BuildTable();
    return *table;
}

}  // namespace

void DescribeInterfaces(std::vector<InterfaceSpec> specs) {
    std::lock_guard lock(table_mutex);
    Table& table = Described();
    for (auto& spec : specs) {
        bool known = false;
        for (const auto& existing : table) known = known || existing.iid == spec.iid;
        if (!known) table.push_back(std::move(spec));
    }
}

const InterfaceSpec* FindInterface(REFGUID iid) {
    std::lock_guard lock(table_mutex);
    for (const auto& spec : Described())
        if (spec.iid == iid) return &spec;
    return nullptr;
}

}  // namespace qv::com
