// A growable in-memory IStream.

#include "objbase.h"
#include "qv_com_object.h"

#include <cstring>
#include <vector>

namespace {

class MemoryStream final : public qv::com::Object<IStream> {
public:
    STDMETHODIMP Read(void* buffer, ULONG size, ULONG* read) override {
        if (buffer == nullptr && size != 0) return E_POINTER;
        size_t available = position_ < data_.size() ? data_.size() - position_ : 0;
        size_t count = std::min<size_t>(size, available);
        if (count != 0) std::memcpy(buffer, data_.data() + position_, count);
        position_ += count;
        if (read != nullptr) *read = static_cast<ULONG>(count);
        return count == size ? S_OK : S_FALSE;
    }
    STDMETHODIMP Write(const void* buffer, ULONG size, ULONG* written) override {
        if (buffer == nullptr && size != 0) return E_POINTER;
        if (position_ + size > data_.size()) data_.resize(position_ + size);
        if (size != 0) std::memcpy(data_.data() + position_, buffer, size);
        position_ += size;
        if (written != nullptr) *written = size;
        return S_OK;
    }
    STDMETHODIMP Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* position) override {
        long long base = origin == STREAM_SEEK_SET   ? 0
                         : origin == STREAM_SEEK_CUR ? static_cast<long long>(position_)
                         : origin == STREAM_SEEK_END ? static_cast<long long>(data_.size())
                                                     : -1;
        if (base < 0) return STG_E_INVALIDFUNCTION;
        long long target = base + move.QuadPart;
        if (target < 0) return STG_E_INVALIDFUNCTION;
        position_ = static_cast<size_t>(target);
        if (position != nullptr) position->QuadPart = position_;
        return S_OK;
    }
    STDMETHODIMP SetSize(ULARGE_INTEGER size) override {
        if (size.QuadPart > (1ull << 31)) return STG_E_MEDIUMFULL;
        data_.resize(static_cast<size_t>(size.QuadPart));
        return S_OK;
    }
    STDMETHODIMP CopyTo(IStream* target, ULARGE_INTEGER size, ULARGE_INTEGER* read, ULARGE_INTEGER* written) override {
        if (target == nullptr) return E_POINTER;
        size_t available = position_ < data_.size() ? data_.size() - position_ : 0;
        size_t count = static_cast<size_t>(std::min<ULONGLONG>(size.QuadPart, available));
        ULONG done = 0;
        HRESULT hr = target->Write(data_.data() + position_, static_cast<ULONG>(count), &done);
        position_ += count;
        if (read != nullptr) read->QuadPart = count;
        if (written != nullptr) written->QuadPart = done;
        return hr;
    }
    STDMETHODIMP Commit(DWORD) override { return S_OK; }
    STDMETHODIMP Revert() override { return S_OK; }
    STDMETHODIMP LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return STG_E_INVALIDFUNCTION; }
    STDMETHODIMP UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override { return STG_E_INVALIDFUNCTION; }
    STDMETHODIMP Stat(STATSTG* stat, DWORD) override {
        if (stat == nullptr) return E_POINTER;
        *stat = STATSTG{};
        stat->type = STGTY_STREAM;
        stat->cbSize.QuadPart = data_.size();
        return S_OK;
    }
    STDMETHODIMP Clone(IStream** copy) override {
        if (copy == nullptr) return E_POINTER;
        auto* clone = new MemoryStream();
        clone->data_ = data_;
        clone->position_ = position_;
        *copy = clone;
        return S_OK;
    }

private:
    ~MemoryStream() = default;
    std::vector<unsigned char> data_;
    size_t position_ = 0;
};

}  // namespace

HRESULT CreateStreamOnHGlobal(HGLOBAL global, BOOL, LPSTREAM* stream) {
    if (stream == nullptr) return E_INVALIDARG;
    *stream = nullptr;
    if (global != nullptr) return E_INVALIDARG;
    *stream = new MemoryStream();
    return S_OK;
}
