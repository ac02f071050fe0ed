// Who administers the installation's instrumentation (qv_wbem_administrators.h).

#include "qv_wbem_administrators.h"

#include <grp.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

namespace qv::wbem {

bool IsAdministrator(const qv::com::CallerCredentials& user, const gid_t* administrators) {
    if (user.uid == 0) return true;
    if (administrators == nullptr) return false;
    return user.gid == *administrators ||
           std::find(user.groups.begin(), user.groups.end(), *administrators) != user.groups.end();
}

bool IsAdministrator(const qv::com::CallerCredentials& user) {
    std::vector<char> buffer(16384);
    group entry{};
    group* found = nullptr;
    if (getgrnam_r(kAdministratorsGroup, &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr)
        return IsAdministrator(user, nullptr);
    gid_t administrators = found->gr_gid;
    return IsAdministrator(user, &administrators);
}

bool CallerIsAdministrator() { return IsAdministrator(qv::com::CurrentCaller()); }

}  // namespace qv::wbem
