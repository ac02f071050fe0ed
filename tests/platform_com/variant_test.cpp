#include "oleauto.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct Counted final : IUnknown {
    ULONG refs = 1;
    STDMETHODIMP QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
    STDMETHODIMP_(ULONG) Release() override { return --refs; }
};

TEST(Variant, CopyIsDeepAndClearReleases) {
    VARIANT source, copy;
    VariantInit(&source);
    VariantInit(&copy);
    source.vt = VT_BSTR;
    source.bstrVal = SysAllocString(L"value");
    ASSERT_EQ(VariantCopy(&copy, &source), S_OK);
    EXPECT_NE(copy.bstrVal, source.bstrVal);
    EXPECT_STREQ(copy.bstrVal, L"value");
    VariantClear(&source);
    EXPECT_EQ(source.vt, VT_EMPTY);
    EXPECT_STREQ(copy.bstrVal, L"value");

    Counted object;
    source.vt = VT_UNKNOWN;
    source.punkVal = &object;
    ASSERT_EQ(VariantCopy(&copy, &source), S_OK);  // replaces (and frees) the BSTR copy
    EXPECT_EQ(object.refs, 2u);
    VariantClear(&copy);
    EXPECT_EQ(object.refs, 1u);

    source.vt = VT_ARRAY | VT_UI1;
    source.parray = SafeArrayCreateVector(VT_UI1, 0, 3);
    ASSERT_EQ(VariantCopy(&copy, &source), S_OK);
    EXPECT_NE(copy.parray, source.parray);
    VariantClear(&source);
    VariantClear(&copy);
}

std::wstring AsText(const VARIANT& v) {
    VARIANT text;
    VariantInit(&text);
    EXPECT_EQ(VariantChangeType(&text, &v, VARIANT_ALPHABOOL, VT_BSTR), S_OK);
    std::wstring result(text.bstrVal, SysStringLen(text.bstrVal));
    VariantClear(&text);
    return result;
}

TEST(Variant, ChangeTypeToText) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = -17;
    EXPECT_EQ(AsText(v), L"-17");
    v.vt = VT_UI4;
    v.ulVal = 4000000000u;
    EXPECT_EQ(AsText(v), L"4000000000");
    v.vt = VT_BOOL;
    v.boolVal = VARIANT_TRUE;
    EXPECT_EQ(AsText(v), L"True");
    v.vt = VT_R8;
    v.dblVal = 2.5;
    EXPECT_EQ(AsText(v), L"2.5");
}

TEST(Variant, ChangeTypeFromTextAndNumbers) {
    struct Case {
        const wchar_t* text;
        VARTYPE target;
        HRESULT expected;
        LONGLONG value;
    } cases[] = {
        {L"42", VT_I4, S_OK, 42},
        {L" -7 ", VT_I4, S_OK, -7},
        {L"2147483648", VT_I4, DISP_E_OVERFLOW, 0},
        {L"255", VT_UI1, S_OK, 255},
        {L"256", VT_UI1, DISP_E_OVERFLOW, 0},
        {L"-1", VT_UI4, DISP_E_OVERFLOW, 0},
        {L"12abc", VT_I4, DISP_E_TYPEMISMATCH, 0},
        {L"", VT_I4, DISP_E_TYPEMISMATCH, 0},
        {L"2.5", VT_I4, S_OK, 2},  // halves round to even
        {L"3.5", VT_I4, S_OK, 4},
        {L"true", VT_BOOL, S_OK, -1},
        {L"0", VT_BOOL, S_OK, 0},
        {L"18446744073709551615", VT_UI8, S_OK, -1},
    };
    for (const auto& c : cases) {
        VARIANT source, target;
        VariantInit(&source);
        VariantInit(&target);
        source.vt = VT_BSTR;
        source.bstrVal = SysAllocString(c.text);
        HRESULT hr = VariantChangeType(&target, &source, 0, c.target);
        EXPECT_EQ(hr, c.expected) << std::string(c.text, c.text + wcslen(c.text));
        if (hr == S_OK) {
            EXPECT_EQ(target.vt, c.target);
            LONGLONG got = c.target == VT_I4     ? target.lVal
                           : c.target == VT_UI1  ? target.bVal
                           : c.target == VT_BOOL ? target.boolVal
                                                 : static_cast<LONGLONG>(target.ullVal);
            EXPECT_EQ(got, c.value) << std::string(c.text, c.text + wcslen(c.text));
        } else {
            EXPECT_EQ(target.vt, VT_EMPTY);  // a failed conversion leaves the target alone
        }
        VariantClear(&source);
        VariantClear(&target);
    }
}

TEST(Variant, NullAndArraysDoNotConvert) {
    VARIANT source, target;
    VariantInit(&source);
    VariantInit(&target);
    source.vt = VT_NULL;
    EXPECT_EQ(VariantChangeType(&target, &source, 0, VT_I4), DISP_E_TYPEMISMATCH);
    source.vt = VT_ARRAY | VT_I4;
    source.parray = nullptr;
    EXPECT_EQ(VariantChangeType(&target, &source, 0, VT_BSTR), DISP_E_TYPEMISMATCH);
}

}  // namespace
