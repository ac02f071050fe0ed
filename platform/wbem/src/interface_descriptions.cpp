// The WMI interfaces that cross processes, described once each for the COM runtime's proxies and stubs. The
// registrar below runs before main in every program that links the WMI interfaces (the library's link options
// keep this file in, see CMakeLists.txt).

#include "qv_com_interfaces.h"
#include "wbemcli.h"
#include "wbemprov.h"

namespace qv::wbem {
namespace {

using namespace qv::com;

std::vector<InterfaceSpec> WbemInterfaces() {
    std::vector<InterfaceSpec> specs;
    Index<&IWbemProviderInitSink::SetStatus>();
    specs.push_back(
        Interface<IWbemProviderInitSink>(IID_IWbemProviderInitSink, "IWbemProviderInitSink",
                                         {Method<&IWbemProviderInitSink::SetStatus>("SetStatus", {InInt, InInt})}));

    Index<&IWbemProviderInit::Initialize>();
    specs.push_back(
        Interface<IWbemProviderInit>(IID_IWbemProviderInit, "IWbemProviderInit",
                                     {Method<&IWbemProviderInit::Initialize>(
                                         "Initialize", {InString, InInt, InString, InString, InItf(IID_IWbemServices),
                                                        InItf(IID_IWbemContext), InItf(IID_IWbemProviderInitSink)})}));

    Index<&IWbemObjectSink::Indicate, &IWbemObjectSink::SetStatus>();
    specs.push_back(Interface<IWbemObjectSink>(
        IID_IWbemObjectSink, "IWbemObjectSink",
        {Method<&IWbemObjectSink::Indicate>("Indicate",
                                            {InInt, ArgSpec{Arg::kInInterfaceArray, &IID_IWbemClassObject, 0}}),
         Method<&IWbemObjectSink::SetStatus>("SetStatus", {InInt, InInt, InString, InItf(IID_IWbemClassObject)})}));

    Index<&IEnumWbemClassObject::Reset, &IEnumWbemClassObject::Next, &IEnumWbemClassObject::NextAsync,
          &IEnumWbemClassObject::Clone, &IEnumWbemClassObject::Skip>();
    specs.push_back(Interface<IEnumWbemClassObject>(
        IID_IEnumWbemClassObject, "IEnumWbemClassObject",
        {Method<&IEnumWbemClassObject::Reset>("Reset"),
         Method<&IEnumWbemClassObject::Next>(
             "Next", {InInt, InInt, ArgSpec{Arg::kOutInterfaceArray, &IID_IWbemClassObject, 1}, OutInt}),
         Method<&IEnumWbemClassObject::NextAsync>("NextAsync", {InInt, InItf(IID_IWbemObjectSink)}),
         Method<&IEnumWbemClassObject::Clone>("Clone", {OutItf(IID_IEnumWbemClassObject)}),
         Method<&IEnumWbemClassObject::Skip>("Skip", {InInt, InInt})}));

    Index<&IWbemCallResult::GetResultObject, &IWbemCallResult::GetResultString, &IWbemCallResult::GetResultServices,
          &IWbemCallResult::GetCallStatus>();
    specs.push_back(Interface<IWbemCallResult>(
        IID_IWbemCallResult, "IWbemCallResult",
        {Method<&IWbemCallResult::GetResultObject>("GetResultObject", {InInt, OutItf(IID_IWbemClassObject)}),
         Method<&IWbemCallResult::GetResultString>("GetResultString", {InInt, OutString}),
         Method<&IWbemCallResult::GetResultServices>("GetResultServices", {InInt, OutItf(IID_IWbemServices)}),
         Method<&IWbemCallResult::GetCallStatus>("GetCallStatus", {InInt, OutInt})}));

    Index<&IWbemLocator::ConnectServer>();
    specs.push_back(Interface<IWbemLocator>(
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
    specs.push_back(Interface<IWbemServices>(
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
    return specs;
}

}  // namespace
}  // namespace qv::wbem

// Referenced by the library's link options so that the linker keeps this file and its registrar.
extern "C" {
int qv_wbem_interfaces_anchor = 0;
}

namespace {
const bool described = (qv::com::DescribeInterfaces(qv::wbem::WbemInterfaces()), true);
}
