// Instances, instance lists and method calls on their own: the codes they throw.

#include "WMIException.h"
#include "WMIInstanceList.h"
#include "WMIMethodCall.h"
#include "debug_capture.h"
#include "wmi_fakes.h"

namespace {

using Microsoft::WRL::ComPtr;
using Microsoft::WRL::Make;

HRESULT Thrown(const std::function<void()>& work) {
    try {
        work();
    } catch (HRESULT hr) {
        return hr;
    }
    return S_OK;
}

class PartsTest : public ::testing::Test {
protected:
    void SetUp() override {
        services_ = Make<FakeServices>();
        cls_ = services_->AddClass(L"QVPROV_BIOSInteger");
        sink_ = Make<FakeSink>();
    }
    ComPtr<FakeServices> services_;
    FakeObject* cls_;  // held by services_
    ComPtr<FakeSink> sink_;
};

TEST_F(PartsTest, InstanceCreationFailuresThrowTheirCodes) {
    WMIRequest request(L"QVPROV_BIOSInteger", services_.Get(), nullptr, sink_.Get());
    services_->get_object_result = WBEM_E_ACCESS_DENIED;
    EXPECT_EQ(Thrown([&] { WMIInstance i(request); }), WBEM_E_ACCESS_DENIED);
    services_->get_object_result = S_OK;
    cls_->spawn_result = WBEM_E_OUT_OF_MEMORY;
    EXPECT_EQ(Thrown([&] { WMIInstance i(request); }), WBEM_E_OUT_OF_MEMORY);
    cls_->spawn_result = S_OK;
    cls_->spawn_null = true;
    EXPECT_EQ(Thrown([&] { WMIInstance i(request); }), E_POINTER);
    WMIRequest no_services(L"QVPROV_BIOSInteger", nullptr, nullptr, sink_.Get());
    EXPECT_EQ(Thrown([&] { WMIInstance i(no_services); }), E_POINTER);
}

TEST_F(PartsTest, InstanceWithoutObjectThrowsEPointer) {
    WMIInstance empty;
    CComVariant v;
    EXPECT_EQ(Thrown([&] { empty.PutText(L"Name", L"x"); }), E_POINTER);
    EXPECT_EQ(Thrown([&] { empty.PutOwnedText(L"Name", SysAllocString(L"x")); }), E_POINTER);
    EXPECT_EQ(Thrown([&] { empty.PutInt(L"Size", 1); }), E_POINTER);
    EXPECT_EQ(Thrown([&] { empty.PutVariant(L"Size", v); }), E_POINTER);
    EXPECT_EQ(Thrown([&] { empty.PutRaw(L"Size", &v); }), E_POINTER);
    EXPECT_EQ(Thrown([&] { empty.Get(L"Size"); }), E_POINTER);
    EXPECT_EQ(Thrown([&] { empty.Indicate(); }), E_POINTER);
    EXPECT_EQ(Thrown([&] { empty.Attach(nullptr); }), E_POINTER);
    EXPECT_EQ(Thrown([&] { empty.PutRaw(L"Size", nullptr); }), E_INVALIDARG);
}

TEST_F(PartsTest, InstancePutsAndGetsWithTheObjectsCodes) {
    WMIRequest request(L"QVPROV_BIOSInteger", services_.Get(), nullptr, sink_.Get());
    WMIInstance instance(request);
    instance.PutText(L"Name", L"Boot Delay");
    instance.PutInt(L"IntValue", -3);
    CComVariant v = instance.Get(L"Name");
    EXPECT_EQ(v.vt, VT_BSTR);
    EXPECT_STREQ(v.bstrVal, L"Boot Delay");
    EXPECT_EQ(Thrown([&] { instance.Get(L"Missing"); }), WBEM_E_NOT_FOUND);
    static_cast<FakeObject*>(instance.Object())->put_result = WBEM_E_TYPE_MISMATCH;
    EXPECT_EQ(Thrown([&] { instance.PutInt(L"IntValue", 1); }), WBEM_E_TYPE_MISMATCH);
    sink_->indicate_result = WBEM_E_CALL_CANCELLED;
    EXPECT_EQ(Thrown([&] { instance.Indicate(); }), WBEM_E_CALL_CANCELLED);
}

TEST_F(PartsTest, ListOwnsWhatIsAddedAndIndicatesAtOnce) {
    WMIRequest request(L"QVPROV_BIOSInteger", services_.Get(), nullptr, sink_.Get());
    {
        WMIInstanceList list(sink_.Get());
        list.Add(new WMIInstance(request));
        EXPECT_EQ(sink_->objects.size(), 1u);
        // An instance without an object is kept (and deleted with the list), then refused.
        EXPECT_EQ(Thrown([&] { list.Add(new WMIInstance()); }), E_POINTER);
        EXPECT_EQ(list.Count(), 2u);
        // The list does not look at the sink's answer.
        sink_->indicate_result = WBEM_E_FAILED;
        list.Add(new WMIInstance(request));
        EXPECT_EQ(sink_->objects.size(), 2u);
        // Ours, the list's and one per created instance.
        EXPECT_EQ(sink_->References(), 4u);
    }
    EXPECT_EQ(sink_->References(), 1u);
}

TEST_F(PartsTest, ListInBatchesSendsEveryInstanceBeforeItEnds) {
    WMIRequest request(L"QVPROV_BIOSInteger", services_.Get(), nullptr, sink_.Get());
    {
        WMIInstanceList list(sink_.Get());
        list.SetBatchSize(2);
        list.Add(new WMIInstance(request));
        EXPECT_EQ(sink_->objects.size(), 0u);
        list.Add(new WMIInstance(request));
        EXPECT_EQ(sink_->objects.size(), 2u);
        list.Add(new WMIInstance(request));
        list.Flush();
        EXPECT_EQ(sink_->objects.size(), 3u);
        list.Flush();
        EXPECT_EQ(sink_->objects.size(), 3u);
        list.Add(new WMIInstance(request));
        list.Add(new WMIInstance(request));
        list.Add(new WMIInstance(request));
        EXPECT_EQ(sink_->objects.size(), 5u);
    }
    // What waited for its batch went out when the list ended.
    EXPECT_EQ(sink_->objects.size(), 6u);
}

TEST_F(PartsTest, MethodCallParameters) {
    cls_->AddMethod(L"Adjust", new FakeObject(L"__PARAMETERS"));
    WMIRequest request(L"QVPROV_BIOSInteger", services_.Get(), nullptr, sink_.Get());
    WMIMethodCall no_input(request, L"Adjust", nullptr);
    EXPECT_EQ(Thrown([&] { no_input.GetInParam(L"Value"); }), E_POINTER);
    no_input.PutOutParam(L"Return", 5);
    no_input.IndicateOut();
    ASSERT_EQ(sink_->objects.size(), 1u);
    EXPECT_EQ(sink_->Object(0)->Number(L"Return"), 5);

    WMIMethodCall with_input(request, L"Adjust", Make<FakeObject>(L"__PARAMETERS", false).Get());
    EXPECT_EQ(Thrown([&] { with_input.GetInParam(L"Value"); }), WBEM_E_NOT_FOUND);
    EXPECT_EQ(Thrown([&] { WMIMethodCall c(request, L"Missing", nullptr); }), WBEM_E_NOT_FOUND);
}

TEST(ThrowHResultTest, TracesFileLineAndCode) {
    DebugCapture debug;
    HRESULT caught = S_OK;
    try {
        ThrowHResult("BIOSInterface.cpp", 42, WBEM_E_INVALID_CLASS);
    } catch (HRESULT hr) {
        caught = hr;
    }
    EXPECT_EQ(caught, WBEM_E_INVALID_CLASS);
    TraceCaughtHResult("WMIProvider.cpp", 7, caught);
    TraceCaughtGeneral("WMIProvider.cpp", 8);
    EXPECT_EQ(debug.Text(),
              "Throwing HRESULT exception BIOSInterface.cpp:42 (0x80041010)\n"
              "Caught HRESULT exception WMIProvider.cpp:7 (0x80041010)\n"
              "Caught general exception WMIProvider.cpp:8\n");
    EXPECT_STREQ(WMISourceFileName("/a/b\\c/Include/WMIProvider.cpp"), "WMIProvider.cpp");
}

}  // namespace
