// The provider base through its COM interfaces, with handler doubles and fake WMI objects.

#include "WMIException.h"
#include "WMIProvider.h"
#include "debug_capture.h"
#include "wmi_fakes.h"

#include <stdexcept>

namespace {

using Microsoft::WRL::ComPtr;
using Microsoft::WRL::Make;

const wchar_t* const kProviderClasses[] = {L"QVPROV_BIOSSettingInterface", L"QVPROV_BIOSString",
                                           L"QVPROV_BIOSPassword",         L"QVPROV_BIOSInteger",
                                           L"QVPROV_BIOSEnumeration",      L"QVPROV_BIOSOrderedList"};

// A provider whose class handlers record their calls and do what the test tells them.
class TestProvider : public WMIProvider {
public:
    TestProvider() : WMIProvider(L"root\\QV\\InstrumentedBIOS", L"DecoupledEventProvider_BCXBiosSettings") {
        for (const wchar_t* name : kProviderClasses) {
            std::wstring cls = name;
            AddClass(
                name,
                [this, cls](WMIInstance& instance, LONG flags) {
                    calls.push_back(L"get " + cls);
                    last_flags = flags;
                    if (get) get(instance);
                },
                [this, cls](WMIInstanceList& list, WMIRequest& request) {
                    calls.push_back(L"enumerate " + cls);
                    if (enumerate) enumerate(list, request);
                });
        }
        for (const wchar_t* method : {L"SetBIOSSetting", L"SetSystemDefaults"}) {
            std::wstring name = method;
            AddMethod(L"QVPROV_BIOSSettingInterface", method,
                      [this, name](WMIInstance& target, BSTR, WMIMethodCall& call, LONG) {
                          calls.push_back(L"method " + name);
                          if (run) run(target, call);
                      });
        }
    }
    std::vector<std::wstring> calls;
    LONG last_flags = -1;
    std::function<void(WMIInstance&)> get;
    std::function<void(WMIInstanceList&, WMIRequest&)> enumerate;
    std::function<void(WMIInstance&, WMIMethodCall&)> run;
    using WMIProvider::SetEventSource;
};

// An event source whose registration throws, to show how Initialize reports it.
class ThrowingEventSource : public WMIEventSource {
public:
    HRESULT Register(LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR) override { WMI_THROW(E_OUTOFMEMORY); }
};

class ProviderTest : public ::testing::Test {
protected:
    void SetUp() override {
        services_ = Make<FakeServices>();
        for (const wchar_t* name : kProviderClasses) services_->AddClass(name);
        services_->AddClass(L"QV_BIOSSetting");
        FakeObject* out = new FakeObject(L"__PARAMETERS");
        services_->AddClass(L"QVPROV_BIOSSettingInterface")->AddMethod(L"SetBIOSSetting", out);
        provider_ = Make<TestProvider>();
        sink_ = Make<FakeSink>();
    }
    void Initialize() {
        ComPtr<FakeInitSink> init = Make<FakeInitSink>();
        ComPtr<IWbemProviderInit> provider_init;
        ASSERT_EQ(
            Services()->QueryInterface(IID_IWbemProviderInit, reinterpret_cast<void**>(provider_init.GetAddressOf())),
            S_OK);
        EXPECT_EQ(provider_init->Initialize(nullptr, 0, nullptr, nullptr, services_.Get(), nullptr, init.Get()),
                  WBEM_S_NO_ERROR);
        init_statuses_ = init->statuses;
    }
    IWbemServices* Services() { return static_cast<IWbemServices*>(static_cast<WMIProvider*>(provider_.Get())); }
    HRESULT GetObject(const wchar_t* path, IWbemObjectSink* sink) {
        return Services()->GetObjectAsync(CComBSTR(path), 0x20, nullptr, sink);
    }
    HRESULT Enumerate(const wchar_t* cls) {
        return Services()->CreateInstanceEnumAsync(CComBSTR(cls), 0, nullptr, sink_.Get());
    }
    HRESULT Query(const wchar_t* query) {
        return Services()->ExecQueryAsync(CComBSTR(L"WQL"), CComBSTR(query), 0, nullptr, sink_.Get());
    }
    HRESULT Method(const wchar_t* path, const wchar_t* method, IWbemClassObject* in) {
        return Services()->ExecMethodAsync(CComBSTR(path), CComBSTR(method), 0, nullptr, in, sink_.Get());
    }

