// The application object in-process: the order of the installation work and the flags it is given.

#include "ProviderApp.h"
#include "qv_temp_root.h"

#include <string>
#include <vector>

namespace {

class ProviderAppTest : public TempRootTest {
protected:
    std::vector<std::string> Run(LPCWSTR line) {
        std::vector<std::string> done;
        CProviderApp app;
        app.m_lpCmdLine = line;
        app.installation.testRun = [&](CProviderApp&) { done.push_back("test run"); };
        app.installation.uninstall = [&](CProviderApp& a) {
            done.push_back(a.Flags().bClean ? "uninstall clean" : "uninstall");
        };
        app.installation.install = [&](CProviderApp&) { done.push_back("install"); };
        BOOL go_on = app.InitInstance();
        done.push_back(go_on ? "loop" : "end");
        EXPECT_EQ(app.ExitInstance(), 0);
        return done;
    }
};

// Test run, removal and installation run in that order, whatever the order on the line.
TEST_F(ProviderAppTest, InstallationWorkRunsInAFixedOrder) {
    EXPECT_EQ(Run(L"/Install /Clean -Uninstall /TestMode"),
              (std::vector<std::string>{"test run", "uninstall clean", "install", "loop"}));
    EXPECT_EQ(Run(L"-silent /Clean"), (std::vector<std::string>{"loop"}));
}

}  // namespace
