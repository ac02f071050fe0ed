#include "machine_lock.h"

#include "machine_store.h"
#include "qv_machine.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace qv::machine {

// The page as every process of the root sees it. `ready` is set last, once the mutex is prepared; a file of
// another layout (an older root's empty lock file) is prepared anew.
struct SharedLockPage {
    uint32_t ready;
    uint32_t layout;
    uint64_t generation;
    pthread_mutex_t mutex;
};

namespace {

constexpr uint32_t kReady = 0x4B434C51;  // "QLCK"
constexpr uint32_t kLayout = sizeof(SharedLockPage);

[[noreturn]] void Unavailable(const std::filesystem::path& file, const char* what, int error) {
    throw MachineUnavailable("cannot " + std::string(what) + " " + file.string() + ": " + std::strerror(error));
}

void Prepare(SharedLockPage& page) {
    pthread_mutexattr_t attributes;
    pthread_mutexattr_init(&attributes);
    pthread_mutexattr_setpshared(&attributes, PTHREAD_PROCESS_SHARED);
    pthread_mutexattr_setrobust(&attributes, PTHREAD_MUTEX_ROBUST);
    pthread_mutex_init(&page.mutex, &attributes);
    pthread_mutexattr_destroy(&attributes);
    page.layout = kLayout;
    __atomic_store_n(&page.ready, kReady, __ATOMIC_RELEASE);
}

}  // namespace

SharedLock::SharedLock(const std::filesystem::path& file) {
    int fd = OpenPrivate(file);  // no other user may take or break the lock
    if (fd < 0) Unavailable(file, "open", errno);
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        int error = errno;
        ::close(fd);
        Unavailable(file, "read", error);
    }
    if (st.st_size < static_cast<off_t>(sizeof(SharedLockPage)) && ::ftruncate(fd, sizeof(SharedLockPage)) != 0) {
        int error = errno;
        ::close(fd);
        Unavailable(file, "size", error);
    }
    void* p = ::mmap(nullptr, sizeof(SharedLockPage), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    int error = errno;
    ::close(fd);
    if (p == MAP_FAILED) Unavailable(file, "map", error);
    page_ = static_cast<SharedLockPage*>(p);
    if (__atomic_load_n(&page_->ready, __ATOMIC_ACQUIRE) != kReady || page_->layout != kLayout) Prepare(*page_);
}

SharedLock::~SharedLock() { ::munmap(page_, sizeof(SharedLockPage)); }

bool SharedLock::Lock() {
    int result = pthread_mutex_lock(&page_->mutex);
    if (result == 0) return false;
    if (result == EOWNERDEAD) {
        pthread_mutex_consistent(&page_->mutex);
        return true;
    }
    // Only a holder that gave the lock up without making it consistent leaves it unusable, and no process of
    // the machine does that.
    throw MachineUnavailable(std::string("the machine's lock cannot be taken: ") + std::strerror(result));
}

void SharedLock::Unlock() { pthread_mutex_unlock(&page_->mutex); }

uint64_t SharedLock::Generation() const { return __atomic_load_n(&page_->generation, __ATOMIC_ACQUIRE); }

void SharedLock::SetGeneration(uint64_t generation) {
    __atomic_store_n(&page_->generation, generation, __ATOMIC_RELEASE);
}

}  // namespace qv::machine