    ComPtr<FakeServices> services_;
    ComPtr<TestProvider> provider_;
    ComPtr<FakeSink> sink_;
    std::vector<LONG> init_statuses_;
};

TEST_F(ProviderTest, AnswersItsTwoInterfacesAndIUnknown) {
    ComPtr<IUnknown> unknown;
    EXPECT_EQ(Services()->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(unknown.GetAddressOf())), S_OK);
    ComPtr<IWbemServices> services;
    EXPECT_EQ(Services()->QueryInterface(IID_IWbemServices, reinterpret_cast<void**>(services.GetAddressOf())), S_OK);
    EXPECT_EQ(services.Get(), Services());
    ComPtr<IWbemObjectSink> sink;
    EXPECT_EQ(Services()->QueryInterface(IID_IWbemObjectSink, reinterpret_cast<void**>(sink.GetAddressOf())),
              E_NOINTERFACE);
    EXPECT_EQ(sink, nullptr);
}

// The unsupported operations return at once: no trace, nothing sent to a sink, even before Initialize.
TEST_F(ProviderTest, UnsupportedOperationsReturnNotSupportedAndTouchNothing) {
    DebugCapture debug;
    IWbemServices* s = Services();
    CComBSTR text(L"QVPROV_BIOSString");
    IWbemClassObject* object = nullptr;  // the out parameters stay unset
    IEnumWbemClassObject* enumerator = nullptr;
    IWbemServices* working = nullptr;
    IWbemObjectSink* handler = nullptr;
    ComPtr<FakeObject> instance = Make<FakeObject>(L"QVPROV_BIOSString", false);
    const HRESULT results[] = {
        s->OpenNamespace(text, 0, nullptr, &working, nullptr),
        s->CancelAsyncCall(sink_.Get()),
        s->QueryObjectSink(0, &handler),
        s->GetObject(text, 0, nullptr, &object, nullptr),
        s->PutClass(instance.Get(), 0, nullptr, nullptr),
        s->PutClassAsync(instance.Get(), 0, nullptr, sink_.Get()),
        s->DeleteClass(text, 0, nullptr, nullptr),
        s->DeleteClassAsync(text, 0, nullptr, sink_.Get()),
        s->CreateClassEnum(text, 0, nullptr, &enumerator),
        s->CreateClassEnumAsync(text, 0, nullptr, sink_.Get()),
        s->PutInstance(instance.Get(), 0, nullptr, nullptr),
        s->DeleteInstance(text, 0, nullptr, nullptr),
        s->CreateInstanceEnum(text, 0, nullptr, &enumerator),
        s->ExecQuery(text, text, 0, nullptr, &enumerator),
        s->ExecNotificationQuery(text, text, 0, nullptr, &enumerator),
        s->ExecNotificationQueryAsync(text, text, 0, nullptr, sink_.Get()),
        s->ExecMethod(text, text, 0, nullptr, nullptr, &object, nullptr),
    };
    for (HRESULT hr : results) EXPECT_EQ(hr, WBEM_E_NOT_SUPPORTED);
    EXPECT_TRUE(sink_->events.empty());
    EXPECT_TRUE(provider_->calls.empty());
    EXPECT_EQ(debug.Text(), "");
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(enumerator, nullptr);
    EXPECT_EQ(working, nullptr);
    EXPECT_EQ(handler, nullptr);
}

TEST_F(ProviderTest, InitializeSucceedsWithoutTheEventPlatform) {
    Initialize();
    // The decoupled event provider cannot be created here; requests are served all the same.
    EXPECT_EQ(init_statuses_, std::vector<LONG>{WBEM_S_INITIALIZED});
    EXPECT_EQ(GetObject(L"QVPROV_BIOSString.InstanceName=\"x\"", sink_.Get()), WBEM_S_NO_ERROR);
}

// An event source that gets the given decoupled provider instead of asking COM.
class FakeProviderEventSource : public WMIEventSource {
public:
    explicit FakeProviderEventSource(FakeDecoupledProvider* provider) : provider_(provider) {}

protected:
    HRESULT CreateProvider(IWbemDecoupledBasicEventProvider** provider) override {
        provider_->AddRef();
        *provider = provider_;
        return S_OK;
    }

private:
    FakeDecoupledProvider* provider_;  // the test's
};

