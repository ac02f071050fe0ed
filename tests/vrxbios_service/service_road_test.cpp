// vrxBIOS on the real road: the client tool or this test program asks the instrumentation service (winmgmt),
// which starts vrxBIOS -Embedding on demand and calls its provider object across processes. What the provider
// did is read from the clients' results and from the debugger output of the processes.
//
// The tests do not depend on how many settings the provider publishes: they compare class-name variants with
// each other and check codes and trace lines.

#include "BIOSInterface.h"
#include "service_road_fixture.h"
#include "qv_wait.h"

#include <nlohmann/json.hpp>

#include <cstdio>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <tuple>
#include <utility>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

const std::string kRegistered =
    "Event source DecoupledEventProvider_BCXBiosSettings registered for root\\QV\\InstrumentedBIOS\n";
const std::string kUnregistered = "Event source DecoupledEventProvider_BCXBiosSettings unregistered\n";

// Lines of the framework's catch trace with the given code ("Caught HRESULT exception WMIProvider.cpp:N (0x…)").
size_t CaughtInFrame(const std::string& debug, HRESULT code) {
    const std::string start = "Caught HRESULT exception WMIProvider.cpp:";
    char tail[32];
    std::snprintf(tail, sizeof tail, " (0x%X)", static_cast<unsigned>(code));
    size_t count = 0;
    for (size_t at = debug.find(start); at != std::string::npos; at = debug.find(start, at + 1)) {
        std::string line = debug.substr(at, debug.find('\n', at) - at);
        if (line.ends_with(tail)) ++count;
    }
    return count;
}

// The Name of every instance of a JSON listing, in order.
std::vector<std::string> Names(const std::string& json) {
    std::vector<std::string> names;
    for (const auto& object : nlohmann::json::parse(json))
        names.push_back(object.contains("Name") && object["Name"].is_string() ? object["Name"].get<std::string>() : "");
    return names;
}

using Microsoft::WRL::ComPtr;
using Microsoft::WRL::Make;

// The service routes every class name variant to vrxBIOS, which dispatches without regard to case; a class it
// does not serve, put and delete are refused.
TEST_F(ServiceRoadTest, ClassNamesInAnyCaseReachTheSameHandlers) {
    ProgramResult canonical = Wmi({"--format", "json", "enum", "QVPROV_BIOSString"});
    ASSERT_EQ(canonical.code, 0) << canonical.err;
    ProgramResult lower = Wmi({"--format", "json", "enum", "qvprov_biosstring"});
    ASSERT_EQ(lower.code, 0) << lower.err;
    EXPECT_EQ(Names(lower.out), Names(canonical.out));
    EXPECT_NE(DebugText().find("bEmbedded: true\n"), std::string::npos) << "the service started vrxBIOS -Embedding";

    // A get passes the client's path on as written: each spelling reaches the get handler, which knows no
    // such instance.
    for (const char* path : {"QVPROV_BIOSString.InstanceName=\"none\"", "qvprov_biosstring.InstanceName=\"none\"",
                             "QVPROV_BIOSSTRING.InstanceName=\"none\""}) {
        ProgramResult got = Wmi({"get", path});
        EXPECT_EQ(got.code, 1) << path;
        EXPECT_NE(got.err.find("WBEM_E_NOT_FOUND"), std::string::npos) << path << ": " << got.err;
    }
    EXPECT_GE(CaughtInFrame(DebugText(), WBEM_E_NOT_FOUND), 3u) << DebugText();
    EXPECT_EQ(CaughtInFrame(DebugText(), WBEM_E_INVALID_CLASS), 0u) << DebugText();

    // A class registered with vrxBIOS's provider that vrxBIOS does not serve: refused by vrxBIOS itself.
    struct Case {
        std::vector<std::string> args;
        const char* code;
        HRESULT value;
    } refused[] = {
        {{"enum", "QVTEST_Unserved"}, "WBEM_E_INVALID_CLASS", WBEM_E_INVALID_CLASS},
        {{"get", "qvtest_unserved.InstanceName=\"x\""}, "WBEM_E_INVALID_CLASS", WBEM_E_INVALID_CLASS},
        {{"call", "QVTEST_Unserved.InstanceName=\"x\"", "SetBIOSSetting", "Name=Boot Delay", "Value=5", "Password="},
         "WBEM_E_INVALID_METHOD",
         WBEM_E_INVALID_METHOD},
    };
    for (const auto& c : refused) {
        size_t before = CaughtInFrame(DebugText(), c.value);
        ProgramResult r = Wmi(c.args);
        EXPECT_EQ(r.code, 1) << c.args[1];
        EXPECT_NE(r.err.find(c.code), std::string::npos) << c.args[1] << ": " << r.err;
        EXPECT_EQ(CaughtInFrame(DebugText(), c.value), before + 1) << c.args[1] << ": the provider refused it";
    }

    // Put and delete are refused by the service, as the registration supports neither; vrxBIOS is not asked.
    size_t caught = CountOf(DebugText(), "Caught ");
    ProgramResult removed = Wmi({"delete", "QVPROV_BIOSString.InstanceName=\"none\""});
    EXPECT_NE(removed.err.find("WBEM_E_PROVIDER_NOT_CAPABLE"), std::string::npos) << removed.err;
    EXPECT_EQ(CountOf(DebugText(), "Caught "), caught);
}

