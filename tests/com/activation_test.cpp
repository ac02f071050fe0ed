// Activation of the test server and calls across processes.

#include "com_fixture.h"
#include "atlbase.h"
#include "oaidl.h"
#include "ole2.h"
#include "qv_com_runtime.h"
#include "wbemprov.h"
#include "windows.h"
#include "wrl/client.h"
#include "qv_wait.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <atomic>
#include <cstdio>
#include <filesystem>

extern char** environ;

namespace {

using Microsoft::WRL::ComPtr;

// Invokes method `id` with `args` (borrowed: the caller keeps what they hold); *result is cleared first.
HRESULT Call(IDispatch* object, DISPID id, std::vector<VARIANT> args, CComVariant* result,
             EXCEPINFO* exception = nullptr) {
    DISPPARAMS params{args.empty() ? nullptr : args.data(), nullptr, static_cast<UINT>(args.size()), 0};
    result->Clear();
    return object->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &params, result, exception, nullptr);
}

VARIANT Int(LONG v) {
    VARIANT x;
    VariantInit(&x);
    x.vt = VT_I4;
    x.lVal = v;
    return x;
}

pid_t ServerPid(const ComPtr<IDispatch>& object) {
    CComVariant r;
    EXPECT_EQ(Call(object.Get(), kDispServerPid, {}, &r), S_OK);
    return static_cast<pid_t>(r.lVal);
}

ComPtr<IDispatch> Create(REFCLSID clsid = CLSID_QvTestServer) {
    ComPtr<IDispatch> object;
    HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IDispatch,
                                  reinterpret_cast<void**>(object.GetAddressOf()));
    EXPECT_EQ(hr, S_OK);
    return object;
}

// Takes over the references an enumerator's Next handed out in `batch` (null entries stay empty holders).
std::vector<ComPtr<IWbemClassObject>> TakeBatch(IWbemClassObject** batch, ULONG count) {
    std::vector<ComPtr<IWbemClassObject>> held(count);
    for (ULONG i = 0; i < count; ++i) held[i].Attach(batch[i]);
    return held;
}

// A client process (qv_com_test_client) with pipes to its standard input and output.
struct ClientProcess {
    pid_t pid = 0;
    int in = -1;
    FILE* out = nullptr;
    bool Start() {
        int to[2], from[2];
        if (pipe2(to, O_CLOEXEC) != 0 || pipe2(from, O_CLOEXEC) != 0) return false;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, to[0], 0);
        posix_spawn_file_actions_adddup2(&actions, from[1], 1);
        posix_spawn_file_actions_addclose(&actions, to[1]);
        posix_spawn_file_actions_addclose(&actions, from[0]);
        std::string program = TestProgramDir() + "/qv_com_test_client";
        char* argv[] = {program.data(), nullptr};
        int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, environ);
        posix_spawn_file_actions_destroy(&actions);
        close(to[0]);
        close(from[1]);
        in = to[1];
        out = fdopen(from[0], "r");
        return rc == 0;
    }
    // The server pid the client reports, or 0.
    pid_t ReadServerPid() {
        int value = 0;
        return std::fscanf(out, "pid %d", &value) == 1 ? value : 0;
    }
    int Finish() {
        if (in >= 0) close(in);
        in = -1;
        int status = 0;
        waitpid(pid, &status, 0);
        if (out != nullptr) fclose(out);
        out = nullptr;
        return status;
    }
};

// A sink in the client: counts the values streamed into it and notes the thread that served each call.
class Sink final : public IWbemObjectSink, public IWbemProviderInitSink {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** object) override {
        if (riid == IID_IUnknown || riid == IID_IWbemObjectSink)
            *object = static_cast<IWbemObjectSink*>(this);
        else if (riid == IID_IWbemProviderInitSink)
            *object = static_cast<IWbemProviderInitSink*>(this);
        else
            return *object = nullptr, E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
    STDMETHODIMP_(ULONG) Release() override { return --refs; }  // lives on the test's stack
    STDMETHODIMP Indicate(LONG count, IWbemClassObject** objects) override {
        threads_ok = threads_ok && GetCurrentThreadId() == expected_thread;
        for (LONG i = 0; i < count; ++i) {
            LONG index = -1;
            std::wstring name;
            if (!ReadTestValue(objects[i], &index, &name) || index != received || name != L"Item") in_order = false;
            ++received;
        }
        return S_OK;
    }
    STDMETHODIMP SetStatus(LONG, HRESULT result, BSTR, IWbemClassObject*) override {
        final_status = result;
        ++statuses;
        return S_OK;
    }
    STDMETHODIMP SetStatus(LONG status, LONG) override {
        init_status = status;
        ++statuses;
        return S_OK;
    }
    std::atomic<ULONG> refs{1};
    DWORD expected_thread = GetCurrentThreadId();
    bool threads_ok = true;
    bool in_order = true;
    LONG received = 0;
    HRESULT final_status = E_PENDING_SENTINEL;
    LONG init_status = -1;
    int statuses = 0;
    static constexpr HRESULT E_PENDING_SENTINEL = static_cast<HRESULT>(0x8000000A);
};