TEST_F(ProviderTest, InitializeRegistersTheEventSource) {
    ComPtr<FakeDecoupledProvider> decoupled = Make<FakeDecoupledProvider>();
    provider_->SetEventSource(new FakeProviderEventSource(decoupled.Get()));
    {
        DebugCapture debug;
        Initialize();
        EXPECT_EQ(debug.Text(),
                  "Event source DecoupledEventProvider_BCXBiosSettings registered for root\\QV\\InstrumentedBIOS\n");
    }
    EXPECT_EQ(init_statuses_, std::vector<LONG>{WBEM_S_INITIALIZED});
    EXPECT_EQ(decoupled->scope, L"root\\QV\\InstrumentedBIOS");
    EXPECT_EQ(decoupled->registration, L"DecoupledEventProvider_BCXBiosSettings");
    // The provider's destruction releases the registration, and says so.
    {
        DebugCapture debug;
        provider_.Reset();
        EXPECT_EQ(debug.Text(), "Event source DecoupledEventProvider_BCXBiosSettings unregistered\n");
    }
    EXPECT_EQ(decoupled->References(), 1u);
}

TEST_F(ProviderTest, AFailedRegistrationIsOnlyTraced) {
    ComPtr<FakeDecoupledProvider> decoupled = Make<FakeDecoupledProvider>();
    decoupled->register_result = WBEM_E_ACCESS_DENIED;
    provider_->SetEventSource(new FakeProviderEventSource(decoupled.Get()));
    {
        DebugCapture debug;
        Initialize();
        EXPECT_EQ(debug.Text(),
                  "Event source DecoupledEventProvider_BCXBiosSettings not registered for "
                  "root\\QV\\InstrumentedBIOS (0x80041003)\n");
    }
    EXPECT_EQ(init_statuses_, std::vector<LONG>{WBEM_S_INITIALIZED});
    EXPECT_EQ(GetObject(L"QVPROV_BIOSString.InstanceName=\"x\"", sink_.Get()), WBEM_S_NO_ERROR);
    DebugCapture debug;
    provider_.Reset();
    EXPECT_EQ(debug.Text(), "") << "nothing to unregister";
}

TEST_F(ProviderTest, InitializeReportsAnExceptionToTheInitSinkOnly) {
    DebugCapture debug;
    provider_->SetEventSource(new ThrowingEventSource());
    Initialize();
    EXPECT_EQ(init_statuses_, std::vector<LONG>{WBEM_E_FAILED});
    EXPECT_TRUE(debug.Contains("Throwing HRESULT exception provider_test.cpp:"));
    EXPECT_TRUE(debug.Contains("Caught HRESULT exception WMIProvider.cpp:"));
    EXPECT_TRUE(debug.Contains("(0x8007000E)"));
}

TEST_F(ProviderTest, RequestsBeforeInitializeAreInvalid) {
    EXPECT_EQ(GetObject(L"QVPROV_BIOSString.InstanceName=\"x\"", sink_.Get()), WBEM_E_INVALID_PARAMETER);
    EXPECT_EQ(sink_->statuses, std::vector<HRESULT>{WBEM_E_INVALID_PARAMETER});
    EXPECT_TRUE(provider_->calls.empty());
    EXPECT_EQ(services_->get_object_calls, 0);
}

TEST_F(ProviderTest, NullSinkIsInvalidAndNoHandlerRuns) {
    Initialize();
    CComBSTR c(L"QVPROV_BIOSString");
    EXPECT_EQ(Services()->CreateInstanceEnumAsync(c, 0, nullptr, nullptr), WBEM_E_INVALID_PARAMETER);
    EXPECT_EQ(Services()->ExecQueryAsync(c, c, 0, nullptr, nullptr), WBEM_E_INVALID_PARAMETER);
    EXPECT_EQ(Services()->DeleteInstanceAsync(c, 0, nullptr, nullptr), WBEM_E_INVALID_PARAMETER);
    EXPECT_EQ(Services()->ExecMethodAsync(c, c, 0, nullptr, nullptr, nullptr), WBEM_E_INVALID_PARAMETER);
    EXPECT_EQ(GetObject(L"QVPROV_BIOSString.InstanceName=\"x\"", nullptr), WBEM_E_INVALID_PARAMETER);
    EXPECT_EQ(Services()->PutInstanceAsync(nullptr, 0, nullptr, sink_.Get()), WBEM_E_INVALID_PARAMETER);
    EXPECT_TRUE(provider_->calls.empty());
    EXPECT_EQ(sink_->statuses, std::vector<HRESULT>{WBEM_E_INVALID_PARAMETER});  // only the put had a sink
}

