#include "object_format.h"

#include "property_bag.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

VARIANT Array(std::initializer_list<const wchar_t*> texts) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_ARRAY | VT_BSTR;
    v.parray = SafeArrayCreateVector(VT_BSTR, 0, static_cast<ULONG>(texts.size()));
    LONG i = 0;
    for (const wchar_t* text : texts) {
        BSTR b = SysAllocString(text);
        SafeArrayPutElement(v.parray, &i, b);
        SysFreeString(b);
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