using ActivationTest = ComServerTest;

// Activation by CLSID and by either ProgID reaches the same running server; calls carry VARIANTs both ways.
TEST_F(ActivationTest, ByClsidAndProgIdOneServer) {
    ComPtr<IDispatch> first = Create();
    ASSERT_NE(first, nullptr);
    pid_t pid = ServerPid(first);
    Track(pid);
    EXPECT_NE(pid, getpid());

    for (const wchar_t* progid : {L"QvTest.Server.1", L"QvTest.Server"}) {
        CLSID clsid{};
        ASSERT_EQ(CLSIDFromProgID(progid, &clsid), S_OK);
        EXPECT_EQ(clsid, CLSID_QvTestServer);
        ComPtr<IDispatch> again = Create(clsid);
        ASSERT_NE(again, nullptr);
        EXPECT_EQ(ServerPid(again), pid);
    }

    // The class object itself crosses too.
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(CoGetClassObject(CLSID_QvTestServer, CLSCTX_LOCAL_SERVER, nullptr, IID_IClassFactory,
                               reinterpret_cast<void**>(factory.GetAddressOf())),
              S_OK);
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    ComPtr<IDispatch> made;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(made.GetAddressOf())), S_OK);
    EXPECT_EQ(ServerPid(made), pid);
    EXPECT_EQ(
        factory->CreateInstance(first.Get(), IID_IDispatch, reinterpret_cast<void**>(made.ReleaseAndGetAddressOf())),
        CLASS_E_NOAGGREGATION);
    EXPECT_EQ(made, nullptr);
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    factory.Reset();

    CComVariant r;
    ASSERT_EQ(Call(first.Get(), kDispAdd, {Int(40), Int(2)}, &r), S_OK);
    EXPECT_EQ(r.vt, VT_I4);
    EXPECT_EQ(r.lVal, 42);

    LPOLESTR names[] = {const_cast<LPOLESTR>(L"Echo"), const_cast<LPOLESTR>(L"Nope")};
    DISPID ids[2] = {0, 0};
    EXPECT_EQ(first->GetIDsOfNames(IID_NULL, names, 2, 0, ids), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(ids[0], kDispEcho);
    EXPECT_EQ(ids[1], DISPID_UNKNOWN);
}

// Text, arrays and objects that marshal themselves by value survive a round trip.
TEST_F(ActivationTest, EchoesVariants) {
    ComPtr<IDispatch> object = Create();
    ASSERT_NE(object, nullptr);
    Track(ServerPid(object));

    CComVariant text(L"Grüße \u20ac");
    CComVariant r;
    ASSERT_EQ(Call(object.Get(), kDispEcho, {text}, &r), S_OK);
    ASSERT_EQ(r.vt, VT_BSTR);
    EXPECT_STREQ(r.bstrVal, L"Grüße \u20ac");

    CComVariant bytes;
    bytes.vt = VT_ARRAY | VT_UI1;
    bytes.parray = SafeArrayCreateVector(VT_UI1, 0, 3);
    static_cast<BYTE*>(bytes.parray->pvData)[2] = 0xAB;
    ASSERT_EQ(Call(object.Get(), kDispEcho, {bytes}, &r), S_OK);
    ASSERT_EQ(r.vt, VT_ARRAY | VT_UI1);
    EXPECT_EQ(r.parray->rgsabound[0].cElements, 3u);
    EXPECT_EQ(static_cast<BYTE*>(r.parray->pvData)[2], 0xAB);

    CComVariant value;
    value.vt = VT_UNKNOWN;
    value.punkVal = NewTestValue(7, L"seven");  // the variant holds the new object's reference
    ASSERT_EQ(Call(object.Get(), kDispEcho, {value}, &r), S_OK);
    ASSERT_EQ(r.vt, VT_UNKNOWN);
    EXPECT_NE(r.punkVal, value.punkVal);  // a copy came back, not a proxy of ours
    ComPtr<IWbemClassObject> copy;
    ASSERT_EQ(r.punkVal->QueryInterface(IID_IWbemClassObject, reinterpret_cast<void**>(copy.GetAddressOf())), S_OK);
    LONG index = 0;
    std::wstring name;
    ASSERT_TRUE(ReadTestValue(copy.Get(), &index, &name));
    EXPECT_EQ(index, 7);
    EXPECT_EQ(name, L"seven");
}

