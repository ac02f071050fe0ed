// The schema compiles with the platform's MOF compiler, in order, into a fresh installation.

#include "qv_temp_root.h"
#include "qv_test_paths.h"
#include "run_program.h"

#include <string>

namespace {

class SchemaTest : public TempRootTest {
protected:
    ProgramRun Compile(const std::string& file) {
        return RunProgram(BuildTree() + "/bin/mofcomp", {SourceTree() + "/mof/" + file}, root_);
    }
    static std::string Output(const ProgramRun& run) { return run.error_output + run.debug_output; }
};

TEST_F(SchemaTest, CompilesInOrderIntoAFreshRoot) {
    for (const char* file : {"common.mof", "fwprov.mof", "swprov.mof"}) {
        ProgramRun run = Compile(file);
        EXPECT_EQ(run.exit_code, 0) << file << "\n" << Output(run);
    }
    // Compiling again over the installed schema succeeds too (autorecover, forceupdate).
    for (const char* file : {"common.mof", "fwprov.mof", "swprov.mof"}) {
        ProgramRun run = Compile(file);
        EXPECT_EQ(run.exit_code, 0) << file << "\n" << Output(run);
    }
}

TEST_F(SchemaTest, ProviderClassesNeedTheCommonBases) {
    for (const char* file : {"fwprov.mof", "swprov.mof"}) {
        ProgramRun run = Compile(file);
        EXPECT_NE(run.exit_code, 0) << file;
        EXPECT_NE(run.error_output.find("unknown superclass"), std::string::npos) << run.error_output;
    }
}

}  // namespace