TEST_F(ProviderTest, GetObjectPutsTheKeysBeforeTheHandlerAndIndicatesTheInstance) {
    Initialize();
    std::wstring seen;
    provider_->get = [&](WMIInstance& instance) {
        seen = instance.Get(L"InstanceName").bstrVal;
        instance.PutText(L"Value", L"filled");
    };
    EXPECT_EQ(GetObject(L"QVPROV_BIOSString.InstanceName=\"x\"", sink_.Get()), WBEM_S_NO_ERROR);
    EXPECT_EQ(seen, L"x");
    EXPECT_EQ(provider_->last_flags, 0x20);
    ASSERT_EQ(sink_->events.size(), 2u);
    EXPECT_FALSE(sink_->events[0].is_status);
    EXPECT_EQ(sink_->Object(0)->Text(L"Value"), L"filled");
    EXPECT_EQ(sink_->Object(0)->Text(L"InstanceName"), L"x");
    EXPECT_TRUE(sink_->events[1].is_status);
    EXPECT_EQ(sink_->events[1].status, WBEM_S_NO_ERROR);
}

TEST_F(ProviderTest, HandlerThatThrowsNotFoundGivesNoInstance) {
    Initialize();
    DebugCapture debug;
    provider_->get = [](WMIInstance&) { WMI_THROW(WBEM_E_NOT_FOUND); };
    EXPECT_EQ(GetObject(L"QVPROV_BIOSString.InstanceName=\"x\"", sink_.Get()), WBEM_E_NOT_FOUND);
    EXPECT_TRUE(sink_->objects.empty());
    EXPECT_EQ(sink_->statuses, std::vector<HRESULT>{WBEM_E_NOT_FOUND});
    EXPECT_TRUE(debug.Contains("Throwing HRESULT exception provider_test.cpp:"));
    EXPECT_TRUE(debug.Contains(" (0x80041002)\nCaught HRESULT exception WMIProvider.cpp:"));
}

TEST_F(ProviderTest, ClassNamesMatchWithoutRegardToCase) {
    Initialize();
    EXPECT_EQ(GetObject(L"qvprov_biosstring.InstanceName=\"x\"", sink_.Get()), WBEM_S_NO_ERROR);
    EXPECT_EQ(Enumerate(L"QVPROV_BIOSINTEGER"), WBEM_S_NO_ERROR);
    EXPECT_EQ(provider_->calls, (std::vector<std::wstring>{L"get QVPROV_BIOSString", L"enumerate QVPROV_BIOSInteger"}));
}

TEST_F(ProviderTest, ClassesTheProviderDoesNotServe) {
    Initialize();
    // A class of the namespace that no handler serves.
    EXPECT_EQ(GetObject(L"QV_BIOSSetting.Name=\"x\"", sink_.Get()), WBEM_E_INVALID_CLASS);
    EXPECT_EQ(Enumerate(L"QV_BIOSSetting"), WBEM_E_INVALID_CLASS);
    // A class the namespace does not have fails where the instance is made.
    EXPECT_EQ(GetObject(L"NoSuchClass.Name=\"x\"", sink_.Get()), WBEM_E_NOT_FOUND);
    EXPECT_TRUE(provider_->calls.empty());
    EXPECT_EQ(sink_->statuses, (std::vector<HRESULT>{WBEM_E_INVALID_CLASS, WBEM_E_INVALID_CLASS, WBEM_E_NOT_FOUND}));
}

