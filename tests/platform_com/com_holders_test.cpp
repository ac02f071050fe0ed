// The holders of COM references, BSTRs and VARIANTs: every reference taken is given back exactly once, and
// what a holder hands out or takes over is counted the way COM counts it.

#include "atlbase.h"
#include "qv_com_object.h"
#include "wrl/client.h"
#include "wrl/implements.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace {

using Microsoft::WRL::ComPtr;
using Microsoft::WRL::Make;

// A COM object that reports its reference count and counts its destruction. It answers IClassFactory and
// ISequentialStream (for As), nothing else but IUnknown.
class Counted final : public qv::com::Object<IClassFactory, ISequentialStream> {
public:
    explicit Counted(int* destroyed) : destroyed_(destroyed) {}
    ULONG References() {
        AddRef();
        return Release();
    }
    STDMETHODIMP CreateInstance(IUnknown*, REFIID, void**) override { return E_NOTIMPL; }
    STDMETHODIMP LockServer(BOOL) override { return E_NOTIMPL; }
    STDMETHODIMP Read(void*, ULONG, ULONG*) override { return E_NOTIMPL; }
    STDMETHODIMP Write(const void*, ULONG, ULONG*) override { return E_NOTIMPL; }

private:
    ~Counted() override { ++*destroyed_; }
    int* destroyed_;
};

class ComPtrTest : public ::testing::Test {
protected:
    int destroyed_ = 0;
};

TEST_F(ComPtrTest, MakeOwnsTheFirstReferenceAndTheLastReleaseDestroys) {
    {
        ComPtr<Counted> made = Make<Counted>(&destroyed_);
        EXPECT_EQ(made->References(), 1u);
    }
    EXPECT_EQ(destroyed_, 1);
}

TEST_F(ComPtrTest, CopiesTakeAReferenceAndMovesTakeNone) {
    ComPtr<Counted> first = Make<Counted>(&destroyed_);
    {
        ComPtr<Counted> copy(first);
        EXPECT_EQ(first->References(), 2u);
        ComPtr<IClassFactory> converted = first;  // to an interface it implements
        EXPECT_EQ(first->References(), 3u);
        ComPtr<IClassFactory> moved(std::move(converted));
        EXPECT_EQ(first->References(), 3u);
        EXPECT_EQ(converted, nullptr);
        ComPtr<IClassFactory> assigned;
        assigned = moved;
        EXPECT_EQ(first->References(), 4u);
        assigned = std::move(moved);  // the reference assigned held goes, moved's takes its place
        EXPECT_EQ(first->References(), 3u);
        EXPECT_FALSE(moved);
        ComPtr<Counted> from_raw(first.Get());
        EXPECT_EQ(first->References(), 4u);
    }
    EXPECT_EQ(first->References(), 1u);
    EXPECT_EQ(destroyed_, 0);
    // A holder in a container: growing the container moves it, nothing is counted twice.
    std::vector<ComPtr<Counted>> many;
    for (int i = 0; i < 20; ++i) many.push_back(first);
    EXPECT_EQ(first->References(), 21u);
    many.clear();
    EXPECT_EQ(first->References(), 1u);
}

TEST_F(ComPtrTest, SelfAssignmentKeepsTheReference) {
    ComPtr<Counted> held = Make<Counted>(&destroyed_);
    ComPtr<Counted>& same = held;
    held = same;
    EXPECT_EQ(held->References(), 1u);
    held = std::move(same);
    ASSERT_TRUE(held);
    EXPECT_EQ(held->References(), 1u);
    held = held.Get();
    EXPECT_EQ(held->References(), 1u);
    EXPECT_EQ(destroyed_, 0);
}

TEST_F(ComPtrTest, ResetAndOutParameters) {
    ComPtr<Counted> held = Make<Counted>(&destroyed_);
    ComPtr<Counted> other = held;
    EXPECT_EQ(other.Reset(), 1u);  // the count Release answered
    EXPECT_EQ(other.Reset(), 0u);  // an empty holder releases nothing
    // An out parameter: the callee stores a reference it took for the caller.
    auto give = [&](IClassFactory** out) {
        held->AddRef();
        *out = held.Get();
    };
    ComPtr<IClassFactory> filled;
    give(filled.GetAddressOf());
    EXPECT_EQ(held->References(), 2u);
    give(filled.ReleaseAndGetAddressOf());  // the previous reference goes first
    EXPECT_EQ(held->References(), 2u);
    EXPECT_EQ(filled.Get(), static_cast<IClassFactory*>(held.Get()));
    filled = nullptr;
    EXPECT_EQ(held->References(), 1u);
    held.Reset();
    EXPECT_EQ(destroyed_, 1);
}

