// The event source against a fake decoupled event provider.

#include "WMIEventSource.h"
#include "WMIException.h"
#include "debug_capture.h"
#include "wmi_fakes.h"

namespace {

using Microsoft::WRL::ComPtr;
using Microsoft::WRL::Make;

// An event source that gets the fake provider instead of asking COM.
class TestEventSource : public WMIEventSource {
public:
    explicit TestEventSource(FakeDecoupledProvider* provider) : provider_(provider) {}
    int created = 0;

protected:
    HRESULT CreateProvider(IWbemDecoupledBasicEventProvider** provider) override {
        ++created;
        provider_->AddRef();
        *provider = provider_;
        return S_OK;
    }

private:
    FakeDecoupledProvider* provider_;  // the test's
};

class EventTest : public ::testing::Test {
protected:
    void SetUp() override {
        provider_ = Make<FakeDecoupledProvider>();
        provider_->services = Make<FakeServices>();
        provider_->services->AddClass(L"QV_BIOSConfigurationEvent");
    }
    void Subscribe() { provider_->sink = Make<FakeSink>(); }
    void Unsubscribe() { provider_->sink.Reset(); }
    ComPtr<FakeDecoupledProvider> provider_;
};

TEST_F(EventTest, RegistersForItsScopeUnderItsName) {
    TestEventSource source(provider_.Get());
    EXPECT_EQ(
        source.Register(L"user", L"ms_409", L"root\\QV\\InstrumentedBIOS", L"DecoupledEventProvider_BCXBiosSettings"),
        S_OK);
    EXPECT_TRUE(source.IsRegistered());
    EXPECT_EQ(provider_->scope, L"root\\QV\\InstrumentedBIOS");
    EXPECT_EQ(provider_->registration, L"DecoupledEventProvider_BCXBiosSettings");
    EXPECT_EQ(source.Unregister(), 0);
    EXPECT_FALSE(source.IsRegistered());
    EXPECT_EQ(provider_->References(), 1u);
}

TEST_F(EventTest, FailedRegistrationLeavesNoSource) {
    provider_->register_result = WBEM_E_ACCESS_DENIED;
    TestEventSource source(provider_.Get());
    EXPECT_EQ(source.Register(nullptr, nullptr, L"root\\QV\\InstrumentedBIOS", L"x"), WBEM_E_ACCESS_DENIED);
    EXPECT_FALSE(source.IsRegistered());
    Subscribe();
    EXPECT_FALSE(source.HasSink());
    Unsubscribe();
}

// Without the platform's decoupled provider (COM cannot create it) the source stays unregistered.
TEST_F(EventTest, PlatformWithoutDecoupledProvider) {
    WMIEventSource source;
    EXPECT_TRUE(FAILED(source.Register(nullptr, nullptr, L"root\\QV\\InstrumentedBIOS", L"x")));
    EXPECT_FALSE(source.IsRegistered());
    EXPECT_FALSE(source.HasSink());
    DebugCapture debug;
    WMIEventInstance event;
    source.CreateEvent(L"QV_BIOSConfigurationEvent", event);
    source.Fire(event);
    EXPECT_EQ(event.Object(), nullptr);
    EXPECT_FALSE(debug.Contains("Event fired"));
}

TEST_F(EventTest, EventReachesTheSubscriber) {
    TestEventSource source(provider_.Get());
    source.Register(nullptr, nullptr, L"root\\QV\\InstrumentedBIOS", L"x");
    Subscribe();
    DebugCapture debug;
    ASSERT_TRUE(source.HasSink());
    WMIEventInstance event;
    source.CreateEvent(L"QV_BIOSConfigurationEvent", event);
    ASSERT_NE(event.Object(), nullptr);
    event.PutText(L"Name", L"Boot Delay");
    event.PutInt(L"Category", 4);
    source.Fire(event);
    ASSERT_EQ(provider_->sink->objects.size(), 1u);
    EXPECT_EQ(provider_->sink->Object(0)->Text(L"Name"), L"Boot Delay");
    EXPECT_EQ(provider_->sink->Object(0)->ClassName(), L"QV_BIOSConfigurationEvent");
    EXPECT_EQ(debug.Text(), "Event fired\n");
    EXPECT_EQ(provider_->sink->References(), 1u);  // the source keeps no reference to the sink
    Unsubscribe();
}

TEST_F(EventTest, NoSubscriberNoEvent) {
    TestEventSource source(provider_.Get());
    source.Register(nullptr, nullptr, L"root\\QV\\InstrumentedBIOS", L"x");
    EXPECT_FALSE(source.HasSink());
    // The subscriber leaves between HasSink and Fire.
    Subscribe();
    ASSERT_TRUE(source.HasSink());
    WMIEventInstance event;
    source.CreateEvent(L"QV_BIOSConfigurationEvent", event);
    ComPtr<FakeSink> gone = provider_->sink;
    Unsubscribe();
    DebugCapture debug;
    source.Fire(event);
    EXPECT_EQ(debug.Text(), "No event sink to fire event.\n");
    EXPECT_TRUE(gone->objects.empty());
}

TEST_F(EventTest, FailedGetServiceLeavesTheEventEmpty) {
    TestEventSource source(provider_.Get());
    source.Register(nullptr, nullptr, L"root\\QV\\InstrumentedBIOS", L"x");
    Subscribe();
    provider_->get_service_result = WBEM_E_SHUTTING_DOWN;
    DebugCapture debug;
    WMIEventInstance event;
    source.CreateEvent(L"QV_BIOSConfigurationEvent", event);  // does not throw
    EXPECT_EQ(event.Object(), nullptr);
    EXPECT_TRUE(debug.Contains("Caught HRESULT exception WMIEventSource.cpp:"));
    HRESULT thrown = S_OK;
    try {
        event.PutText(L"Name", L"x");
    } catch (HRESULT hr) {
        thrown = hr;
    }
    EXPECT_EQ(thrown, E_POINTER);
    source.Fire(event);
    EXPECT_TRUE(debug.Contains("Bad event instance, cannot fire event.\n"));
    EXPECT_TRUE(provider_->sink->objects.empty());
    Unsubscribe();
}

TEST_F(EventTest, UnknownEventClassLeavesTheEventEmpty) {
    TestEventSource source(provider_.Get());
    source.Register(nullptr, nullptr, L"root\\QV\\InstrumentedBIOS", L"x");
    WMIEventInstance event;
    source.CreateEvent(L"NoSuchEvent", event);
    EXPECT_EQ(event.Object(), nullptr);
}

}  // namespace