// A provider streams values into the client's sink while the client waits in CreateInstanceEnumAsync; the
// waiting thread serves those calls. Initialize reports through its init sink the same way.
TEST_F(ActivationTest, StreamsIntoSinkDuringCall) {
    ComPtr<IWbemServices> services;
    ASSERT_EQ(CoCreateInstance(CLSID_QvTestServer, nullptr, CLSCTX_LOCAL_SERVER, IID_IWbemServices,
                               reinterpret_cast<void**>(services.GetAddressOf())),
              S_OK);
    ComPtr<IDispatch> dispatch;
    ASSERT_EQ(services->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(dispatch.GetAddressOf())), S_OK);
    Track(ServerPid(dispatch));

    Sink sink;
    EXPECT_EQ(services->CreateInstanceEnumAsync(CComBSTR(L"250"), 0, nullptr, &sink), WBEM_S_NO_ERROR);
    EXPECT_EQ(sink.received, 250);
    EXPECT_TRUE(sink.in_order);
    EXPECT_TRUE(sink.threads_ok);
    EXPECT_EQ(sink.final_status, S_OK);

    ComPtr<IWbemProviderInit> init;
    ASSERT_EQ(services->QueryInterface(IID_IWbemProviderInit, reinterpret_cast<void**>(init.GetAddressOf())), S_OK);
    EXPECT_EQ(init->Initialize(nullptr, 0, const_cast<LPWSTR>(L"root\\test"), nullptr, nullptr, nullptr, &sink),
              WBEM_S_NO_ERROR);
    EXPECT_EQ(sink.init_status, WBEM_S_INITIALIZED);
    EXPECT_EQ(init->Initialize(nullptr, 0, const_cast<LPWSTR>(L"root\\other"), nullptr, nullptr, nullptr, &sink),
              WBEM_S_NO_ERROR);
    EXPECT_EQ(sink.init_status, WBEM_E_FAILED);
    init.Reset();
    dispatch.Reset();
    services.Reset();
    // Every reference the server took on the sink has been returned.
    EXPECT_EQ(sink.refs.load(), 1u);

    // A client in a single-threaded apartment gets the calls to its sink on its own thread as well.
    std::thread([] {
        ASSERT_EQ(OleInitialize(nullptr), S_OK);
        ComPtr<IWbemServices> sta_services;
        ASSERT_EQ(CoCreateInstance(CLSID_QvTestServer, nullptr, CLSCTX_LOCAL_SERVER, IID_IWbemServices,
                                   reinterpret_cast<void**>(sta_services.GetAddressOf())),
                  S_OK);
        Sink sta_sink;
        EXPECT_EQ(sta_services->CreateInstanceEnumAsync(CComBSTR(L"50"), 0, nullptr, &sta_sink), WBEM_S_NO_ERROR);
        EXPECT_EQ(sta_sink.received, 50);
        EXPECT_TRUE(sta_sink.threads_ok);
        EXPECT_TRUE(sta_sink.in_order);
        sta_services.Reset();  // before the apartment ends
        OleUninitialize();
    }).join();
}

