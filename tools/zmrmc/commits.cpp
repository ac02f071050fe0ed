#include "commits.h"

#include "exit_codes.h"
#include "progress_line.h"
#include "table.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <iostream>

namespace {

// While it lives, what the process writes to standard output goes to a temporary file instead; the library
// writes each enumeration's change report there, which would break zmrmc's own output (JSON above all).
class CaughtOutput {
public:
    CaughtOutput() {
        std::cout.flush();
        std::fflush(stdout);
        file_ = std::tmpfile();
        saved_ = dup(STDOUT_FILENO);
        if (file_ == nullptr || saved_ < 0 || dup2(fileno(file_), STDOUT_FILENO) < 0) Restore();
    }
    ~CaughtOutput() {
        Restore();
        if (file_ != nullptr) std::fclose(file_);
    }
    CaughtOutput(const CaughtOutput&) = delete;
    CaughtOutput& operator=(const CaughtOutput&) = delete;

private:
    void Restore() {
        std::fflush(stdout);
        if (saved_ >= 0) {
            dup2(saved_, STDOUT_FILENO);
            close(saved_);
            saved_ = -1;
        }
    }

    std::FILE* file_ = nullptr;
    int saved_ = -1;
};

const SRI* RecordLike(ZmrmcLibrary& library, const SRI& wanted) {
    bool keyed = wanted.type == SRI_TYPE_KEYED_ENUM || wanted.type == SRI_TYPE_KEYED_INTEGER;
    uint16_t key[4];
    std::memcpy(key, wanted.instanceKey, sizeof key);
    return library.Find(wanted.nameId, keyed ? key : nullptr);
}

std::string Quoted(const std::string& text) { return "'" + text + "'"; }

std::string WhyNotTaken(const CommitOutcome& outcome) {
    const SettingView& asked = outcome.requested;
    if (asked.type == SRI_TYPE_PASSWORD)
        return "a password is not written from a settings file (what the firmware shows of it is a digest); use "
               "zmrmc password";
    std::string holds = outcome.after.type == SRI_TYPE_PASSWORD ? ""
                                                                : " (it holds " + Quoted(outcome.after.Value()) + ")";
    if (!outcome.committed) return "the firmware did not take " + Quoted(asked.Value()) + holds;
    return "the firmware took the write but holds another value" + holds;
}

}  // namespace

void RequireSetupPassword(Session& session) {
    ZmrmcLibrary& library = session.Library();
    if (library.SetupPasswordSet() == 0) return;
    const char* codes = session.ReadPassword();
    if (codes == nullptr)
        throw CommandError(
            "a setup password is set; give it with --password-file FILE, --password-fd N or "
            "--password-stdin (nothing was written)",
            kExitPassword);
    unsigned char status = 0;
    uint16_t length = static_cast<uint16_t>(std::strlen(codes));
    if (!library.ChangeLockState(codes, length, 0, &status))
        throw CommandError("the setup password does not match (nothing was written)", kExitPassword);
    library.ChangeLockState(codes, length, 1, &status);
}

std::vector<CommitOutcome> CommitSettings(Session& session, const std::vector<int>& indices,
                                          const std::map<int, SettingView>& before) {
    ZmrmcLibrary& library = session.Library();
    std::vector<CommitOutcome> outcomes;
    std::vector<SRI> records;
    {
        ProgressLine progress("writing " + std::to_string(indices.size()) + " settings");
        CaughtOutput caught;
        for (int index : indices) {
            SRI* record = library.At(index);
            CommitOutcome outcome;
            if (auto known = before.find(index); known != before.end()) outcome.before = known->second;
            outcome.requested = ViewOf(library, record);
            SRI copy;
            std::memcpy(&copy, record, sizeof copy);
            records.push_back(copy);
            outcome.committed = library.Commit(record, session.CommitPassword()) != 0;
            outcomes.push_back(std::move(outcome));
        }
    }
    session.ReadSettingsAgain();
    for (size_t i = 0; i < outcomes.size(); ++i) {
        CommitOutcome& outcome = outcomes[i];
        const SRI* now = RecordLike(library, records[i]);
        if (now == nullptr) {
            outcome.reason = "the firmware no longer lists it";
            continue;
        }
        outcome.after = ViewOf(library, now);
        outcome.took = !ChangeOf(outcome.after, outcome.requested).has_value();
        if (!outcome.took) outcome.reason = WhyNotTaken(outcome);
    }
    return outcomes;
}

int ReportOutcomes(const std::vector<CommitOutcome>& outcomes, bool json, nlohmann::json* extra) {
    std::vector<Change> changes;
    bool all_took = true;
    for (const auto& outcome : outcomes) {
        all_took = all_took && outcome.took;
        if (auto change = ChangeOf(outcome.before, outcome.after)) changes.push_back(*change);
    }
    if (json) {
        nlohmann::json out = {{"changes", nlohmann::json::array()}, {"not_taken", nlohmann::json::array()}};
        for (const auto& c : changes)
            out["changes"].push_back({{"setting", c.setting}, {"old", c.old_value}, {"new", c.new_value}});
        for (const auto& o : outcomes)
            if (!o.took)
                out["not_taken"].push_back({{"setting", o.requested.full_name},
                                            {"requested", o.requested.Json()["value"]},
                                            {"reason", o.reason}});
        if (extra != nullptr) out.update(*extra);
        std::cout << out.dump(2) << '\n';
    } else {
        if (changes.empty()) {
            std::cout << "no setting changed\n";
        } else {
            std::vector<std::vector<std::string>> rows;
            for (const auto& c : changes) rows.push_back({c.setting, c.old_value, c.new_value});
            WriteTable(std::cout, {"SETTING", "OLD VALUE", "NEW VALUE"}, rows);
        }
        for (const auto& o : outcomes)
            if (!o.took) std::cerr << "zmrmc: " << o.requested.full_name << ": " << o.reason << '\n';
    }
    return all_took ? kExitOk : kExitNotTaken;
}