// The vrxBIOS process the service started also serves an object this test creates in it, and that object
// answers every operation the way the service's object does.
TEST_F(ServiceRoadTest, TheProviderTheServiceStartedAnswersEveryCall) {
    SetProviderIdle(3000);  // the service keeps its provider object while this test talks to the process
    ASSERT_EQ(Wmi({"enum", "QVPROV_BIOSString"}).code, 0);
    const std::vector<pid_t> started = VrxBiosProcesses();
    ASSERT_EQ(started.size(), 1u);
    ComPtr<IWbemServices> provider;
    ASSERT_EQ(CoCreateInstance(CLSID_BIOSInterface, nullptr, CLSCTX_LOCAL_SERVER, IID_IWbemServices,
                               reinterpret_cast<void**>(provider.GetAddressOf())),
              S_OK);
    EXPECT_EQ(VrxBiosProcesses(), started) << "the running server made the object";
    ComPtr<IWbemServices> ns = Connect();
    ASSERT_NE(ns, nullptr);

    // Unsupported operations answer at once, without a trace and without touching a sink.
    CComBSTR cls(L"QVPROV_BIOSString"), wql(L"WQL"), query(L"SELECT * FROM QVPROV_BIOSString");
    CComBSTR path(L"QVPROV_BIOSString.InstanceName=\"none\""), method(L"SetBIOSSetting");
    IWbemServices* opened = nullptr;  // the out parameters stay unset
    IWbemObjectSink* handler = nullptr;
    IWbemClassObject* object = nullptr;
    IEnumWbemClassObject* enumerator = nullptr;
    ComPtr<RecordingSink> untouched = Make<RecordingSink>();
    std::pair<const char*, std::function<HRESULT()>> unsupported[] = {
        {"OpenNamespace", [&] { return provider->OpenNamespace(cls, 0, nullptr, &opened, nullptr); }},
        {"CancelAsyncCall", [&] { return provider->CancelAsyncCall(untouched.Get()); }},
        {"QueryObjectSink", [&] { return provider->QueryObjectSink(0, &handler); }},
        {"GetObject", [&] { return provider->GetObject(path, 0, nullptr, &object, nullptr); }},
        {"PutClass", [&] { return provider->PutClass(nullptr, 0, nullptr, nullptr); }},
        {"PutClassAsync", [&] { return provider->PutClassAsync(nullptr, 0, nullptr, untouched.Get()); }},
        {"DeleteClass", [&] { return provider->DeleteClass(cls, 0, nullptr, nullptr); }},
        {"DeleteClassAsync", [&] { return provider->DeleteClassAsync(cls, 0, nullptr, untouched.Get()); }},
        {"CreateClassEnum", [&] { return provider->CreateClassEnum(cls, 0, nullptr, &enumerator); }},
        {"CreateClassEnumAsync", [&] { return provider->CreateClassEnumAsync(cls, 0, nullptr, untouched.Get()); }},
        {"PutInstance", [&] { return provider->PutInstance(nullptr, 0, nullptr, nullptr); }},
        {"DeleteInstance", [&] { return provider->DeleteInstance(path, 0, nullptr, nullptr); }},
        {"CreateInstanceEnum", [&] { return provider->CreateInstanceEnum(cls, 0, nullptr, &enumerator); }},
        {"ExecQuery", [&] { return provider->ExecQuery(wql, query, 0, nullptr, &enumerator); }},
        {"ExecNotificationQuery", [&] { return provider->ExecNotificationQuery(wql, query, 0, nullptr, &enumerator); }},
        {"ExecNotificationQueryAsync",
         [&] { return provider->ExecNotificationQueryAsync(wql, query, 0, nullptr, untouched.Get()); }},
        {"ExecMethod", [&] { return provider->ExecMethod(path, method, 0, nullptr, nullptr, &object, nullptr); }},
    };
    size_t traced = CountOf(DebugText(), " exception ");
    for (auto& [name, call] : unsupported) EXPECT_EQ(call(), WBEM_E_NOT_SUPPORTED) << name;
    EXPECT_EQ(CountOf(DebugText(), " exception "), traced);
    EXPECT_TRUE(untouched->Statuses().empty());
    EXPECT_TRUE(untouched->Classes().empty());
    EXPECT_EQ(opened, nullptr);
    EXPECT_EQ(handler, nullptr);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(enumerator, nullptr);

    // Initialize with the service's namespace: the event source registers here too.
    {
        ComPtr<IWbemProviderInit> init;
        ASSERT_EQ(provider.As(&init), S_OK);
        ComPtr<RecordingInitSink> init_sink = Make<RecordingInitSink>();
        wchar_t ns_name[] = L"root\\QV\\InstrumentedBIOS";
        EXPECT_EQ(init->Initialize(nullptr, 0, ns_name, nullptr, ns.Get(), nullptr, init_sink.Get()), WBEM_S_NO_ERROR);
        EXPECT_EQ(init_sink->Statuses(), std::vector<LONG>{WBEM_S_INITIALIZED});
        EXPECT_EQ(CountOf(DebugText(), kRegistered), 2u) << "the service's object and this one";
    }

    // A served call without a sink is invalid; no handler runs (the only throws are the frame's).
    ComPtr<IWbemClassObject> string_class;
    ASSERT_EQ(ns->GetObject(cls, 0, nullptr, string_class.GetAddressOf(), nullptr), S_OK);
    ComPtr<IWbemClassObject> instance;
    ASSERT_EQ(string_class->SpawnInstance(0, instance.GetAddressOf()), S_OK);
    std::pair<const char*, std::function<HRESULT()>> sinkless[] = {
        {"GetObjectAsync", [&] { return provider->GetObjectAsync(path, 0, nullptr, nullptr); }},
        {"PutInstanceAsync", [&] { return provider->PutInstanceAsync(instance.Get(), 0, nullptr, nullptr); }},
        {"DeleteInstanceAsync", [&] { return provider->DeleteInstanceAsync(path, 0, nullptr, nullptr); }},
        {"CreateInstanceEnumAsync", [&] { return provider->CreateInstanceEnumAsync(cls, 0, nullptr, nullptr); }},
        {"ExecQueryAsync", [&] { return provider->ExecQueryAsync(wql, query, 0, nullptr, nullptr); }},
        {"ExecMethodAsync", [&] { return provider->ExecMethodAsync(path, method, 0, nullptr, nullptr, nullptr); }},
    };
    size_t throws = CountOf(DebugText(), "Throwing HRESULT exception ");
    size_t frame_throws = CountOf(DebugText(), "Throwing HRESULT exception WMIProvider.cpp:");
    size_t invalid = CaughtInFrame(DebugText(), WBEM_E_INVALID_PARAMETER);
    for (auto& [name, call] : sinkless) EXPECT_EQ(call(), WBEM_E_INVALID_PARAMETER) << name;
    EXPECT_EQ(CaughtInFrame(DebugText(), WBEM_E_INVALID_PARAMETER), invalid + 6);
    EXPECT_EQ(CountOf(DebugText(), "Throwing HRESULT exception "), throws + 6);
    EXPECT_EQ(CountOf(DebugText(), "Throwing HRESULT exception WMIProvider.cpp:"), frame_throws + 6);

    // Put and delete are refused for the provider's classes; any other class is not the provider's.
    instance->Put(L"InstanceName", 0, nullptr, 0);
    ComPtr<IWbemClassObject> unserved_class;
    CComBSTR unserved(L"QVTEST_Unserved");
    ASSERT_EQ(ns->GetObject(unserved, 0, nullptr, unserved_class.GetAddressOf(), nullptr), S_OK);
    ComPtr<IWbemClassObject> unserved_instance;
    ASSERT_EQ(unserved_class->SpawnInstance(0, unserved_instance.GetAddressOf()), S_OK);
    CComBSTR unserved_path(L"QVTEST_Unserved.InstanceName=\"x\"");
    std::tuple<const char*, std::function<HRESULT(IWbemObjectSink*)>, HRESULT> served[] = {
        {"put", [&](IWbemObjectSink* s) { return provider->PutInstanceAsync(instance.Get(), 0, nullptr, s); },
         WBEM_E_NOT_SUPPORTED},
        {"delete", [&](IWbemObjectSink* s) { return provider->DeleteInstanceAsync(path, 0, nullptr, s); },
         WBEM_E_NOT_SUPPORTED},
        {"put other class",
         [&](IWbemObjectSink* s) { return provider->PutInstanceAsync(unserved_instance.Get(), 0, nullptr, s); },
         WBEM_E_INVALID_CLASS},
        {"delete other class",
         [&](IWbemObjectSink* s) { return provider->DeleteInstanceAsync(unserved_path, 0, nullptr, s); },
         WBEM_E_INVALID_CLASS},
        {"get other class", [&](IWbemObjectSink* s) { return provider->GetObjectAsync(unserved_path, 0, nullptr, s); },
         WBEM_E_INVALID_CLASS},
        {"enumerate other class",
         [&](IWbemObjectSink* s) { return provider->CreateInstanceEnumAsync(unserved, 0, nullptr, s); },
         WBEM_E_INVALID_CLASS},
    };
    for (auto& [name, call, expected] : served) {
        ComPtr<RecordingSink> sink = Make<RecordingSink>();
        EXPECT_EQ(call(sink.Get()), expected) << name;
        EXPECT_EQ(sink->Statuses(), std::vector<HRESULT>{expected}) << name;
        EXPECT_TRUE(sink->Classes().empty()) << name;
    }

    // A query names its class in any case and its condition is not applied: it lists what the enumeration
    // lists. A query ending in "from" fails with E_UNEXPECTED.
    ComPtr<RecordingSink> listed = Make<RecordingSink>();
    EXPECT_EQ(provider->CreateInstanceEnumAsync(CComBSTR(L"QVPROV_BIOSInteger"), 0, nullptr, listed.Get()),
              WBEM_S_NO_ERROR);
    ComPtr<RecordingSink> queried = Make<RecordingSink>();
    CComBSTR where(L"select Name from qvprov_biosinteger where Name = 'no such setting'");
    EXPECT_EQ(provider->ExecQueryAsync(wql, where, 0, nullptr, queried.Get()), WBEM_S_NO_ERROR);
    EXPECT_EQ(queried->Classes(), listed->Classes());
    EXPECT_EQ(queried->Statuses(), std::vector<HRESULT>{WBEM_S_NO_ERROR});
    ComPtr<RecordingSink> cut = Make<RecordingSink>();
    EXPECT_EQ(provider->ExecQueryAsync(wql, CComBSTR(L"select * from"), 0, nullptr, cut.Get()), E_UNEXPECTED);
    EXPECT_EQ(cut->Statuses(), std::vector<HRESULT>{E_UNEXPECTED});

    // A method the class does not have fails with what GetMethod says about it; no handler runs.
    ComPtr<IWbemClassObject> no_signature;
    HRESULT missing = string_class->GetMethod(L"SetBIOSSetting", 0, nullptr, no_signature.GetAddressOf());
    ASSERT_TRUE(FAILED(missing));
    ComPtr<RecordingSink> no_method = Make<RecordingSink>();
    EXPECT_EQ(provider->ExecMethodAsync(path, method, 0, nullptr, nullptr, no_method.Get()), missing);
    EXPECT_EQ(no_method->Statuses(), std::vector<HRESULT>{missing});
    EXPECT_TRUE(no_method->Classes().empty());
    EXPECT_EQ(VrxBiosProcesses(), started);
}

