// IWbemClassObject over classes from the test schema: values, type checks, system properties, qualifiers,
// methods, spawning and object text.
#include "wbem_test_support.h"

namespace qv::wbem {
namespace {

using namespace qv::wbem::testing;
using Microsoft::WRL::ComPtr;

class ClassObjectTest : public TempRootTest {
protected:
    void SetUp() override {
        TempRootTest::SetUp();
        repo_ = Repository::Open(root_);
        ASSERT_TRUE(repo_);
        ASSERT_TRUE(Compile(*repo_, "common.mof").ok);
        MofResult r = Compile(*repo_, "provider.mof");
        ASSERT_TRUE(r.ok) << FormatMofError(r);
    }
    void TearDown() override {
        repo_.reset();
        TempRootTest::TearDown();
    }
    ComPtr<IWbemClassObject> Class(const wchar_t* name) {
        CimObject c;
        EXPECT_EQ(repo_->GetClass(kNs, name, &c), S_OK);
        ComPtr<IWbemClassObject> object;
        object.Attach(CreateClassObject(c));  // a new object's first reference
        return object;
    }
    static constexpr const wchar_t* kNs = L"root\\QVTest\\Settings";
    std::unique_ptr<Repository> repo_;
};

TEST_F(ClassObjectTest, ValuesTravelWithWmiVariantTypes) {
    ComPtr<IWbemClassObject> cls = Class(L"QVT_Sample");
    struct Case {
        const wchar_t* name;
        VARTYPE vt;
        CIMTYPE type;
    } cases[] = {{L"Flag", VT_BOOL, CIM_BOOLEAN},
                 {L"U8", VT_UI1, CIM_UINT8},
                 {L"S8", VT_I2, CIM_SINT8},
                 {L"U16", VT_I4, CIM_UINT16},
                 {L"S16", VT_I2, CIM_SINT16},
                 {L"U32", VT_I4, CIM_UINT32},
                 {L"S32", VT_I4, CIM_SINT32},
                 {L"U64", VT_BSTR, CIM_UINT64},
                 {L"S64", VT_BSTR, CIM_SINT64},
                 {L"R32", VT_R4, CIM_REAL32},
                 {L"R64", VT_R8, CIM_REAL64},
                 {L"C16", VT_I2, CIM_CHAR16},
                 {L"When", VT_BSTR, CIM_DATETIME},
                 {L"Text", VT_BSTR, CIM_STRING},
                 {L"Many", VT_ARRAY | VT_I4, CIM_UINT32 | CIM_FLAG_ARRAY},
                 {L"Embedded", VT_NULL, CIM_OBJECT},
                 {L"Next", VT_NULL, CIM_REFERENCE}};
    for (const Case& c : cases) {
        CComVariant v;
        CIMTYPE type = 0;
        ASSERT_EQ(cls->Get(c.name, 0, &v, &type, nullptr), S_OK) << qv::win::ToUtf8(c.name);
        EXPECT_EQ(v.vt, c.vt) << qv::win::ToUtf8(c.name);
        EXPECT_EQ(type, c.type) << qv::win::ToUtf8(c.name);
    }
    CComVariant v;
    ASSERT_EQ(cls->Get(L"U32", 0, &v, nullptr, nullptr), S_OK);
    EXPECT_EQ(v.lVal, -1);  // 4294967295 as VT_I4
    ASSERT_EQ(cls->Get(L"U64", 0, &v, nullptr, nullptr), S_OK);
    EXPECT_STREQ(v.bstrVal, L"18446744073709551615");
    ASSERT_EQ(cls->Get(L"Text", 0, &v, nullptr, nullptr), S_OK);
    EXPECT_STREQ(v.bstrVal, L"tab\there, quote\" and joined");
}

TEST_F(ClassObjectTest, PutChecksTypesAndNames) {
    ComPtr<IWbemClassObject> cls = Class(L"QVT_Sample");
    ComPtr<IWbemClassObject> instance;
    ASSERT_EQ(cls->SpawnInstance(0, instance.ReleaseAndGetAddressOf()), S_OK);
    CComVariant v;
    v.vt = VT_I4;
    v.lVal = 300;
    EXPECT_EQ(instance->Put(L"U8", 0, &v, 0), WBEM_E_TYPE_MISMATCH);  // out of range
    EXPECT_EQ(instance->Put(L"Flag", 0, &v, 0), WBEM_E_TYPE_MISMATCH);
    EXPECT_EQ(instance->Put(L"NoSuchProperty", 0, &v, 0), WBEM_E_NOT_FOUND);
    EXPECT_EQ(instance->Put(L"U32", 0, &v, CIM_STRING), WBEM_E_TYPE_MISMATCH);
    EXPECT_EQ(instance->Put(L"__CLASS", 0, &v, 0), WBEM_E_READ_ONLY);
    EXPECT_EQ(instance->Put(L"U32", 0, &v, 0), S_OK);
    v.lVal = -1;
    EXPECT_EQ(instance->Put(L"U32", 0, &v, 0), S_OK);  // uint32 travels as VT_I4
    CComVariant text(L"-12");
    EXPECT_EQ(instance->Put(L"S64", 0, &text, 0), S_OK);
    EXPECT_EQ(instance->Put(L"U64", 0, &text, 0), WBEM_E_TYPE_MISMATCH);
    EXPECT_EQ(instance->Put(L"When", 0, &text, 0), WBEM_E_TYPE_MISMATCH);
    CComVariant array;
    array.vt = VT_ARRAY | VT_BSTR;
    array.parray = SafeArrayCreateVector(VT_BSTR, 0, 1);
    EXPECT_EQ(instance->Put(L"Many", 0, &array, 0), WBEM_E_TYPE_MISMATCH);
    EXPECT_EQ(instance->Put(L"Text", 0, &array, 0), WBEM_E_TYPE_MISMATCH);
    // An embedded object goes in as VT_UNKNOWN and comes back as a copy.
    CComVariant embedded;
    embedded.vt = VT_UNKNOWN;
    ASSERT_EQ(cls->SpawnInstance(0, reinterpret_cast<IWbemClassObject**>(&embedded.punkVal)), S_OK);
    EXPECT_EQ(instance->Put(L"Embedded", 0, &embedded, 0), S_OK);
    CComVariant back;
    ASSERT_EQ(instance->Get(L"Embedded", 0, &back, nullptr, nullptr), S_OK);
    ASSERT_EQ(back.vt, VT_UNKNOWN);
    CComVariant cls2;
    ASSERT_EQ(static_cast<IWbemClassObject*>(back.punkVal)->Get(L"__CLASS", 0, &cls2, nullptr, nullptr), S_OK);
    EXPECT_STREQ(cls2.bstrVal, L"QVT_Sample");
}

TEST_F(ClassObjectTest, SystemPropertiesDescribeClassesAndInstances) {
    std::vector<CimObject> instances;
    ASSERT_EQ(repo_->EnumInstances(kNs, L"QVT_Sample", 0, &instances), S_OK);
    ASSERT_EQ(instances.size(), 2u);
    ComPtr<IWbemClassObject> instance;
    instance.Attach(CreateClassObject(instances[1]));
    auto text = [&](const ComPtr<IWbemClassObject>& o, const wchar_t* name) {
        CComVariant v;
        EXPECT_EQ(o->Get(name, 0, &v, nullptr, nullptr), S_OK);
        return v.vt == VT_BSTR ? std::wstring(v.bstrVal) : std::wstring(L"<null>");
    };
    EXPECT_EQ(text(instance, L"__CLASS"), L"QVT_Sample");
    EXPECT_EQ(text(instance, L"__RELPATH"), L"QVT_Sample.Id=\"second\"");
    EXPECT_EQ(text(instance, L"__NAMESPACE"), kNs);
    EXPECT_EQ(text(instance, L"__PATH"),
              L"\\\\" + Repository::ServerName() + L"\\" + kNs + L":QVT_Sample.Id=\"second\"");
    EXPECT_EQ(text(instance, L"__SUPERCLASS"), L"<null>");
    EXPECT_EQ(text(instance, L"Next"), L"QVT_Sample.Id=\"first\"");
    CComVariant genus;
    ASSERT_EQ(instance->Get(L"__GENUS", 0, &genus, nullptr, nullptr), S_OK);
    EXPECT_EQ(genus.lVal, WBEM_GENUS_INSTANCE);

    ComPtr<IWbemClassObject> sensor = Class(L"QVT_NumericSensor");
    EXPECT_EQ(text(sensor, L"__SUPERCLASS"), L"QVT_Sensor");
    EXPECT_EQ(text(sensor, L"__DYNASTY"), L"QVT_Sensor");
    EXPECT_EQ(text(sensor, L"__RELPATH"), L"QVT_NumericSensor");
    CComVariant derivation, count;
    ASSERT_EQ(sensor->Get(L"__DERIVATION", 0, &derivation, nullptr, nullptr), S_OK);
    ASSERT_EQ(derivation.vt, VT_ARRAY | VT_BSTR);
    ASSERT_EQ(sensor->Get(L"__PROPERTY_COUNT", 0, &count, nullptr, nullptr), S_OK);
    EXPECT_EQ(count.lVal, 6);
    EXPECT_EQ(sensor->InheritsFrom(L"qvt_sensor"), S_OK);
    EXPECT_EQ(sensor->InheritsFrom(L"QVT_Setting"), WBEM_S_FALSE);
}

TEST_F(ClassObjectTest, QualifiersKeepFlavorsAndPropagation) {
    ComPtr<IWbemClassObject> cls = Class(L"QVTP_Enumeration");
    ComPtr<IWbemQualifierSet> set;
    ASSERT_EQ(cls->GetPropertyQualifierSet(L"PossibleValues", set.ReleaseAndGetAddressOf()), S_OK);
    CComVariant v;
    LONG flavor = 0;
    ASSERT_EQ(set->Get(L"WmiSizeIs", 0, &v, &flavor), S_OK);
    EXPECT_STREQ(v.bstrVal, L"Size");
    EXPECT_TRUE(flavor & WBEM_FLAVOR_ORIGIN_PROPAGATED);
    ASSERT_EQ(set->Get(L"MAX", 0, &v, nullptr), S_OK);
    EXPECT_EQ(v.lVal, 12);
    ASSERT_EQ(set->Get(L"read", 0, &v, &flavor), S_OK);
    EXPECT_TRUE(flavor & WBEM_FLAVOR_FLAG_PROPAGATE_TO_INSTANCE);
    EXPECT_EQ(set->Delete(L"read"), WBEM_E_PROPAGATED_QUALIFIER);
    // abstract is not inherited; dynamic with ToInstance reaches instances.
    ASSERT_EQ(cls->GetQualifierSet(set.ReleaseAndGetAddressOf()), S_OK);
    EXPECT_EQ(set->Get(L"abstract", 0, nullptr, nullptr), WBEM_E_NOT_FOUND);
    ComPtr<IWbemClassObject> instance;
    ASSERT_EQ(cls->SpawnInstance(0, instance.ReleaseAndGetAddressOf()), S_OK);
    ASSERT_EQ(instance->GetQualifierSet(set.ReleaseAndGetAddressOf()), S_OK);
    EXPECT_EQ(set->Get(L"dynamic", 0, nullptr, &flavor), S_OK);
    CComVariant value;
    value.vt = VT_I4;
    value.lVal = 5;
    EXPECT_EQ(set->Put(L"Extra", &value, WBEM_FLAVOR_FLAG_PROPAGATE_TO_INSTANCE), S_OK);
    EXPECT_EQ(set->Get(L"Extra", 0, &v, nullptr), S_OK);
    EXPECT_EQ(v.lVal, 5);
}

TEST_F(ClassObjectTest, NamesAndEnumerationFollowFlags) {
    ComPtr<IWbemClassObject> cls = Class(L"QVTP_Enumeration");
    SAFEARRAY* names = nullptr;
    ASSERT_EQ(cls->GetNames(nullptr, WBEM_FLAG_KEYS_ONLY, nullptr, &names), S_OK);
    LONG hi = -1;
    SafeArrayGetUBound(names, 1, &hi);
    ASSERT_EQ(hi, 0);
    CComBSTR first;
    LONG index = 0;
    SafeArrayGetElement(names, &index, &first);
    EXPECT_STREQ(first, L"InstanceName");
    SafeArrayDestroy(names);
    ASSERT_EQ(cls->GetNames(L"WmiSizeIs", WBEM_FLAG_ONLY_IF_TRUE, nullptr, &names), S_OK);
    SafeArrayGetUBound(names, 1, &hi);
    EXPECT_EQ(hi, 0);
    SafeArrayDestroy(names);
    ASSERT_EQ(cls->GetNames(nullptr, WBEM_FLAG_LOCAL_ONLY, nullptr, &names), S_OK);
    SafeArrayGetUBound(names, 1, &hi);
    EXPECT_EQ(hi, 0);  // only InstanceName is declared here
    SafeArrayDestroy(names);

    ASSERT_EQ(cls->BeginEnumeration(WBEM_FLAG_NONSYSTEM_ONLY), S_OK);
    int count = 0;
    for (CComBSTR name; cls->Next(0, &name, nullptr, nullptr, nullptr) == S_OK; name.Empty()) {
        EXPECT_NE(name[0], L'_');
        ++count;
    }
    EXPECT_EQ(count, 8);
    EXPECT_EQ(cls->Next(0, nullptr, nullptr, nullptr, nullptr), WBEM_S_NO_MORE_DATA);
}

TEST_F(ClassObjectTest, MethodsHaveInAndOutSignatures) {
    ComPtr<IWbemClassObject> cls = Class(L"QVTP_Interface");
    ComPtr<IWbemClassObject> in;
    ComPtr<IWbemClassObject> out;
    ASSERT_EQ(cls->GetMethod(L"setsetting", 0, in.ReleaseAndGetAddressOf(), out.ReleaseAndGetAddressOf()), S_OK);
    ASSERT_TRUE(in && out);
    CComVariant v;
    CIMTYPE type = 0;
    EXPECT_EQ(in->Get(L"Password", 0, &v, &type, nullptr), S_OK);
    EXPECT_EQ(type, CIM_STRING);
    EXPECT_EQ(in->Get(L"Return", 0, &v, &type, nullptr), WBEM_E_NOT_FOUND);
    EXPECT_EQ(out->Get(L"Return", 0, &v, &type, nullptr), S_OK);
    EXPECT_EQ(type, CIM_UINT32);
    ComPtr<IWbemQualifierSet> set;
    ASSERT_EQ(in->GetPropertyQualifierSet(L"Name", set.ReleaseAndGetAddressOf()), S_OK);
    ASSERT_EQ(set->Get(L"ID", 0, &v, nullptr), S_OK);
    EXPECT_EQ(v.lVal, 1);
    ASSERT_EQ(cls->GetMethodQualifierSet(L"SetSetting", set.ReleaseAndGetAddressOf()), S_OK);
    ASSERT_EQ(set->Get(L"WmiMethodId", 0, &v, nullptr), S_OK);
    EXPECT_EQ(v.lVal, 1);
    CComBSTR origin;
    ASSERT_EQ(cls->GetMethodOrigin(L"SetDefaults", &origin), S_OK);
    EXPECT_STREQ(origin, L"QVT_Interface");
    EXPECT_EQ(cls->GetMethod(L"Missing", 0, in.ReleaseAndGetAddressOf(), out.ReleaseAndGetAddressOf()),
              WBEM_E_NOT_FOUND);
}

TEST_F(ClassObjectTest, CloneAndDerivedClassesAreIndependent) {
    ComPtr<IWbemClassObject> cls = Class(L"QVT_Sample");
    ComPtr<IWbemClassObject> copy;
    ASSERT_EQ(cls->Clone(copy.ReleaseAndGetAddressOf()), S_OK);
    EXPECT_EQ(cls->CompareTo(0, copy.Get()), WBEM_S_SAME);
    CComVariant v;
    v.vt = VT_I4;
    v.lVal = 1;
    ASSERT_EQ(copy->Put(L"NewProperty", 0, &v, CIM_UINT16), S_OK);  // classes gain properties
    EXPECT_EQ(cls->CompareTo(0, copy.Get()), WBEM_S_DIFFERENT);
    EXPECT_EQ(cls->Get(L"NewProperty", 0, nullptr, nullptr, nullptr), WBEM_E_NOT_FOUND);
    ComPtr<IWbemClassObject> derived;
    ASSERT_EQ(cls->SpawnDerivedClass(0, derived.ReleaseAndGetAddressOf()), S_OK);
    CComVariant name(L"QVT_Derived");
    ASSERT_EQ(derived->Put(L"__CLASS", 0, &name, 0), S_OK);
    EXPECT_EQ(derived->InheritsFrom(L"QVT_Sample"), S_OK);
    CComBSTR origin;
    ASSERT_EQ(derived->GetPropertyOrigin(L"U8", &origin), S_OK);
    EXPECT_STREQ(origin, L"QVT_Sample");
    EXPECT_EQ(derived->Delete(L"U8"), WBEM_E_PROPAGATED_PROPERTY);
}

TEST_F(ClassObjectTest, ObjectTextIsMof) {
    ComPtr<IWbemClassObject> cls = Class(L"QVT_Enumeration");
    CComBSTR text;
    ASSERT_EQ(cls->GetObjectText(0, &text), S_OK);
    std::wstring mof(text, text.Length());
    EXPECT_NE(mof.find(L"[abstract]\nclass QVT_Enumeration : QVT_Setting\n{"), std::wstring::npos)
        << qv::win::ToUtf8(mof);
    EXPECT_NE(mof.find(L"[WMIDataID(7), read: ToInstance, WmiSizeIs(\"Size\")] string PossibleValues[12];"),
              std::wstring::npos)
        << qv::win::ToUtf8(mof);
}

}  // namespace
}  // namespace qv::wbem
