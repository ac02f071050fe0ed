// Message framing.

#include "wire.h"

#include <cstring>

namespace qv::com::wire {

void EncodeHeader(const Header& h, uint8_t out[kHeaderSize]) {
    std::memset(out, 0, kHeaderSize);
    std::memcpy(out, &kMagic, 4);
    out[4] = static_cast<uint8_t>(h.kind);
    std::memcpy(out + 8, &h.body_size, 4);
    std::memcpy(out + 12, &h.method, 4);
    std::memcpy(out + 16, &h.call_id, 8);
    std::memcpy(out + 24, &h.object_id, 8);
    std::memcpy(out + 32, &h.causality, 8);
}

bool DecodeHeader(const uint8_t* data, size_t size, Header* h) {
    if (data == nullptr || size < kHeaderSize) return false;
    uint32_t magic = 0;
    std::memcpy(&magic, data, 4);
    if (magic != kMagic) return false;
    if (data[4] < static_cast<uint8_t>(Kind::kCall) || data[4] > static_cast<uint8_t>(Kind::kRelease)) return false;
    h->kind = static_cast<Kind>(data[4]);
    std::memcpy(&h->body_size, data + 8, 4);
    std::memcpy(&h->method, data + 12, 4);
    std::memcpy(&h->call_id, data + 16, 8);
    std::memcpy(&h->object_id, data + 24, 8);
    std::memcpy(&h->causality, data + 32, 8);
    return h->body_size <= kMaxBody;
}

void Writer::Raw(const void* data, size_t size) {
    auto* p = static_cast<const uint8_t*>(data);
    bytes_.insert(bytes_.end(), p, p + size);
}

void Writer::Guid(const GUID& g) {
    U32(g.Data1);
    U16(g.Data2);
    U16(g.Data3);
    Raw(g.Data4, 8);
}

void Writer::String(const wchar_t* text, size_t length) {
    if (text == nullptr) {
        U32(0);
        return;
    }
    U32(static_cast<uint32_t>(length + 1));
    for (size_t i = 0; i < length; ++i) U32(static_cast<uint32_t>(text[i]));
}

void Writer::String(const wchar_t* text) { String(text, text != nullptr ? std::wcslen(text) : 0); }

void Writer::Bytes(const void* data, size_t size) {
    U32(static_cast<uint32_t>(size));
    Raw(data, size);
}

bool Reader::Raw(void* out, size_t size) {
    if (!ok_ || size > size_ - offset_) return Fail();
    if (size != 0) std::memcpy(out, data_ + offset_, size);
    offset_ += size;
    return true;
}

bool Reader::Guid(GUID* g) { return U32(&g->Data1) && U16(&g->Data2) && U16(&g->Data3) && Raw(g->Data4, 8); }

bool Reader::String(std::wstring* text, bool* present) {
    uint32_t count = 0;
    if (!U32(&count)) return false;
    *present = count != 0;
    text->clear();
    if (count == 0) return true;
    size_t length = count - 1;
    if (length > remaining() / 4) return Fail();
    text->resize(length);
    for (size_t i = 0; i < length; ++i) {
        uint32_t c = 0;
        U32(&c);
        if (c > 0x10FFFF) return Fail();
        (*text)[i] = static_cast<wchar_t>(c);
    }
    return ok_;
}

bool Reader::Bytes(std::vector<uint8_t>* bytes) {
    uint32_t size = 0;
    if (!U32(&size)) return false;
    if (size > remaining()) return Fail();
    bytes->resize(size);
    return Raw(bytes->data(), size);
}

}  // namespace qv::com::wire