// Out-parameters: an object by value, an enumerator by reference, and arrays of objects from Next.
TEST_F(ActivationTest, OutObjectsAndEnumerators) {
    ComPtr<IWbemServices> services;
    ASSERT_EQ(CoCreateInstance(CLSID_QvTestServer, nullptr, CLSCTX_LOCAL_SERVER, IID_IWbemServices,
                               reinterpret_cast<void**>(services.GetAddressOf())),
              S_OK);
    {
        ComPtr<IDispatch> dispatch;
        ASSERT_EQ(services->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(dispatch.GetAddressOf())), S_OK);
        Track(ServerPid(dispatch));
    }

    CComBSTR text(L"12");
    ComPtr<IWbemClassObject> object;
    ASSERT_EQ(services->GetObject(text, 0, nullptr, object.GetAddressOf(), nullptr), WBEM_S_NO_ERROR);
    LONG index = 0;
    std::wstring name;
    ASSERT_TRUE(ReadTestValue(object.Get(), &index, &name));
    EXPECT_EQ(index, 12);
    EXPECT_EQ(name, L"Object");
    object.Reset();
    EXPECT_EQ(services->PutClass(nullptr, 0, nullptr, nullptr), WBEM_E_NOT_SUPPORTED);

    ComPtr<IEnumWbemClassObject> values;
    text = L"5";
    ASSERT_EQ(services->CreateInstanceEnum(text, 0, nullptr, values.GetAddressOf()), WBEM_S_NO_ERROR);
    services.Reset();  // the enumerator keeps the server alive by itself
    IWbemClassObject* batch[3] = {};
    ULONG returned = 0;
    EXPECT_EQ(values->Next(WBEM_INFINITE, 3, batch, &returned), WBEM_S_NO_ERROR);
    EXPECT_EQ(returned, 3u);
    for (const auto& b : TakeBatch(batch, 3)) ASSERT_NE(b, nullptr);
    IWbemClassObject* rest[3] = {};
    EXPECT_EQ(values->Next(WBEM_INFINITE, 3, rest, &returned), WBEM_S_FALSE);
    EXPECT_EQ(returned, 2u);
    std::vector<ComPtr<IWbemClassObject>> last = TakeBatch(rest, 3);
    ASSERT_NE(last[1], nullptr);
    EXPECT_EQ(last[2], nullptr);
    ASSERT_TRUE(ReadTestValue(last[1].Get(), &index, &name));
    EXPECT_EQ(index, 4);
    EXPECT_EQ(name, L"Next");
    EXPECT_EQ(values->Next(WBEM_INFINITE, 1, rest, nullptr), WBEM_E_INVALID_PARAMETER);
}

// Calls into the single-threaded server arrive on its message-loop thread; impersonation shows the caller.
TEST_F(ActivationTest, ServerThreadAndIdentity) {
    ComPtr<IDispatch> object = Create();
    ASSERT_NE(object, nullptr);
    Track(ServerPid(object));
    CComVariant r;
    ASSERT_EQ(Call(object.Get(), kDispOnMainThread, {}, &r), S_OK);
    EXPECT_EQ(r.boolVal, VARIANT_TRUE);

    ASSERT_EQ(Call(object.Get(), kDispIdentity, {}, &r), S_OK);
    ASSERT_EQ(r.vt, VT_ARRAY | VT_I4);
    auto* ids = static_cast<LONG*>(r.parray->pvData);
    EXPECT_EQ(ids[0], static_cast<LONG>(getuid()));         // the caller
    EXPECT_EQ(ids[1], static_cast<LONG>(getuid()));         // impersonating the caller
    EXPECT_EQ(ids[2], static_cast<LONG>(geteuid()));        // the server's own after reverting (same user here)
    EXPECT_EQ(CoImpersonateClient(), RPC_E_CALL_COMPLETE);  // not inside a served call
}

// The started server holds nothing of its client: a pipe the client's caller waits on (its output, or any
// descriptor it did not mark close-on-exec) would otherwise stay open for as long as the server lives.
TEST_F(ActivationTest, ServerInheritsNoDescriptorOfItsClient) {
    int leaked[2];
    ASSERT_EQ(pipe(leaked), 0);  // deliberately not close-on-exec
    ComPtr<IDispatch> object = Create();
    ASSERT_NE(object, nullptr);
    pid_t pid = ServerPid(object);
    Track(pid);
    auto target = [&](const std::string& entry) {
        std::error_code ec;
        return std::filesystem::read_symlink("/proc/" + std::to_string(pid) + "/fd/" + entry, ec).string();
    };
    for (const char* standard : {"0", "1", "2"}) EXPECT_EQ(target(standard), "/dev/null") << standard;
    std::string mine = std::filesystem::read_symlink("/proc/self/fd/" + std::to_string(leaked[1])).string();
    std::error_code ec;
    for (const auto& fd : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec))
        EXPECT_NE(target(fd.path().filename().string()), mine);
    object.Reset();
    close(leaked[0]);
    close(leaked[1]);
}

