// The message format of cross-process calls, and bounds-checked readers and writers for message bodies.
//
// Every message is a 40-byte header followed by `body_size` bytes, all little-endian:
//   u32 magic "QVMC" | u8 kind | u8 reserved[3] | u32 body_size | u32 method_or_result
//   u64 call_id | u64 object_id | u64 causality
// A call names the object (exported by the receiver) and the method slot; its body starts with the IID of the
// interface and carries the arguments. A reply carries the call's id, the HRESULT in method_or_result, and the
// out arguments. A release returns references: its body is u32 count.
#pragma once

#include "guiddef.h"
#include "windef.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qv::com::wire {

constexpr uint32_t kMagic = 0x434D5651;  // "QVMC"
constexpr size_t kHeaderSize = 40;
constexpr uint32_t kMaxBody = 64u << 20;

enum class Kind : uint8_t { kCall = 1, kReply = 2, kRelease = 3 };

struct Header {
    Kind kind = Kind::kCall;
    uint32_t body_size = 0;
    uint32_t method = 0;  // the slot for a call, the HRESULT for a reply
    uint64_t call_id = 0;
    uint64_t object_id = 0;
    uint64_t causality = 0;
};

void EncodeHeader(const Header& header, uint8_t out[kHeaderSize]);
// False for a wrong magic, an unknown kind or a body larger than kMaxBody.
bool DecodeHeader(const uint8_t* data, size_t size, Header* header);

class Writer {
public:
    void U8(uint8_t v) { bytes_.push_back(v); }
    void U16(uint16_t v) { Raw(&v, 2); }
    void U32(uint32_t v) { Raw(&v, 4); }
    void U64(uint64_t v) { Raw(&v, 8); }
    void Guid(const GUID& g);
    // A nullable wide string: u32 length+1 (0 = null), then the characters as u32 each.
    void String(const wchar_t* text, size_t length);
    void String(const wchar_t* text);
    void Bytes(const void* data, size_t size);  // u32 size, then the bytes
    void Raw(const void* data, size_t size);
    std::vector<uint8_t>& bytes() { return bytes_; }

private:
    std::vector<uint8_t> bytes_;
};

// Every read fails (returns false) once the data runs out, and stays failed.
class Reader {
public:
    Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    bool U8(uint8_t* v) { return Raw(v, 1); }
    bool U16(uint16_t* v) { return Raw(v, 2); }
    bool U32(uint32_t* v) { return Raw(v, 4); }
    bool U64(uint64_t* v) { return Raw(v, 8); }
    bool Guid(GUID* g);
    // `present` false for a null string.
    bool String(std::wstring* text, bool* present);
    bool Bytes(std::vector<uint8_t>* bytes);
    bool Raw(void* out, size_t size);
    size_t remaining() const { return ok_ ? size_ - offset_ : 0; }
    bool ok() const { return ok_; }
    bool Fail() { return ok_ = false; }

private:
    const uint8_t* data_;
    size_t size_;
    size_t offset_ = 0;
    bool ok_ = true;
};

}  // namespace qv::com::wire
