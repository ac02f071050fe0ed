// Activation of the test server and calls across processes.

#include "com_fixture.h"
#include "oaidl.h"
#include "ole2.h"
#include "qv_com_runtime.h"
#include "wbemprov.h"
#include "windows.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <atomic>
#include <cstdio>
#include <filesystem>

extern char** environ;

namespace {

HRESULT Call(IDispatch* object, DISPID id, std::vector<VARIANT> args, VARIANT* result, EXCEPINFO* exception = nullptr) {
    DISPPARAMS params{args.empty() ? nullptr : args.data(), nullptr, static_cast<UINT>(args.size()), 0};
    VariantInit(result);
    return object->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &params, result, exception, nullptr);
}

VARIANT Int(LONG v) {
    VARIANT x;
    VariantInit(&x);
    x.vt = VT_I4;
    x.lVal = v;
    return x;
}

pid_t ServerPid(IDispatch* object) {
    VARIANT r;
    EXPECT_EQ(Call(object, kDispServerPid, {}, &r), S_OK);
    return static_cast<pid_t>(r.lVal);
}

IDispatch* Create(REFCLSID clsid = CLSID_QvTestServer) {
    IDispatch* object = nullptr;
    HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IDispatch,
                                  reinterpret_cast<void**>(&object));
    EXPECT_EQ(hr, S_OK);
    return object;
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
    IDispatch* first = Create();
    ASSERT_NE(first, nullptr);
    pid_t pid = ServerPid(first);
    Track(pid);
    EXPECT_NE(pid, getpid());

    for (const wchar_t* progid : {L"QvTest.Server.1", L"QvTest.Server"}) {
        CLSID clsid{};
        ASSERT_EQ(CLSIDFromProgID(progid, &clsid), S_OK);
        EXPECT_EQ(clsid, CLSID_QvTestServer);
        IDispatch* again = Create(clsid);
        ASSERT_NE(again, nullptr);
        EXPECT_EQ(ServerPid(again), pid);
        again->Release();
    }

    // The class object itself crosses too.
    IClassFactory* factory = nullptr;
    ASSERT_EQ(CoGetClassObject(CLSID_QvTestServer, CLSCTX_LOCAL_SERVER, nullptr, IID_IClassFactory,
                               reinterpret_cast<void**>(&factory)),
              S_OK);
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    IDispatch* made = nullptr;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(&made)), S_OK);
    EXPECT_EQ(ServerPid(made), pid);
    made->Release();
    EXPECT_EQ(factory->CreateInstance(first, IID_IDispatch, reinterpret_cast<void**>(&made)), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(made, nullptr);
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    factory->Release();

    VARIANT r;
    ASSERT_EQ(Call(first, kDispAdd, {Int(40), Int(2)}, &r), S_OK);
    EXPECT_EQ(r.vt, VT_I4);
    EXPECT_EQ(r.lVal, 42);

    LPOLESTR names[] = {const_cast<LPOLESTR>(L"Echo"), const_cast<LPOLESTR>(L"Nope")};
    DISPID ids[2] = {0, 0};
    EXPECT_EQ(first->GetIDsOfNames(IID_NULL, names, 2, 0, ids), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(ids[0], kDispEcho);
    EXPECT_EQ(ids[1], DISPID_UNKNOWN);
    first->Release();
}

// Text, arrays and objects that marshal themselves by value survive a round trip.
TEST_F(ActivationTest, EchoesVariants) {
    IDispatch* object = Create();
    ASSERT_NE(object, nullptr);
    Track(ServerPid(object));

    VARIANT text;
    VariantInit(&text);
    text.vt = VT_BSTR;
    text.bstrVal = SysAllocString(L"Grüße \u20ac");
    VARIANT r;
    ASSERT_EQ(Call(object, kDispEcho, {text}, &r), S_OK);
    ASSERT_EQ(r.vt, VT_BSTR);
    EXPECT_STREQ(r.bstrVal, L"Grüße \u20ac");
    VariantClear(&r);
    VariantClear(&text);

    VARIANT bytes;
    VariantInit(&bytes);
    bytes.vt = VT_ARRAY | VT_UI1;
    bytes.parray = SafeArrayCreateVector(VT_UI1, 0, 3);
    static_cast<BYTE*>(bytes.parray->pvData)[2] = 0xAB;
    ASSERT_EQ(Call(object, kDispEcho, {bytes}, &r), S_OK);
    ASSERT_EQ(r.vt, VT_ARRAY | VT_UI1);
    EXPECT_EQ(r.parray->rgsabound[0].cElements, 3u);
    EXPECT_EQ(static_cast<BYTE*>(r.parray->pvData)[2], 0xAB);
    VariantClear(&r);
    VariantClear(&bytes);

    VARIANT value;
    VariantInit(&value);
    value.vt = VT_UNKNOWN;
    value.punkVal = NewTestValue(7, L"seven");
    ASSERT_EQ(Call(object, kDispEcho, {value}, &r), S_OK);
    ASSERT_EQ(r.vt, VT_UNKNOWN);
    EXPECT_NE(r.punkVal, value.punkVal);  // a copy came back, not a proxy of ours
    IWbemClassObject* copy = nullptr;
    ASSERT_EQ(r.punkVal->QueryInterface(IID_IWbemClassObject, reinterpret_cast<void**>(&copy)), S_OK);
    LONG index = 0;
    std::wstring name;
    ASSERT_TRUE(ReadTestValue(copy, &index, &name));
    EXPECT_EQ(index, 7);
    EXPECT_EQ(name, L"seven");
    copy->Release();
    VariantClear(&r);
    VariantClear(&value);
    object->Release();
}

// A provider streams values into the client's sink while the client waits in CreateInstanceEnumAsync; the
// waiting thread serves those calls. Initialize reports through its init sink the same way.
TEST_F(ActivationTest, StreamsIntoSinkDuringCall) {
    IWbemServices* services = nullptr;
    ASSERT_EQ(CoCreateInstance(CLSID_QvTestServer, nullptr, CLSCTX_LOCAL_SERVER, IID_IWbemServices,
                               reinterpret_cast<void**>(&services)),
              S_OK);
    IDispatch* dispatch = nullptr;
    ASSERT_EQ(services->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch)), S_OK);
    Track(ServerPid(dispatch));

    Sink sink;
    BSTR count = SysAllocString(L"250");
    EXPECT_EQ(services->CreateInstanceEnumAsync(count, 0, nullptr, &sink), WBEM_S_NO_ERROR);
    SysFreeString(count);
    EXPECT_EQ(sink.received, 250);
    EXPECT_TRUE(sink.in_order);
    EXPECT_TRUE(sink.threads_ok);
    EXPECT_EQ(sink.final_status, S_OK);

    IWbemProviderInit* init = nullptr;
    ASSERT_EQ(services->QueryInterface(IID_IWbemProviderInit, reinterpret_cast<void**>(&init)), S_OK);
    EXPECT_EQ(init->Initialize(nullptr, 0, const_cast<LPWSTR>(L"root\\test"), nullptr, nullptr, nullptr, &sink),
              WBEM_S_NO_ERROR);
    EXPECT_EQ(sink.init_status, WBEM_S_INITIALIZED);
    EXPECT_EQ(init->Initialize(nullptr, 0, const_cast<LPWSTR>(L"root\\other"), nullptr, nullptr, nullptr, &sink),
              WBEM_S_NO_ERROR);
    EXPECT_EQ(sink.init_status, WBEM_E_FAILED);
    init->Release();
    dispatch->Release();
    services->Release();
    // Every reference the server took on the sink has been returned.
    EXPECT_EQ(sink.refs.load(), 1u);

    // A client in a single-threaded apartment gets the calls to its sink on its own thread as well.
    std::thread([] {
        ASSERT_EQ(OleInitialize(nullptr), S_OK);
        IWbemServices* sta_services = nullptr;
        ASSERT_EQ(CoCreateInstance(CLSID_QvTestServer, nullptr, CLSCTX_LOCAL_SERVER, IID_IWbemServices,
                                   reinterpret_cast<void**>(&sta_services)),
                  S_OK);
        Sink sta_sink;
        BSTR fifty = SysAllocString(L"50");
        EXPECT_EQ(sta_services->CreateInstanceEnumAsync(fifty, 0, nullptr, &sta_sink), WBEM_S_NO_ERROR);
        SysFreeString(fifty);
        EXPECT_EQ(sta_sink.received, 50);
        EXPECT_TRUE(sta_sink.threads_ok);
        EXPECT_TRUE(sta_sink.in_order);
        sta_services->Release();
        OleUninitialize();
    }).join();
}