// Errors come back as HRESULTs with their details.
TEST_F(ActivationTest, FailuresAreCleanHresults) {
    ComPtr<IDispatch> object = Create();
    ASSERT_NE(object, nullptr);
    Track(ServerPid(object));
    CComVariant r;
    EXCEPINFO exception{};
    EXPECT_EQ(Call(object.Get(), kDispFail, {}, &r, &exception), DISP_E_EXCEPTION);
    CComBSTR source, description, help;  // the exception's texts are the caller's to free
    source.Attach(exception.bstrSource);
    description.Attach(exception.bstrDescription);
    help.Attach(exception.bstrHelpFile);
    EXPECT_EQ(exception.scode, E_FAIL);
    ASSERT_NE(description.m_str, nullptr);
    EXPECT_STREQ(description, L"Deliberate failure");
    EXPECT_EQ(Call(object.Get(), 99, {}, &r), DISP_E_MEMBERNOTFOUND);

    IUnknown* other = nullptr;  // stays unset
    EXPECT_EQ(object->QueryInterface(IID_IWbemLocator, reinterpret_cast<void**>(&other)), E_NOINTERFACE);
    EXPECT_EQ(object->QueryInterface(IID_IStream, reinterpret_cast<void**>(&other)), E_NOINTERFACE);
    EXPECT_EQ(other, nullptr);
    object.Reset();

    // {00000000-0000-0000-0000-0000000000AA} is registered nowhere.
    const GUID unknown = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0xAA}};
    EXPECT_EQ(CoCreateInstance(unknown, nullptr, CLSCTX_ALL, IID_IUnknown, reinterpret_cast<void**>(&other)),
              REGDB_E_CLASSNOTREG);
}

