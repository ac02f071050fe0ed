#include "qv_wql.h"

#include "property_bag.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string Narrow(const std::wstring& w) { return std::string(w.begin(), w.end()); }

qv::wql::Query MustParse(const std::wstring& text) {
    qv::wql::Query query;
    qv::wql::ParseError error;
    EXPECT_EQ(qv::wql::Parse(text, &query, &error), WBEM_S_NO_ERROR) << Narrow(text) << ": " << Narrow(error.message);
    return query;
}

TEST(WqlParse, SelectListClassAndWithin) {
    auto all = MustParse(L"select * from QVPROV_BIOSEnumeration");
    EXPECT_TRUE(all.select_all);
    EXPECT_EQ(all.class_name, L"QVPROV_BIOSEnumeration");
    EXPECT_EQ(all.where, nullptr);
    EXPECT_TRUE(all.Selects(L"Anything"));

    auto some = MustParse(L"SELECT Name, CurrentValue FROM QV_BIOSSetting WHERE IsReadOnly = FALSE");
    EXPECT_FALSE(some.select_all);
    ASSERT_EQ(some.properties.size(), 2u);
    EXPECT_TRUE(some.Selects(L"currentvalue"));
    EXPECT_FALSE(some.Selects(L"Path"));
    ASSERT_NE(some.where, nullptr);

    auto event = MustParse(L"SELECT * FROM __InstanceModificationEvent WITHIN 2.5 WHERE TargetInstance ISA 'X'");
    EXPECT_EQ(event.class_name, L"__InstanceModificationEvent");
    ASSERT_TRUE(event.within.has_value());
    EXPECT_DOUBLE_EQ(*event.within, 2.5);
}

// Malformed queries are refused with WBEM_E_INVALID_QUERY and say where they went wrong.
TEST(WqlParse, RefusesMalformedQueries) {
    struct Case {
        const wchar_t* text;
        size_t offset;
    } cases[] = {
        {L"", 0},
        {L"SELECT", 6},
        {L"SELECT * FROM", 13},
        {L"SELECT * X", 9},
        {L"SELECT Name, FROM X", 13},
        {L"SELECT * FROM X WHERE", 21},
        {L"SELECT * FROM X WHERE Name =", 28},
        {L"SELECT * FROM X WHERE (Name = 'a'", 33},
        {L"SELECT * FROM X WHERE Name = 'unterminated", 29},
        {L"SELECT * FROM X WHERE Name == 'a'", 28},
        {L"SELECT * FROM X WHERE 1 = 2", 27},
        {L"SELECT * FROM X WHERE Name IS 5", 30},
        {L"SELECT * FROM X WHERE Name = 12abc", 29},
        {L"SELECT * FROM X WHERE Name = 99999999999999999999", 29},
        {L"SELECT * FROM X trailing", 16},
        {L"SELECT * FROM X WITHIN 0", 23},
        {L"SELECT * FROM WHERE", 14},
        {L"SELECT * FROM X WHERE Name = 'a' $", 33},
        {L"SELECT * FROM X WHERE A.", 24},
    };
    for (const auto& c : cases) {
        qv::wql::Query query;
        qv::wql::ParseError error;
        EXPECT_EQ(qv::wql::Parse(c.text, &query, &error), WBEM_E_INVALID_QUERY) << Narrow(c.text);
        EXPECT_EQ(error.offset, c.offset) << Narrow(c.text) << ": " << Narrow(error.message);
        EXPECT_FALSE(error.message.empty());
    }
}

TEST(WqlParse, DeepNestingIsRefusedNotRecursedInto) {
    std::wstring text = L"SELECT * FROM X WHERE " + std::wstring(100000, L'(') + L"A = 1";
    qv::wql::Query query;
    EXPECT_EQ(qv::wql::Parse(text, &query, nullptr), WBEM_E_INVALID_QUERY);
    std::wstring nots = L"SELECT * FROM X WHERE ";
    for (int i = 0; i < 100000; ++i) nots += L"NOT ";
    EXPECT_EQ(qv::wql::Parse(nots + L"A = 1", &query, nullptr), WBEM_E_INVALID_QUERY);
}

class WqlMatch : public ::testing::Test {
protected:
    void SetUp() override {
        setting_.Text(L"Name", L"Boot Mode")
            .Text(L"CurrentValue", L"Legacy")
            .Number(L"Sequence", 7)
            .Number(L"Mask", -1, CIM_UINT32)  // uint32 travels as VT_I4
            .Text(L"Big", L"18446744073709551615", CIM_UINT64)
            .Flag(L"IsReadOnly", false)
            .Null(L"Prerequisites", CIM_STRING);
    }
    bool Matches(const std::wstring& where) {
        auto query = MustParse(L"SELECT * FROM QV_BIOSSetting WHERE " + where);
        return qv::wql::Matches(query, &setting_);
    }
    PropertyBag setting_;
};

