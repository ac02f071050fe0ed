#include "argument_values.h"
#include "object_format.h"
#include "wbem_codes.h"

#include "property_bag.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

CComVariant Array(std::initializer_list<const wchar_t*> texts) {
    CComVariant v;
    v.vt = VT_ARRAY | VT_BSTR;
    v.parray = SafeArrayCreateVector(VT_BSTR, 0, static_cast<ULONG>(texts.size()));
    LONG i = 0;
    for (const wchar_t* text : texts) {
        SafeArrayPutElement(v.parray, &i, CComBSTR(text).m_str);
        ++i;
    }
    return v;
}

class ObjectFormat : public ::testing::Test {
protected:
    void SetUp() override {
        first_.Text(L"__CLASS", L"QVPROV_BIOSEnumeration")
            .Text(L"Name", L"Boot Mode")
            .Number(L"Sequence", 3, CIM_UINT32)
            .Flag(L"IsReadOnly", false)
            .Set(L"PossibleValues", Array({L"Legacy", L"UEFI"}), CIM_STRING | CIM_FLAG_ARRAY)
            .Null(L"Prerequisites", CIM_STRING);
        second_.Text(L"__CLASS", L"QVPROV_BIOSInteger")
            .Text(L"Name", L"Caf\u00e9 Delay")
            .Number(L"Mask", -1, CIM_UINT32)
            .Text(L"Big", L"18446744073709551615", CIM_UINT64)
            .Text(L"Negative", L"-5", CIM_SINT64);
    }
    std::string Write(qv::wmi::Format format) {
        std::ostringstream out;
        qv::wmi::WriteObjects(out, {&first_, &second_}, format);
        return out.str();
    }
    PropertyBag first_, second_;
};

TEST_F(ObjectFormat, JsonKeepsTypesAndSigns) {
    auto json = nlohmann::json::parse(Write(qv::wmi::Format::kJson));
    ASSERT_TRUE(json.is_array());
    ASSERT_EQ(json.size(), 2u);
    EXPECT_EQ(json[0]["Name"], "Boot Mode");
    EXPECT_EQ(json[0]["Sequence"], 3);
    EXPECT_EQ(json[0]["IsReadOnly"], false);
    EXPECT_EQ(json[0]["PossibleValues"], nlohmann::json({"Legacy", "UEFI"}));
    EXPECT_TRUE(json[0]["Prerequisites"].is_null());
    EXPECT_FALSE(json[0].contains("__CLASS"));  // system properties are left out
    EXPECT_EQ(json[1]["Mask"].get<uint64_t>(), 4294967295u);
    EXPECT_EQ(json[1]["Big"].get<uint64_t>(), 18446744073709551615ull);
    EXPECT_EQ(json[1]["Negative"].get<int64_t>(), -5);
    EXPECT_EQ(json[1]["Name"], "Caf\xc3\xa9 Delay");
}

TEST_F(ObjectFormat, ListShowsOneLinePerProperty) {
    EXPECT_EQ(Write(qv::wmi::Format::kList),
              "Name = Boot Mode\n"
              "Sequence = 3\n"
              "IsReadOnly = FALSE\n"
              "PossibleValues = {Legacy, UEFI}\n"
              "Prerequisites = \n"
              "\n"
              "Name = Caf\xc3\xa9 Delay\n"
              "Mask = 4294967295\n"
              "Big = 18446744073709551615\n"
              "Negative = -5\n");
}

TEST_F(ObjectFormat, TableAlignsColumnsOfAllObjects) {
    std::string table = Write(qv::wmi::Format::kTable);
    std::istringstream lines(table);
    std::string header, rule, row1, row2;
    std::getline(lines, header);
    std::getline(lines, rule);
    std::getline(lines, row1);
    std::getline(lines, row2);
    EXPECT_EQ(header.rfind("Name        Sequence  IsReadOnly", 0), 0u) << header;
    EXPECT_NE(header.find("Mask"), std::string::npos);
    EXPECT_NE(header.find("Negative"), std::string::npos);
    EXPECT_EQ(rule.rfind("----------  --------", 0), 0u) << rule;
    // Column positions are counted in characters: the accented name lines up with the plain one.
    EXPECT_EQ(row1.rfind("Boot Mode   3", 0), 0u) << row1;
    EXPECT_EQ(row2.rfind("Caf\xc3\xa9 Delay  ", 0), 0u) << row2;
}