// Out-parameters: an object by value, an enumerator by reference, and arrays of objects from Next.
TEST_F(ActivationTest, OutObjectsAndEnumerators) {
    IWbemServices* services = nullptr;
    ASSERT_EQ(CoCreateInstance(CLSID_QvTestServer, nullptr, CLSCTX_LOCAL_SERVER, IID_IWbemServices,
                               reinterpret_cast<void**>(&services)),
              S_OK);
    IDispatch* dispatch = nullptr;
    ASSERT_EQ(services->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch)), S_OK);
    Track(ServerPid(dispatch));
    dispatch->Release();

    BSTR text = SysAllocString(L"12");
    IWbemClassObject* object = nullptr;
    ASSERT_EQ(services->GetObject(text, 0, nullptr, &object, nullptr), WBEM_S_NO_ERROR);
    LONG index = 0;
    std::wstring name;
    ASSERT_TRUE(ReadTestValue(object, &index, &name));
    EXPECT_EQ(index, 12);
    EXPECT_EQ(name, L"Object");
    object->Release();
    EXPECT_EQ(services->PutClass(nullptr, 0, nullptr, nullptr), WBEM_E_NOT_SUPPORTED);

    IEnumWbemClassObject* values = nullptr;
    SysReAllocString(&text, L"5");
    ASSERT_EQ(services->CreateInstanceEnum(text, 0, nullptr, &values), WBEM_S_NO_ERROR);
    SysFreeString(text);
    services->Release();  // the enumerator keeps the server alive by itself
    IWbemClassObject* batch[3] = {};
    ULONG returned = 0;
    EXPECT_EQ(values->Next(WBEM_INFINITE, 3, batch, &returned), WBEM_S_NO_ERROR);
    EXPECT_EQ(returned, 3u);
    for (auto*& b : batch) {
        ASSERT_NE(b, nullptr);
        b->Release();
        b = nullptr;
    }
    EXPECT_EQ(values->Next(WBEM_INFINITE, 3, batch, &returned), WBEM_S_FALSE);
    EXPECT_EQ(returned, 2u);
    ASSERT_NE(batch[1], nullptr);
    EXPECT_EQ(batch[2], nullptr);
    ASSERT_TRUE(ReadTestValue(batch[1], &index, &name));
    EXPECT_EQ(index, 4);
    EXPECT_EQ(name, L"Next");
    for (auto* b : batch)
        if (b != nullptr) b->Release();
    EXPECT_EQ(values->Next(WBEM_INFINITE, 1, batch, nullptr), WBEM_E_INVALID_PARAMETER);
    values->Release();
}