TEST_F(ComPtrTest, AttachTakesOverAndDetachHandsOut) {
    ComPtr<Counted> held;
    held.Attach(new Counted(&destroyed_));
    EXPECT_EQ(held->References(), 1u);
    Counted* raw = held.Detach();
    EXPECT_FALSE(held);
    EXPECT_EQ(raw->References(), 1u);
    held.Attach(raw);
    int second_destroyed = 0;
    held.Attach(new Counted(&second_destroyed));  // the first object's reference goes
    EXPECT_EQ(destroyed_, 1);
    held.Reset();
    EXPECT_EQ(second_destroyed, 1);
}

TEST_F(ComPtrTest, AsAndCopyToAskTheObject) {
    ComPtr<Counted> held = Make<Counted>(&destroyed_);
    ComPtr<ISequentialStream> stream;
    ASSERT_EQ(held.As(&stream), S_OK);
    EXPECT_EQ(stream.Get(), static_cast<ISequentialStream*>(held.Get()));
    EXPECT_EQ(held->References(), 2u);
    ComPtr<IStream> missing;
    EXPECT_EQ(held.As(&missing), E_NOINTERFACE);
    EXPECT_EQ(missing, nullptr);
    ComPtr<IUnknown> unknown;
    ASSERT_EQ(stream.As(&unknown), S_OK);
    EXPECT_EQ(unknown.Get(), static_cast<IUnknown*>(static_cast<IClassFactory*>(held.Get())));
    EXPECT_EQ(held->References(), 3u);

    IClassFactory* copied = nullptr;
    ASSERT_EQ(ComPtr<IClassFactory>(held).CopyTo(&copied), S_OK);
    EXPECT_EQ(held->References(), 4u);
    copied->Release();
    void* asked = nullptr;
    ASSERT_EQ(held.CopyTo(IID_ISequentialStream, &asked), S_OK);
    EXPECT_EQ(asked, static_cast<void*>(stream.Get()));
    static_cast<ISequentialStream*>(asked)->Release();
    EXPECT_EQ(held->References(), 3u);

    ComPtr<Counted> empty;
    EXPECT_EQ(empty.As(&stream), E_POINTER);
    EXPECT_EQ(stream, nullptr);
    IClassFactory* none = held.Get();
    EXPECT_EQ(ComPtr<IClassFactory>().CopyTo(&none), S_OK);
    EXPECT_EQ(none, nullptr);
}

TEST_F(ComPtrTest, ComparesByThePointerItHolds) {
    ComPtr<Counted> a = Make<Counted>(&destroyed_);
    ComPtr<IClassFactory> same = a;
    ComPtr<Counted> other = Make<Counted>(&destroyed_);
    ComPtr<Counted> empty;
    EXPECT_TRUE(a == same);
    EXPECT_FALSE(a != same);
    EXPECT_TRUE(a != other);
    EXPECT_TRUE(empty == nullptr);
    EXPECT_TRUE(nullptr == empty);
    EXPECT_TRUE(a != nullptr);
    EXPECT_FALSE(empty);
    EXPECT_TRUE(a);
}

TEST(CComBSTRTest, HoldsCopiesAndHandsOver) {
    CComBSTR empty;
    EXPECT_TRUE(!empty);
    EXPECT_EQ(empty.Length(), 0u);
    EXPECT_EQ(empty.Copy(), nullptr);

    CComBSTR text(L"Boot Delay");
    EXPECT_EQ(text.Length(), 10u);
    CComBSTR copy(text);
    EXPECT_NE(copy.m_str, text.m_str);
    EXPECT_STREQ(copy, L"Boot Delay");
    CComBSTR moved(std::move(copy));
    EXPECT_EQ(copy.m_str, nullptr);
    EXPECT_STREQ(moved, L"Boot Delay");

    // Embedded NULs travel: the length is the BSTR's, not the C string's.
    CComBSTR nul(3, L"a\0b");
    EXPECT_EQ(nul.Length(), 3u);
    CComBSTR nul_copy = nul;
    EXPECT_EQ(nul_copy.Length(), 3u);
    EXPECT_EQ(nul_copy.m_str[2], L'b');

    moved = moved;  // self-assignment keeps the text
    moved = std::move(moved);
    EXPECT_STREQ(moved, L"Boot Delay");
    moved = moved.m_str;
    EXPECT_STREQ(moved, L"Boot Delay");
    moved = L"Quiet Boot";
    EXPECT_STREQ(moved, L"Quiet Boot");
    moved = text;
    EXPECT_STREQ(moved, L"Boot Delay");

    BSTR out = nullptr;
    ASSERT_EQ(text.CopyTo(&out), S_OK);
    EXPECT_STREQ(out, L"Boot Delay");
    SysFreeString(out);  // CopyTo's copy is the caller's
    EXPECT_EQ(text.CopyTo(nullptr), E_POINTER);

    BSTR handed = text.Detach();
    EXPECT_TRUE(!text);
    text.Attach(handed);
    text.Attach(SysAllocString(L"other"));  // the attached text is freed
    EXPECT_STREQ(text, L"other");
    text.Empty();
    EXPECT_TRUE(!text);
}