TEST_F(ProviderTest, RefusedObjectPathsFailCleanly) {
    Initialize();
    for (const wchar_t* path : {L"", L"QVPROV_BIOSString.InstanceName=", L" QVPROV_BIOSString",
                                L"QVPROV_BIOSString.InstanceName=\"x", L"ns:QVPROV_BIOSString"}) {
        EXPECT_EQ(GetObject(path, sink_.Get()), WBEM_E_INVALID_OBJECT_PATH);
    }
    EXPECT_TRUE(provider_->calls.empty());
    EXPECT_EQ(sink_->statuses.size(), 5u);
}

// The client receives each instance as the handler adds it, then the status of the handler's exception.
TEST_F(ProviderTest, EnumerationStreamsInstancesThenReportsTheFailure) {
    Initialize();
    std::vector<size_t> seen_by_client;
    provider_->enumerate = [&](WMIInstanceList& list, WMIRequest& request) {
        for (int i = 0; i < 3; ++i) {
            auto* instance = new WMIInstance(request);
            instance->PutInt(L"Sequence", i);
            list.Add(instance);
            seen_by_client.push_back(sink_->objects.size());
        }
        WMI_THROW(WBEM_E_FAILED);
    };
    EXPECT_EQ(Enumerate(L"QVPROV_BIOSEnumeration"), WBEM_E_FAILED);
    EXPECT_EQ(seen_by_client, (std::vector<size_t>{1, 2, 3}));
    ASSERT_EQ(sink_->events.size(), 4u);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(sink_->Object(static_cast<size_t>(i))->Number(L"Sequence"), i);
    EXPECT_TRUE(sink_->events[3].is_status);
    EXPECT_EQ(sink_->events[3].status, WBEM_E_FAILED);
}

TEST_F(ProviderTest, OtherExceptionsBecomeUnexpected) {
    Initialize();
    DebugCapture debug;
    provider_->enumerate = [](WMIInstanceList&, WMIRequest&) { throw std::runtime_error("boom"); };
    EXPECT_EQ(Enumerate(L"QVPROV_BIOSPassword"), E_UNEXPECTED);
    EXPECT_EQ(sink_->statuses, std::vector<HRESULT>{E_UNEXPECTED});
    EXPECT_TRUE(debug.Contains("Caught general exception WMIProvider.cpp:"));
}

TEST_F(ProviderTest, QueriesEnumerateTheClassTheyName) {
    Initialize();
    EXPECT_EQ(Query(L"SELECT * FROM QVPROV_BIOSInteger WHERE Name='Boot Delay'"), WBEM_S_NO_ERROR);
    EXPECT_EQ(Query(L"select Name from  QVPROV_BIOS OrderedList "), WBEM_S_NO_ERROR);
    EXPECT_EQ(provider_->calls,
              (std::vector<std::wstring>{L"enumerate QVPROV_BIOSInteger", L"enumerate QVPROV_BIOSOrderedList"}));
    EXPECT_EQ(Query(L"select * where x"), WBEM_E_INVALID_CLASS);
    EXPECT_EQ(Query(L"select fromage from QVPROV_BIOSString"), WBEM_E_INVALID_CLASS);
    EXPECT_EQ(Query(L"select * from "), WBEM_E_INVALID_CLASS);
    EXPECT_EQ(Query(L"select * from"), E_UNEXPECTED);
    EXPECT_EQ(provider_->calls.size(), 2u);
}

TEST_F(ProviderTest, PutAndDeleteAreRefused) {
    Initialize();
    ComPtr<FakeObject> mine = Make<FakeObject>(L"QVPROV_BIOSString", false);
    ComPtr<FakeObject> other = Make<FakeObject>(L"Win32_Process", false);
    EXPECT_EQ(Services()->PutInstanceAsync(mine.Get(), 0, nullptr, sink_.Get()), WBEM_E_NOT_SUPPORTED);
    EXPECT_EQ(Services()->PutInstanceAsync(other.Get(), 0, nullptr, sink_.Get()), WBEM_E_INVALID_CLASS);
    EXPECT_EQ(
        Services()->DeleteInstanceAsync(CComBSTR(L"QVPROV_BIOSString.InstanceName=\"x\""), 0, nullptr, sink_.Get()),
        WBEM_E_NOT_SUPPORTED);
    EXPECT_EQ(Services()->DeleteInstanceAsync(CComBSTR(L"QV_BIOSSetting.Name=\"x\""), 0, nullptr, sink_.Get()),
              WBEM_E_INVALID_CLASS);
    EXPECT_TRUE(provider_->calls.empty());
    EXPECT_TRUE(sink_->objects.empty());
    EXPECT_EQ(sink_->statuses.size(), 4u);
}

