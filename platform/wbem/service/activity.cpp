// What keeps the service alive, and the repository it owns.
#include "service.h"

#include <atomic>
#include <cstdlib>

namespace qv::wbem::service {

namespace {
std::atomic<long> live{0};
std::mutex repository_mutex;
std::unique_ptr<Repository> repository;
}  // namespace

void ObjectCreated() { ++live; }
void ObjectDestroyed() { --live; }
long LiveObjects() { return live.load(); }

long EnvMilliseconds(const char* name, long fallback) {
    const char* text = std::getenv(name);
    if (text == nullptr || *text == 0) return fallback;
    char* end = nullptr;
    long value = std::strtol(text, &end, 10);
    return (end != nullptr && *end == 0 && value >= 0) ? value : fallback;
}

HRESULT WithRepository(const std::function<HRESULT(Repository&)>& work) {
    std::lock_guard lock(repository_mutex);
    if (!repository) {
        HRESULT hr = S_OK;
        repository = Repository::OpenDefault(&hr);
        if (!repository) return FAILED(hr) ? hr : WBEM_E_CRITICAL_ERROR;
    }
    return work(*repository);
}

}  // namespace qv::wbem::service
