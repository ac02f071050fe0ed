// Command-line parsing cases that the program runs do not show.

#include "CommandLine.h"

#include <gtest/gtest.h>

#include <string>

TEST(CommandLineTest, EmptyAndNullLinesSetNothing) {
    for (LPCWSTR line : {static_cast<LPCWSTR>(nullptr), L"", L"   ", L"/", L"-", L"/ /\t-"}) {
        CommandLineFlags f = ParseCommandLine(line);
        EXPECT_FALSE(f.bEmbedded || f.bInstall || f.bUninstall || f.bClean || f.bTestmode || f.bSilent);
    }
}

TEST(CommandLineTest, TabsEndNamesAndOrderDoesNotMatter) {
    CommandLineFlags f = ParseCommandLine(L"-TestMode\t/Clean\t/Uninstall /Install /Embedding");
    EXPECT_TRUE(f.bTestmode && f.bClean && f.bUninstall && f.bInstall && f.bEmbedded);
    EXPECT_FALSE(f.bSilent);
}

TEST(CommandLineTest, EmbeddingEndsTheParse) {
    CommandLineFlags f = ParseCommandLine(L"/Embedding /Install");
    EXPECT_TRUE(f.bEmbedded);
    EXPECT_FALSE(f.bInstall);
    // Embedding inside a word starts after a dash and still ends the parse.
    f = ParseCommandLine(L"/x-embedding /Silent");
    EXPECT_TRUE(f.bEmbedded);
    EXPECT_FALSE(f.bSilent);
}

TEST(CommandLineTest, NamesAreComparedInTheirFirst259Characters) {
    // A 259-character name is compared whole; 260 characters and more are cut to 259.
    std::wstring exact = L"/" + std::wstring(252, L'x') + L"Install";  // name of 259 characters
    EXPECT_FALSE(ParseCommandLine(exact.c_str()).bInstall);
    std::wstring huge = L"/" + std::wstring(100000, L'y') + L"-silent";
    EXPECT_TRUE(ParseCommandLine(huge.c_str()).bSilent);
}