// An enumeration's instances reach a client in another process one by one, each while the handler is still
// running (it waits for the client's acknowledgement), and then the handler's failure arrives.
TEST_F(ServiceRoadTest, InstancesStreamToTheClientThenTheFailureFollows) {
    ComPtr<IWbemServices> ns = Connect();
    ASSERT_NE(ns, nullptr);
    ComPtr<IEnumWbemClassObject> enumerator;
    ASSERT_EQ(ns->CreateInstanceEnum(CComBSTR(L"QVTEST_Streaming"), WBEM_FLAG_FORWARD_ONLY, nullptr,
                                     enumerator.GetAddressOf()),
              S_OK);
    for (LONG index = 1; index <= 3; ++index) {
        ComPtr<IWbemClassObject> object;
        ULONG got = 0;
        ASSERT_EQ(enumerator->Next(30000, 1, object.GetAddressOf(), &got), S_OK) << index;
        ASSERT_EQ(got, 1u);
        CComVariant value;
        object->Get(L"Index", 0, &value, nullptr, nullptr);
        EXPECT_EQ(value.lVal, index);
        std::ofstream(root_ / ("stream-ack-" + std::to_string(index))) << "seen\n";
    }
    ComPtr<IWbemClassObject> none;
    ULONG got = 0;
    EXPECT_EQ(enumerator->Next(30000, 1, none.GetAddressOf(), &got), WBEM_E_CRITICAL_ERROR);
    EXPECT_EQ(got, 0u);
    enumerator.Reset();
    ns.Reset();
    EXPECT_NE(ServerDebugText().find("Throwing HRESULT exception test_server.cpp:"), std::string::npos);
    EXPECT_EQ(CaughtInFrame(ServerDebugText(), WBEM_E_CRITICAL_ERROR), 1u) << ServerDebugText();

    // An exception that is not an HRESULT reaches the client as E_UNEXPECTED.
    ProgramResult general = Wmi({"enum", "QVTEST_General"});
    EXPECT_EQ(general.code, 1);
    EXPECT_NE(general.err.find("E_UNEXPECTED"), std::string::npos) << general.err;
    EXPECT_NE(ServerDebugText().find("Caught general exception WMIProvider.cpp:"), std::string::npos);
}