// A server that never registers its class object, or a program that cannot start, ends the wait cleanly.
TEST_F(ActivationTest, ServerThatNeverRegisters) {
    setenv("QV_COM_ACTIVATION_TIMEOUT_MS", "1500", 1);
    IUnknown* object = nullptr;
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(CoCreateInstance(CLSID_QvSilentServer, nullptr, CLSCTX_LOCAL_SERVER, IID_IUnknown,
                               reinterpret_cast<void**>(&object)),
              CO_E_SERVER_EXEC_FAILURE);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));

    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CLASSES_ROOT, L"CLSID\\{5E1F0C3A-7B2D-4C61-9A43-2B8E6D0F1A13}\\LocalServer32", 0,
                              nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    std::wstring missing = L"/nonexistent/qv_no_such_server";
    RegSetValueExW(key, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(missing.c_str()),
                   static_cast<DWORD>((missing.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
    EXPECT_EQ(CoCreateInstance(CLSID_QvSilentServer, nullptr, CLSCTX_LOCAL_SERVER, IID_IUnknown,
                               reinterpret_cast<void**>(&object)),
              CO_E_SERVER_EXEC_FAILURE);
    unsetenv("QV_COM_ACTIVATION_TIMEOUT_MS");
}

// Two client processes racing to activate end up with one server; it exits once both are gone.
TEST_F(ActivationTest, TwoClientsOneServer) {
    ClientProcess a, b;
    ASSERT_TRUE(a.Start());
    ASSERT_TRUE(b.Start());
    pid_t pa = a.ReadServerPid();
    pid_t pb = b.ReadServerPid();
    EXPECT_NE(pa, 0);
    EXPECT_EQ(pa, pb);
    Track(pa);
    EXPECT_EQ(a.Finish(), 0);
    EXPECT_EQ(b.Finish(), 0);
}

// The server ends by itself after its last object is released.
TEST_F(ActivationTest, ServerExitsAfterLastRelease) {
    ComPtr<IDispatch> object = Create();
    ASSERT_NE(object, nullptr);
    pid_t pid = ServerPid(object);
    Track(pid);
    EXPECT_TRUE(ProcessAlive(pid));
    object.Reset();
    EXPECT_TRUE(WaitForExit(pid));
}

// A client killed with SIGKILL holds nothing any more: the server releases its references and ends.
TEST_F(ActivationTest, ServerExitsAfterClientKilled) {
    ClientProcess client;
    ASSERT_TRUE(client.Start());
    pid_t pid = client.ReadServerPid();
    ASSERT_NE(pid, 0);
    Track(pid);
    kill(client.pid, SIGKILL);
    client.Finish();
    EXPECT_TRUE(WaitForExit(pid));
}

// A server that dies under a client gives RPC_E_DISCONNECTED, not a hang.
TEST_F(ActivationTest, DeadServerDisconnects) {
    ComPtr<IDispatch> object = Create();
    ASSERT_NE(object, nullptr);
    pid_t pid = ServerPid(object);
    Track(pid);
    kill(pid, SIGKILL);
    ASSERT_TRUE(WaitForExit(pid));
    CComVariant r;
    EXPECT_EQ(Call(object.Get(), kDispAdd, {Int(1), Int(2)}, &r), RPC_E_DISCONNECTED);
}

// The mirror of a dead client: a server that dies while it holds the client's sink (a subscription) gives
// up those references too, so the client's object is released, in the multithreaded apartment and in a
// single-threaded one (there on the apartment's own thread, when it next looks at its queue or ends).
TEST_F(ActivationTest, DeadServerReleasesClientSink) {
    auto subscribe = [this](ComPtr<IWbemServices>* services, Sink* sink) {
        ASSERT_EQ(CoCreateInstance(CLSID_QvTestServer, nullptr, CLSCTX_LOCAL_SERVER, IID_IWbemServices,
                                   reinterpret_cast<void**>(services->GetAddressOf())),
                  S_OK);
        ComPtr<IDispatch> dispatch;
        ASSERT_EQ((*services)->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(dispatch.GetAddressOf())), S_OK);
        pid_t pid = ServerPid(dispatch);
        Track(pid);
        dispatch.Reset();
        EXPECT_EQ((*services)->ExecNotificationQueryAsync(
                      CComBSTR(L"WQL"), CComBSTR(L"select * from __InstanceCreationEvent"), 0, nullptr, sink),
                  WBEM_S_NO_ERROR);
        EXPECT_GT(sink->refs.load(), 1u);  // the server holds it
        kill(pid, SIGKILL);
        EXPECT_TRUE(WaitForExit(pid));
    };
    // Waits (bounded) until only the test's own reference is left, running the thread's queued work.
    auto released = [](Sink& sink) {
        return WaitUntil(
            [&] {
                MSG msg;
                while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
                return sink.refs.load() == 1;
            },
            std::chrono::seconds(15));
    };

    Sink sink;
    ComPtr<IWbemServices> services;
    subscribe(&services, &sink);
    EXPECT_TRUE(released(sink));
    services.Reset();

    std::thread([&] {
        ASSERT_EQ(OleInitialize(nullptr), S_OK);
        Sink sta_sink;
        ComPtr<IWbemServices> sta_services;
        subscribe(&sta_services, &sta_sink);
        EXPECT_TRUE(released(sta_sink));
        sta_services.Reset();  // before the apartment ends
        OleUninitialize();
    }).join();

    // An apartment whose thread ends without looking at its queue again: the release queued for it happens
    // as the thread ends.
    Sink ended_sink;
    std::thread([&] {
        ASSERT_EQ(OleInitialize(nullptr), S_OK);
        ComPtr<IWbemServices> ended_services;
        subscribe(&ended_services, &ended_sink);
        // The release is queued for this apartment; the thread does not run it.
        MSG queued;
        EXPECT_TRUE(WaitUntil([&] { return PeekMessageW(&queued, nullptr, 0, 0, PM_NOREMOVE) != FALSE; },
                              std::chrono::seconds(15)));
        ended_services.Reset();  // before the apartment ends
        OleUninitialize();
    }).join();
    EXPECT_TRUE(released(ended_sink));
}

// A subscription cancelled while the server lives returns the sink's reference the ordinary way.
TEST_F(ActivationTest, CancelledSubscriptionReleasesSink) {
    ComPtr<IWbemServices> services;
    ASSERT_EQ(CoCreateInstance(CLSID_QvTestServer, nullptr, CLSCTX_LOCAL_SERVER, IID_IWbemServices,
                               reinterpret_cast<void**>(services.GetAddressOf())),
              S_OK);
    {
        ComPtr<IDispatch> dispatch;
        ASSERT_EQ(services->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(dispatch.GetAddressOf())), S_OK);
        Track(ServerPid(dispatch));
    }
    Sink sink;
    ASSERT_EQ(services->ExecNotificationQueryAsync(CComBSTR(L"WQL"), CComBSTR(L"select * from __InstanceCreationEvent"),
                                                   0, nullptr, &sink),
              WBEM_S_NO_ERROR);
    EXPECT_EQ(services->CancelAsyncCall(&sink), WBEM_S_NO_ERROR);
    EXPECT_EQ(sink.final_status, WBEM_E_CALL_CANCELLED);
    EXPECT_EQ(services->CancelAsyncCall(&sink), WBEM_E_NOT_FOUND);
    services.Reset();
    EXPECT_EQ(sink.refs.load(), 1u);
}

}  // namespace
