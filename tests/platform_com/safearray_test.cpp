#include "oleauto.h"

#include <gtest/gtest.h>

namespace {

// A reference-counted object that reports its count, to see who keeps or releases it.
struct Counted final : IUnknown {
    ULONG refs = 1;
    STDMETHODIMP QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
    STDMETHODIMP_(ULONG) Release() override { return --refs; }
};

TEST(SafeArray, VectorOfBstrOwnsCopies) {
    SAFEARRAY* array = SafeArrayCreateVector(VT_BSTR, 0, 2);
    ASSERT_NE(array, nullptr);
    BSTR text = SysAllocString(L"first");
    LONG index = 0;
    ASSERT_EQ(SafeArrayPutElement(array, &index, text), S_OK);
    SysFreeString(text);  // the array holds its own copy
    index = 1;
    ASSERT_EQ(SafeArrayPutElement(array, &index, nullptr), S_OK);
    BSTR out = nullptr;
    index = 0;
    ASSERT_EQ(SafeArrayGetElement(array, &index, &out), S_OK);
    EXPECT_STREQ(out, L"first");
    SysFreeString(out);
    index = 2;
    EXPECT_EQ(SafeArrayGetElement(array, &index, &out), DISP_E_BADINDEX);
    VARTYPE vt = VT_EMPTY;
    EXPECT_EQ(SafeArrayGetVartype(array, &vt), S_OK);
    EXPECT_EQ(vt, VT_BSTR);

    SAFEARRAY* copy = nullptr;
    ASSERT_EQ(SafeArrayCopy(array, &copy), S_OK);
    EXPECT_EQ(SafeArrayDestroy(array), S_OK);
    index = 0;
    ASSERT_EQ(SafeArrayGetElement(copy, &index, &out), S_OK);  // the copy is deep
    EXPECT_STREQ(out, L"first");
    SysFreeString(out);
    EXPECT_EQ(SafeArrayDestroy(copy), S_OK);
}

TEST(SafeArray, BoundsLocksAndTwoDimensions) {
    SAFEARRAYBOUND bounds[2] = {{2, 1}, {3, 10}};  // leftmost first: rows 1..2, columns 10..12
    SAFEARRAY* array = SafeArrayCreate(VT_I4, 2, bounds);
    ASSERT_NE(array, nullptr);
    LONG lower = 0, upper = 0;
    EXPECT_EQ(SafeArrayGetLBound(array, 1, &lower), S_OK);
    EXPECT_EQ(SafeArrayGetUBound(array, 1, &upper), S_OK);
    EXPECT_EQ(lower, 1);
    EXPECT_EQ(upper, 2);
    EXPECT_EQ(SafeArrayGetUBound(array, 2, &upper), S_OK);
    EXPECT_EQ(upper, 12);
    EXPECT_EQ(SafeArrayGetUBound(array, 3, &upper), DISP_E_BADINDEX);
    LONG at[2] = {2, 11};
    LONG value = 42;
    ASSERT_EQ(SafeArrayPutElement(array, at, &value), S_OK);
    void* data = nullptr;
    ASSERT_EQ(SafeArrayAccessData(array, &data), S_OK);
    EXPECT_EQ(static_cast<LONG*>(data)[1 * 3 + 1], 42);  // the rightmost index varies fastest
    EXPECT_EQ(SafeArrayDestroy(array), DISP_E_ARRAYISLOCKED);
    EXPECT_EQ(SafeArrayUnaccessData(array), S_OK);
    LONG outside[2] = {0, 11};
    EXPECT_EQ(SafeArrayPutElement(array, outside, &value), DISP_E_BADINDEX);
    EXPECT_EQ(SafeArrayDestroy(array), S_OK);
}

TEST(SafeArray, UnknownElementsAreReferencedAndReleased) {
    Counted object;
    SAFEARRAY* array = SafeArrayCreateVector(VT_UNKNOWN, 0, 1);
    LONG index = 0;
    ASSERT_EQ(SafeArrayPutElement(array, &index, &object), S_OK);
    EXPECT_EQ(object.refs, 2u);
    SafeArrayDestroy(array);
    EXPECT_EQ(object.refs, 1u);
}

TEST(SafeArray, RedimKeepsElementsAndReleasesDroppedOnes) {
    SAFEARRAY* array = SafeArrayCreateVector(VT_BSTR, 0, 3);
    BSTR x = SysAllocString(L"x");
    for (LONG i = 0; i < 3; ++i) SafeArrayPutElement(array, &i, x);
    SysFreeString(x);
    SAFEARRAYBOUND smaller{1, 0};
    ASSERT_EQ(SafeArrayRedim(array, &smaller), S_OK);
    LONG upper = 0;
    SafeArrayGetUBound(array, 1, &upper);
    EXPECT_EQ(upper, 0);
    SAFEARRAYBOUND larger{4, 0};
    ASSERT_EQ(SafeArrayRedim(array, &larger), S_OK);
    BSTR out = nullptr;
    LONG index = 3;
    ASSERT_EQ(SafeArrayGetElement(array, &index, &out), S_OK);
    EXPECT_EQ(out, nullptr);  // new elements start empty
    SafeArrayDestroy(array);
}

TEST(SafeArray, RefusesUnsupportedTypesAndHugeSizes) {
    EXPECT_EQ(SafeArrayCreateVector(VT_EMPTY, 0, 1), nullptr);
    EXPECT_EQ(SafeArrayCreateVector(VT_R8, 0, 0x7FFFFFFF), nullptr);
    SAFEARRAY* empty = SafeArrayCreateVector(VT_UI1, 0, 0);
    ASSERT_NE(empty, nullptr);
    LONG upper = 0;
    SafeArrayGetUBound(empty, 1, &upper);
    EXPECT_EQ(upper, -1);
    SafeArrayDestroy(empty);
}

}  // namespace
