#include "WMIQueryClass.h"
#include "atlbase.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace {

std::wstring ClassOf(const std::wstring& query) {
    return ParseQueryClass(CComBSTR(static_cast<int>(query.size()), query.data()));
}

// The class part: after the first "from" and one separator, up to the first "where", lower-cased, spaces gone.
TEST(QueryClass, FindsTheClassPart) {
    struct Case {
        std::wstring query;
        std::wstring name;
    } cases[] = {
        {L"select * from QVPROV_BIOSString", L"qvprov_biosstring"},
        {L"SELECT Name FROM QVPROV_BIOSEnumeration WHERE Name='x'", L"qvprov_biosenumeration"},
        {L"SELECT * FROM  QVPROV_BIOS Integer  ", L"qvprov_biosinteger"},
        {L"SELECT * FROM\tQVPROV_BIOSString", L"qvprov_biosstring"},             // the tab is the one separator
        {L"SELECT * FROM\t\tQVPROV_BIOSString", L"\tqvprov_biosstring"},         // a second tab stays
        {L"SELECT * FROMxQVPROV_BIOSString", L"qvprov_biosstring"},              // so does any one character
        {L"select fromage from QVPROV_BIOSString", L"gefromqvprov_biosstring"},  // "from" found in the select list
        {L"select * where x=1", L""},                                            // no "from"
        {L"select * from ", L""},
        {L"fromX", L""},
        {L"", L""},
        {L"SELECT * WHERE x FROM QVPROV_BIOSInteger", L"qvprov_biosinteger"},  // "where" before the class part
        {L"select * fromwhere", L"here"},                                      // "where" inside "from" + separator
        {L"select * from C where", L"c"},
        {L"select * from C\nwhere x", L"c\n"},
        {L"select * from \u00c9T\u00c9", L"\u00e9t\u00e9"},   // CharLowerW folds beyond ASCII
        {std::wstring(L"select * from C\0where", 21), L"c"},  // the text ends at its first NUL
    };
    for (const auto& c : cases) EXPECT_EQ(ClassOf(c.query), c.name) << c.query;
}

// A query that ends with its first "from" has no room for the separator: it throws, reading nothing beyond.
TEST(QueryClass, QueryEndingWithFromThrows) {
    const std::wstring cases[] = {
        L"select * from",
        L"FROM",
        L"select * FrOm",
        std::wstring(L"select * from\0 C", 16),
    };
    for (const auto& query : cases) EXPECT_THROW(ClassOf(query), std::out_of_range) << query;
}

TEST(QueryClass, NullQueryIsEmpty) { EXPECT_EQ(ParseQueryClass(nullptr), L""); }

}  // namespace