// Calls into the single-threaded server arrive on its message-loop thread; impersonation shows the caller.
TEST_F(ActivationTest, ServerThreadAndIdentity) {
    IDispatch* object = Create();
    ASSERT_NE(object, nullptr);
    Track(ServerPid(object));
    VARIANT r;
    ASSERT_EQ(Call(object, kDispOnMainThread, {}, &r), S_OK);
    EXPECT_EQ(r.boolVal, VARIANT_TRUE);

    ASSERT_EQ(Call(object, kDispIdentity, {}, &r), S_OK);
    ASSERT_EQ(r.vt, VT_ARRAY | VT_I4);
    auto* ids = static_cast<LONG*>(r.parray->pvData);
    EXPECT_EQ(ids[0], static_cast<LONG>(getuid()));   // the caller
    EXPECT_EQ(ids[1], static_cast<LONG>(getuid()));   // impersonating the caller
    EXPECT_EQ(ids[2], static_cast<LONG>(geteuid()));  // the server's own after reverting (same user here)
    VariantClear(&r);
    EXPECT_EQ(CoImpersonateClient(), RPC_E_CALL_COMPLETE);  // not inside a served call
    object->Release();
}

// The started server holds nothing of its client: a pipe the client's caller waits on (its output, or any
// descriptor it did not mark close-on-exec) would otherwise stay open for as long as the server lives.
TEST_F(ActivationTest, ServerInheritsNoDescriptorOfItsClient) {
    int leaked[2];
    ASSERT_EQ(pipe(leaked), 0);  // deliberately not close-on-exec
    IDispatch* object = Create();
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
    object->Release();
    close(leaked[0]);
    close(leaked[1]);
}

// Errors come back as HRESULTs with their details.
TEST_F(ActivationTest, FailuresAreCleanHresults) {
    IDispatch* object = Create();
    ASSERT_NE(object, nullptr);
    Track(ServerPid(object));
    VARIANT r;
    EXCEPINFO exception{};
    EXPECT_EQ(Call(object, kDispFail, {}, &r, &exception), DISP_E_EXCEPTION);
    EXPECT_EQ(exception.scode, E_FAIL);
    ASSERT_NE(exception.bstrDescription, nullptr);
    EXPECT_STREQ(exception.bstrDescription, L"Deliberate failure");
    SysFreeString(exception.bstrDescription);
    EXPECT_EQ(Call(object, 99, {}, &r), DISP_E_MEMBERNOTFOUND);

    IUnknown* other = nullptr;
    EXPECT_EQ(object->QueryInterface(IID_IWbemLocator, reinterpret_cast<void**>(&other)), E_NOINTERFACE);
    EXPECT_EQ(object->QueryInterface(IID_IStream, reinterpret_cast<void**>(&other)), E_NOINTERFACE);
    object->Release();

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
    IDispatch* object = Create();
    ASSERT_NE(object, nullptr);
    pid_t pid = ServerPid(object);
    Track(pid);
    EXPECT_TRUE(ProcessAlive(pid));
    object->Release();
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
    IDispatch* object = Create();
    ASSERT_NE(object, nullptr);
    pid_t pid = ServerPid(object);
    Track(pid);
    kill(pid, SIGKILL);
    ASSERT_TRUE(WaitForExit(pid));
    VARIANT r;
    EXPECT_EQ(Call(object, kDispAdd, {Int(1), Int(2)}, &r), RPC_E_DISCONNECTED);
    object->Release();
}