TEST(CComBSTRTest, FillsAnOutParameter) {
    auto produce = [](BSTR* out) {
        *out = SysAllocString(L"produced");
        return S_OK;
    };
    CComBSTR filled;
    ASSERT_EQ(produce(&filled), S_OK);
    EXPECT_STREQ(filled, L"produced");
    std::vector<CComBSTR> texts(3, filled);  // containers use the object's address, not the BSTR's
    EXPECT_STREQ(texts[2], L"produced");
}

TEST(CComVariantTest, TypesOfItsConstructors) {
    CComVariant empty;
    EXPECT_EQ(empty.vt, VT_EMPTY);
    CComVariant number(-3);
    EXPECT_EQ(number.vt, VT_I4);
    EXPECT_EQ(number.lVal, -3);
    CComVariant text(L"x");
    ASSERT_EQ(text.vt, VT_BSTR);
    EXPECT_STREQ(text.bstrVal, L"x");
    CComVariant null_text(static_cast<LPCOLESTR>(nullptr));
    EXPECT_EQ(null_text.vt, VT_BSTR);
    EXPECT_EQ(null_text.bstrVal, nullptr);
    ASSERT_EQ(text.ChangeType(VT_I4), DISP_E_TYPEMISMATCH);
    CComVariant digits(L"42");
    ASSERT_EQ(digits.ChangeType(VT_I4), S_OK);
    EXPECT_EQ(digits.vt, VT_I4);
    EXPECT_EQ(digits.lVal, 42);
    CComVariant converted;
    ASSERT_EQ(converted.ChangeType(VT_BSTR, &number), S_OK);
    EXPECT_STREQ(converted.bstrVal, L"-3");
}

// A variant that holds an object holds one reference: every copy takes one, every holder gives its back once.
TEST(CComVariantTest, ObjectReferencesAreCountedOnce) {
    int destroyed = 0;
    ComPtr<Counted> object = Make<Counted>(&destroyed);
    IUnknown* unknown = static_cast<IClassFactory*>(object.Get());
    {
        CComVariant held(unknown);
        EXPECT_EQ(held.vt, VT_UNKNOWN);
        EXPECT_EQ(object->References(), 2u);
        CComVariant copy(held);
        CComVariant from_variant(static_cast<const VARIANT&>(held));
        EXPECT_EQ(object->References(), 4u);
        CComVariant moved(std::move(copy));
        EXPECT_EQ(copy.vt, VT_EMPTY);
        EXPECT_EQ(object->References(), 4u);
        held = held;
        held = std::move(held);
        EXPECT_EQ(held.vt, VT_UNKNOWN);
        EXPECT_EQ(object->References(), 4u);
        moved = CComVariant(7);  // the reference moved held goes
        EXPECT_EQ(object->References(), 3u);
        from_variant.Clear();
        EXPECT_EQ(from_variant.vt, VT_EMPTY);
        EXPECT_EQ(object->References(), 2u);
        std::vector<CComVariant> many(10, held);
        EXPECT_EQ(object->References(), 12u);
    }
    EXPECT_EQ(object->References(), 1u);
    EXPECT_EQ(destroyed, 0);
}

TEST(CComVariantTest, AttachAndDetachMoveTheValue) {
    int destroyed = 0;
    ComPtr<Counted> object = Make<Counted>(&destroyed);
    VARIANT raw;
    VariantInit(&raw);
    raw.vt = VT_UNKNOWN;
    raw.punkVal = static_cast<IClassFactory*>(object.Get());
    object->AddRef();  // raw's reference
    {
        CComVariant held;
        held = 5;
        ASSERT_EQ(held.Attach(&raw), S_OK);
        EXPECT_EQ(raw.vt, VT_EMPTY);
        EXPECT_EQ(object->References(), 2u);
        VARIANT out;
        VariantInit(&out);
        out.vt = VT_BSTR;
        out.bstrVal = SysAllocString(L"freed by Detach");
        ASSERT_EQ(held.Detach(&out), S_OK);
        EXPECT_EQ(held.vt, VT_EMPTY);
        EXPECT_EQ(out.vt, VT_UNKNOWN);
        EXPECT_EQ(object->References(), 2u);
        VariantClear(&out);  // Detach handed it over: the receiver clears it
        EXPECT_EQ(held.Attach(nullptr), E_INVALIDARG);
        EXPECT_EQ(held.Detach(nullptr), E_POINTER);
    }
    EXPECT_EQ(object->References(), 1u);
}

}  // namespace