// An event fired by a provider object reaches a consumer in another process; without a consumer nothing is
// built. vrxBIOS registered its own event source for the same class meanwhile.
TEST_F(ServiceRoadTest, AnEventReachesAConsumerInAnotherProcessOnlyWhenOneListens) {
    ProgramResult unheard = Wmi({"--format", "json", "call", "QVTEST_Events", "Fire", "Message=unheard"});
    ASSERT_EQ(unheard.code, 0) << unheard.err;
    EXPECT_EQ(nlohmann::json::parse(unheard.out)[0]["ReturnValue"], 1);
    std::string quiet = ServerDebugText();
    EXPECT_NE(quiet.find(kRegistered), std::string::npos) << quiet;
    EXPECT_NE(quiet.find("Fire: no event sink, no event built\n"), std::string::npos) << quiet;
    for (const char* built : {"Event fired", "No event sink to fire event.", "Bad event instance", "Caught "})
        EXPECT_EQ(quiet.find(built), std::string::npos) << built;

    ASSERT_EQ(Wmi({"enum", "QVPROV_BIOSString"}).code, 0);
    EXPECT_NE(DebugText().find(kRegistered), std::string::npos) << DebugText();

    pid_t watcher = Spawn(
        {BuildTree() + "/bin/wmi", "--namespace", "root\\QV\\InstrumentedBIOS", "--format", "json", "watch",
         "SELECT * FROM QV_BIOSConfigurationEvent WHERE Description = 'hello'", "--count", "1", "--timeout", "60"},
        "watch");
    // Fire until the subscription is in place (the provider then finds a sink); those events do not match.
    bool fired_ok = true;
    bool heard = WaitUntil(
        [&] {
            ProgramResult fired = Wmi({"--format", "json", "call", "QVTEST_Events", "Fire", "Message=probe"});
            fired_ok = fired.code == 0;
            EXPECT_EQ(fired.code, 0) << fired.err;
            return !fired_ok || nlohmann::json::parse(fired.out)[0]["ReturnValue"] == 0;
        },
        30s);
    ASSERT_TRUE(fired_ok);
    ASSERT_TRUE(heard);
    ASSERT_EQ(Wmi({"call", "QVTEST_Events", "Fire", "Message=hello"}).code, 0);
    ProgramResult watched = Finish(watcher, "watch");
    ASSERT_EQ(watched.code, 0) << watched.err;
    auto event = nlohmann::json::parse(watched.out);
    EXPECT_EQ(event["Name"], "BIOS Configuration Change");
    EXPECT_EQ(event["Description"], "hello");
    EXPECT_EQ(event["Category"], 4);
    EXPECT_EQ(event["Severity"], 5);
    EXPECT_EQ(event["Status"], 2);
    EXPECT_GE(CountOf(ServerDebugText(), "Event fired\n"), 2u);
}

// After the service lets go of vrxBIOS's last provider object, the process ends by itself about 50 ms later.
// The figure is printed; only a generous bound is checked.
TEST_F(ServiceRoadTest, ProviderExitsShortlyAfterTheServiceReleasesIt) {
    ASSERT_EQ(Wmi({"enum", "QVPROV_BIOSString"}).code, 0);
    std::vector<pid_t> servers = VrxBiosProcesses();
    ASSERT_EQ(servers.size(), 1u);
    bool unregistered = WaitUntil([&] { return DebugText().find(kUnregistered) != std::string::npos; }, 30s);
    auto released = Clock::now();
    ASSERT_TRUE(unregistered) << DebugText();
    ASSERT_TRUE(WaitProcessGone(servers[0], 10s));
    long took = static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - released).count());
    std::printf("vrxBIOS %d exited %ld ms after the service released its provider object\n", servers[0], took);
    RecordProperty("idle_exit_ms", static_cast<int>(took));
}

}  // namespace