// The mirror of a dead client: a server that dies while it holds the client's sink (a subscription) gives
// up those references too, so the client's object is released, in the multithreaded apartment and in a
// single-threaded one (there on the apartment's own thread, when it next looks at its queue or ends).
TEST_F(ActivationTest, DeadServerReleasesClientSink) {
    auto subscribe = [this](IWbemServices** services, Sink* sink) {
        ASSERT_EQ(CoCreateInstance(CLSID_QvTestServer, nullptr, CLSCTX_LOCAL_SERVER, IID_IWbemServices,
                                   reinterpret_cast<void**>(services)),
                  S_OK);
        IDispatch* dispatch = nullptr;
        ASSERT_EQ((*services)->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch)), S_OK);
        pid_t pid = ServerPid(dispatch);
        Track(pid);
        dispatch->Release();
        BSTR language = SysAllocString(L"WQL");
        BSTR query = SysAllocString(L"select * from __InstanceCreationEvent");
        EXPECT_EQ((*services)->ExecNotificationQueryAsync(language, query, 0, nullptr, sink), WBEM_S_NO_ERROR);
        SysFreeString(language);
        SysFreeString(query);
        EXPECT_GT(sink->refs.load(), 1u);  // the server holds it
        kill(pid, SIGKILL);
        EXPECT_TRUE(WaitForExit(pid));
    };
    // Waits (bounded) until only the test's own reference is left, running the thread's queued work.
    auto released = [](Sink& sink) {
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
        while (sink.refs.load() != 1 && std::chrono::steady_clock::now() < deadline) {
            MSG msg;
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return sink.refs.load() == 1;
    };

    Sink sink;
    IWbemServices* services = nullptr;
    subscribe(&services, &sink);
    EXPECT_TRUE(released(sink));
    if (services != nullptr) services->Release();

    std::thread([&] {
        ASSERT_EQ(OleInitialize(nullptr), S_OK);
        Sink sta_sink;
        IWbemServices* sta_services = nullptr;
        subscribe(&sta_services, &sta_sink);
        EXPECT_TRUE(released(sta_sink));
        if (sta_services != nullptr) sta_services->Release();
        OleUninitialize();
    }).join();

    // An apartment whose thread ends without looking at its queue again: the release queued for it happens
    // as the thread ends.
    Sink ended_sink;
    std::thread([&] {
        ASSERT_EQ(OleInitialize(nullptr), S_OK);
        IWbemServices* ended_services = nullptr;
        subscribe(&ended_services, &ended_sink);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));  // time for the release to be queued
        if (ended_services != nullptr) ended_services->Release();
        OleUninitialize();
    }).join();
    EXPECT_TRUE(released(ended_sink));
}

// A subscription cancelled while the server lives returns the sink's reference the ordinary way.
TEST_F(ActivationTest, CancelledSubscriptionReleasesSink) {
    IWbemServices* services = nullptr;
    ASSERT_EQ(CoCreateInstance(CLSID_QvTestServer, nullptr, CLSCTX_LOCAL_SERVER, IID_IWbemServices,
                               reinterpret_cast<void**>(&services)),
              S_OK);
    IDispatch* dispatch = nullptr;
    ASSERT_EQ(services->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch)), S_OK);
    Track(ServerPid(dispatch));
    dispatch->Release();
    Sink sink;
    BSTR language = SysAllocString(L"WQL");
    BSTR query = SysAllocString(L"select * from __InstanceCreationEvent");
    ASSERT_EQ(services->ExecNotificationQueryAsync(language, query, 0, nullptr, &sink), WBEM_S_NO_ERROR);
    SysFreeString(language);
    SysFreeString(query);
    EXPECT_EQ(services->CancelAsyncCall(&sink), WBEM_S_NO_ERROR);
    EXPECT_EQ(sink.final_status, WBEM_E_CALL_CANCELLED);
    EXPECT_EQ(services->CancelAsyncCall(&sink), WBEM_E_NOT_FOUND);
    services->Release();
    EXPECT_EQ(sink.refs.load(), 1u);
}

}  // namespace
