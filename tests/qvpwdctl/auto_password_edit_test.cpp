// The automation object in-process, with a scripted dialog: dispatch, the result, and the error codes, texts
// and error objects of failures.

#include "auto_password_edit.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

using qvpwdctl::CAutoPasswordEdit;

class CountedLocks final : public qvpwdctl::ServerLocks {
public:
    int count = 0;
    void Lock() override { ++count; }
    void Unlock() override { --count; }
};

struct Invoked {
    HRESULT hr;
    VARIANT result;
    EXCEPINFO exception;
};

Invoked Call(IDispatch* object, std::vector<VARIANT> args, WORD flags = DISPATCH_METHOD) {
    Invoked r{};
    VariantInit(&r.result);
    DISPPARAMS params{args.empty() ? nullptr : args.data(), nullptr, static_cast<UINT>(args.size()), 0};
    r.hr = object->Invoke(qvpwdctl::kDispGetPassword, IID_NULL, 0, flags, &params, &r.result, &r.exception, nullptr);
    for (auto& a : args) VariantClear(&a);
    return r;
}

VARIANT Text(const wchar_t* text) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocString(text);
    return v;
}

TEST(AutoPasswordEdit, GetPasswordReturnsTheDialogsAnswer) {
    CountedLocks locks;
    std::wstring seen;
    auto* object = new CAutoPasswordEdit(
        [&](const std::wstring& prompt) {
            seen = prompt;
            return std::wstring(L"<kbd/>1E30");
        },
        &locks);
    EXPECT_EQ(locks.count, 1);
    Invoked r = Call(object, {Text(L" Setup password: ")});
    EXPECT_EQ(r.hr, S_OK);
    ASSERT_EQ(r.result.vt, VT_BSTR);
    EXPECT_STREQ(r.result.bstrVal, L"<kbd/>1E30");
    EXPECT_EQ(seen, L" Setup password: ");
    VariantClear(&r.result);
    // A prompt of another type is taken as text.
    VARIANT number;
    VariantInit(&number);
    number.vt = VT_I4;
    number.lVal = 42;
    Invoked second = Call(object, {number});
    EXPECT_EQ(second.hr, S_OK);
    EXPECT_EQ(seen, L"42");
    VariantClear(&second.result);
    object->Release();
    EXPECT_EQ(locks.count, 0);
}

TEST(AutoPasswordEdit, DispatchRefusesWhatIsNotGetPassword) {
    auto* object = new CAutoPasswordEdit([](const std::wstring&) { return std::wstring(); }, nullptr);
    DISPID id = 0;
    wchar_t name[] = L"getpassword";
    LPOLESTR names[] = {name};
    EXPECT_EQ(object->GetIDsOfNames(IID_NULL, names, 1, 0, &id), S_OK);
    EXPECT_EQ(id, qvpwdctl::kDispGetPassword);
    wchar_t other[] = L"SetPassword";
    names[0] = other;
    EXPECT_EQ(object->GetIDsOfNames(IID_NULL, names, 1, 0, &id), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(id, DISPID_UNKNOWN);
    EXPECT_EQ(Call(object, {}).hr, DISP_E_BADPARAMCOUNT);
    EXPECT_EQ(Call(object, {Text(L"a"), Text(L"b")}).hr, DISP_E_BADPARAMCOUNT);
    EXPECT_EQ(Call(object, {Text(L"a")}, DISPATCH_PROPERTYPUT).hr, DISP_E_MEMBERNOTFOUND);
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    EXPECT_EQ(object->Invoke(7, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr), DISP_E_MEMBERNOTFOUND);
    // The dispatch interface is answered with IDispatch.
    IDispatch* itf = nullptr;
    EXPECT_EQ(object->QueryInterface(IID_IAutoPasswordEdit, reinterpret_cast<void**>(&itf)), S_OK);
    EXPECT_EQ(itf, static_cast<IDispatch*>(object));
    itf->Release();
    EXPECT_EQ(object->InterfaceSupportsErrorInfo(IID_IAutoPasswordEdit), S_OK);
    EXPECT_EQ(object->InterfaceSupportsErrorInfo(IID_IDispatch), S_FALSE);
    object->Release();
}

TEST(AutoPasswordEdit, FailuresCarryTheirCodeTextAndInterface) {
    const struct {
        const char* name;
        std::function<std::wstring(const std::wstring&)> dialog;
        HRESULT code;
        const wchar_t* text;
    } cases[] = {
        {"out of memory", [](const std::wstring&) -> std::wstring { throw std::bad_alloc(); }, E_OUTOFMEMORY,
         L"Insufficient memory to perform operation."},
        {"any other failure", [](const std::wstring&) -> std::wstring { throw std::runtime_error("no display"); },
         E_UNEXPECTED, L"Internal application error."},
        {"not even an exception", [](const std::wstring&) -> std::wstring { throw 7; }, E_UNEXPECTED,
         L"Internal application error."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto* object = new CAutoPasswordEdit(c.dialog, nullptr);
        Invoked r = Call(object, {Text(L"x")});
        EXPECT_EQ(r.hr, DISP_E_EXCEPTION);
        EXPECT_EQ(r.exception.scode, c.code);
        EXPECT_STREQ(r.exception.bstrDescription, c.text);
        EXPECT_STREQ(r.exception.bstrSource, L"qvPwdCtl.PasswordEdit");
        SysFreeString(r.exception.bstrDescription);
        SysFreeString(r.exception.bstrSource);

        // Called directly, the method leaves an error object naming the interface.
        VARIANT prompt = Text(L"x"), value;
        EXPECT_EQ(object->GetPassword(prompt, &value), c.code);
        VariantClear(&prompt);
        IErrorInfo* info = nullptr;
        ASSERT_EQ(GetErrorInfo(0, &info), S_OK);
        GUID guid{};
        info->GetGUID(&guid);
        EXPECT_TRUE(IsEqualGUID(guid, IID_IAutoPasswordEdit));
        BSTR description = nullptr;
        info->GetDescription(&description);
        EXPECT_STREQ(description, c.text);
        SysFreeString(description);
        info->Release();
        EXPECT_EQ(GetErrorInfo(0, &info), S_FALSE);  // taken once
        object->Release();
    }
}

}  // namespace