TEST_F(WqlMatch, ComparisonsByType) {
    struct Case {
        const wchar_t* where;
        bool expected;
    } cases[] = {
        {L"Name = 'boot mode'", true},  // text compares ignoring case
        {L"Name <> 'Boot Mode'", false},
        {L"Name != \"Other\"", true},
        {L"Name < 'C'", true},
        {L"Sequence = 7", true},
        {L"Sequence >= 8", false},
        {L"Sequence > 6.5", true},
        {L"Sequence = '7'", true},  // quoted numbers compare as numbers
        {L"7 = Sequence", true},
        {L"Mask = 4294967295", true},
        {L"Big > 18446744073709551614", false},  // the literal overflows sint64: parsed as text, refused
        {L"Big = '18446744073709551615'", true},
        {L"IsReadOnly = FALSE", true},
        {L"IsReadOnly = 0", true},
        {L"IsReadOnly <> TRUE", true},
        {L"Sequence = 0x7", true},
    };
    for (const auto& c : cases) {
        qv::wql::Query query;
        if (qv::wql::Parse(std::wstring(L"SELECT * FROM X WHERE ") + c.where, &query, nullptr) != WBEM_S_NO_ERROR) {
            EXPECT_FALSE(c.expected) << Narrow(c.where);
            continue;
        }
        EXPECT_EQ(qv::wql::Matches(query, &setting_), c.expected) << Narrow(c.where);
    }
}

TEST_F(WqlMatch, NullsAndLogic) {
    EXPECT_TRUE(Matches(L"Prerequisites IS NULL"));
    EXPECT_FALSE(Matches(L"Prerequisites IS NOT NULL"));
    EXPECT_TRUE(Matches(L"Missing IS NULL"));
    EXPECT_TRUE(Matches(L"Prerequisites = NULL"));
    EXPECT_FALSE(Matches(L"Prerequisites = 'x'"));
    EXPECT_FALSE(Matches(L"NOT Prerequisites = 'x'"));  // unknown stays unknown under NOT
    EXPECT_TRUE(Matches(L"Prerequisites = 'x' OR Sequence = 7"));
    EXPECT_FALSE(Matches(L"Prerequisites = 'x' AND Sequence = 7"));
    EXPECT_TRUE(Matches(L"NOT (Sequence = 1 OR Sequence = 2) AND (Name LIKE 'Boot%')"));
    EXPECT_FALSE(Matches(L"Name = 1"));  // text that is no number does not compare with a number
}

TEST_F(WqlMatch, EmbeddedObjectsAndIsA) {
    PropertyBag target;  // outlives the event that refers to it
    PropertyBag event;
    target.Text(L"__CLASS", L"QVPROV_BIOSEnumeration").Text(L"Name", L"Boot Mode");
    event.Object(L"TargetInstance", &target);
    auto query = MustParse(
        L"SELECT * FROM E WHERE TargetInstance ISA 'qvprov_biosenumeration' AND "
        L"TargetInstance.Name = 'Boot Mode'");
    EXPECT_TRUE(qv::wql::Matches(query, &event));
    auto other = MustParse(L"SELECT * FROM E WHERE TargetInstance ISA 'QV_BIOSPassword'");
    EXPECT_FALSE(qv::wql::Matches(other, &event));
    auto derived = [](IWbemClassObject*, const std::wstring& name) { return name == L"QV_BIOSSetting"; };
    auto base = MustParse(L"SELECT * FROM E WHERE TargetInstance ISA 'QV_BIOSSetting'");
    EXPECT_TRUE(qv::wql::Matches(base, &event, derived));
}

TEST(WqlLike, PatternCharacters) {
    struct Case {
        const wchar_t* text;
        const wchar_t* pattern;
        bool expected;
    } cases[] = {
        {L"Boot Mode", L"boot%", true},
        {L"Boot Mode", L"%MODE", true},
        {L"Boot Mode", L"B__t%", true},
        {L"Boot Mode", L"Boot", false},
        {L"", L"%", true},
        {L"", L"_", false},
        {L"abc", L"[a-c]bc", true},
        {L"dbc", L"[a-c]bc", false},
        {L"dbc", L"[^a-c]bc", true},
        {L"a[b", L"a[b", true},
        {L"x%y", L"x[%]y", true},
        {L"xzy", L"x[%]y", false},
        {L"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaab", L"%a%a%a%a%a%a%a%a%a%a%c", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(qv::wql::Like(c.text, c.pattern), c.expected) << Narrow(c.text) << " LIKE " << Narrow(c.pattern);
}

}  // namespace