TEST(ObjectFormatValues, EmbeddedObjectsNest) {
    PropertyBag inner, outer;
    inner.Text(L"__CLASS", L"Inner").Number(L"N", 4);
    outer.Object(L"TargetInstance", &inner);
    std::ostringstream json;
    qv::wmi::WriteObjects(json, {&outer}, qv::wmi::Format::kJson);
    EXPECT_EQ(nlohmann::json::parse(json.str())[0]["TargetInstance"]["N"], 4);
    std::ostringstream list;
    qv::wmi::WriteObjects(list, {&outer}, qv::wmi::Format::kList);
    EXPECT_EQ(list.str(), "TargetInstance = instance of Inner\n");
}

}  // namespace

namespace {

TEST(ArgumentValues, ConvertByCimTypeWithWmiConventions) {
    struct Case {
        const wchar_t* text;
        CIMTYPE type;
        HRESULT expected;
        VARTYPE vt;
    } cases[] = {
        {L"Enable", CIM_STRING, S_OK, VT_BSTR},
        {L"4294967295", CIM_UINT32, S_OK, VT_I4},
        {L"4294967296", CIM_UINT32, WBEM_E_VALUE_OUT_OF_RANGE, VT_EMPTY},
        {L"-1", CIM_UINT32, WBEM_E_TYPE_MISMATCH, VT_EMPTY},
        {L"0x10", CIM_SINT32, S_OK, VT_I4},
        {L"12x", CIM_SINT32, WBEM_E_TYPE_MISMATCH, VT_EMPTY},
        {L"255", CIM_UINT8, S_OK, VT_UI1},
        {L"18446744073709551615", CIM_UINT64, S_OK, VT_BSTR},
        {L"TRUE", CIM_BOOLEAN, S_OK, VT_BOOL},
        {L"yes", CIM_BOOLEAN, WBEM_E_TYPE_MISMATCH, VT_EMPTY},
        {L"2.5", CIM_REAL64, S_OK, VT_R8},
        {L"a,b,c", CIM_STRING | CIM_FLAG_ARRAY, S_OK, VT_ARRAY | VT_BSTR},
        {L"1,2,x", CIM_UINT32 | CIM_FLAG_ARRAY, WBEM_E_TYPE_MISMATCH, VT_EMPTY},
        {L"x", CIM_OBJECT, WBEM_E_NOT_SUPPORTED, VT_EMPTY},
    };
    for (const auto& c : cases) {
        CComVariant v;
        EXPECT_EQ(qv::wmi::ArgumentValue(c.text, c.type, &v), c.expected) << std::wstring(c.text).size();
        EXPECT_EQ(v.vt, c.vt);
    }
    CComVariant v;
    ASSERT_EQ(qv::wmi::ArgumentValue(L"4294967295", CIM_UINT32, &v), S_OK);
    EXPECT_EQ(v.lVal, -1);  // the same 32 bits
    v.Clear();
    ASSERT_EQ(qv::wmi::ArgumentValue(L"1,2", CIM_UINT32 | CIM_FLAG_ARRAY, &v), S_OK);
    LONG upper = 0;
    SafeArrayGetUBound(v.parray, 1, &upper);
    EXPECT_EQ(upper, 1);
}

TEST(WbemCodes, NamesAndHexValues) {
    EXPECT_EQ(qv::wmi::DescribeCode(WBEM_E_NOT_FOUND), "WBEM_E_NOT_FOUND (0x80041002)");
    EXPECT_EQ(qv::wmi::DescribeCode(static_cast<HRESULT>(0x80049999)), "0x80049999");
}

}  // namespace