TEST_F(ProviderTest, MethodCallsReachTheirHandlerWithParameters) {
    Initialize();
    ComPtr<FakeObject> in = Make<FakeObject>(L"__PARAMETERS", false);
    in->Set(L"Name", CComVariant(L"Boot Delay"));
    std::wstring name;
    provider_->run = [&](WMIInstance& target, WMIMethodCall& call) {
        name = call.GetInParam(L"Name").bstrVal;
        EXPECT_STREQ(target.Get(L"InstanceName").bstrVal, L"ACPI\\PNP0C14\\0_0");
        call.PutOutParam(L"Return", 0);
        call.IndicateOut();
    };
    EXPECT_EQ(
        Method(L"QVPROV_BIOSSettingInterface.InstanceName=\"ACPI\\\\PNP0C14\\\\0_0\"", L"setbiossetting", in.Get()),
        WBEM_S_NO_ERROR);
    EXPECT_EQ(name, L"Boot Delay");
    ASSERT_EQ(sink_->objects.size(), 1u);
    EXPECT_EQ(sink_->Object(0)->ClassName(), L"__PARAMETERS");
    EXPECT_EQ(sink_->Object(0)->Number(L"Return"), 0);
    EXPECT_EQ(sink_->statuses, std::vector<HRESULT>{WBEM_S_NO_ERROR});
}

TEST_F(ProviderTest, MethodCallsThatDoNotMatch) {
    Initialize();
    // The class has no such method: GetMethod's own code, no handler.
    EXPECT_EQ(Method(L"QVPROV_BIOSString.InstanceName=\"x\"", L"SetBIOSSetting", nullptr), WBEM_E_NOT_FOUND);
    // SetSystemDefaults is in the dispatch table, but this namespace's class does not declare it.
    EXPECT_EQ(Method(L"QVPROV_BIOSSettingInterface.InstanceName=\"x\"", L"SetSystemDefaults", nullptr),
              WBEM_E_NOT_FOUND);
    EXPECT_TRUE(provider_->calls.empty());
}

TEST_F(ProviderTest, MethodWithoutOutputSignatureOrHandler) {
    FakeObject* cls = services_->AddClass(L"QVPROV_BIOSSettingInterface");
    cls->AddMethod(L"SetSystemDefaults", nullptr);
    cls->AddMethod(L"Reboot", new FakeObject(L"__PARAMETERS"));
    Initialize();
    EXPECT_EQ(Method(L"QVPROV_BIOSSettingInterface.InstanceName=\"x\"", L"SetSystemDefaults", nullptr),
              WBEM_E_INVALID_METHOD_PARAMETERS);
    EXPECT_EQ(Method(L"QVPROV_BIOSSettingInterface.InstanceName=\"x\"", L"Reboot", nullptr), WBEM_E_INVALID_METHOD);
    EXPECT_TRUE(provider_->calls.empty());
    EXPECT_EQ(sink_->statuses, (std::vector<HRESULT>{WBEM_E_INVALID_METHOD_PARAMETERS, WBEM_E_INVALID_METHOD}));
}

TEST_F(ProviderTest, FailingFinalStatusIsTheResult) {
    Initialize();
    sink_->set_status_result = WBEM_E_TRANSPORT_FAILURE;
    EXPECT_EQ(Enumerate(L"QVPROV_BIOSString"), WBEM_E_TRANSPORT_FAILURE);
    EXPECT_EQ(sink_->statuses, (std::vector<HRESULT>{WBEM_S_NO_ERROR, WBEM_E_TRANSPORT_FAILURE}));
}

TEST_F(ProviderTest, ReleasingTheLastReferenceReleasesTheServices) {
    Initialize();
    EXPECT_EQ(services_->References(), 2u);
    ComPtr<TestProvider> another = provider_;
    another.Reset();
    EXPECT_EQ(services_->References(), 2u);
    provider_.Reset();
    EXPECT_EQ(services_->References(), 1u);
}

}  // namespace
