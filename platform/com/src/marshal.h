// Marshaling of arguments: interface pointers (by reference, or by value for objects that implement IMarshal),
// VARIANTs, and whole argument lists as an interface description lays them out.
//
// Interface reference on the wire: u8 tag, then
//   0 null | 1 u64 id, IID: an object the sender exports | 2 u64 id, IID: the receiver's own object coming back
//   3 CLSID, u32 size, bytes: an object by value, rebuilt by the CLSID's IMarshal::UnmarshalInterface
// VARIANT: u16 vt, then the value; arrays (one dimension) as u32 count (0xFFFFFFFF: null array), i32 lower
// bound, elements. Decoding refuses anything malformed with RPC_E_INVALID_DATAPACKET or DISP_E_BADVARTYPE.
#pragma once

#include "connection.h"
#include "interfaces.h"
#include "oaidl.h"
#include "wire.h"

#include <vector>

namespace qv::com {

HRESULT WriteInterface(Connection& c, wire::Writer& w, IUnknown* object, REFIID iid, DWORD apartment);
HRESULT WriteInterface(Connection& c, wire::Writer& w, IUnknown* object, REFIID iid);
HRESULT ReadInterface(Connection& c, wire::Reader& r, REFIID iid, void** object);
HRESULT WriteVariant(Connection& c, wire::Writer& w, const VARIANT& v, int depth = 0);
// `v` must be empty; on failure it stays VT_EMPTY.
HRESULT ReadVariant(Connection& c, wire::Reader& r, VARIANT* v, int depth = 0);

// The callee's side of one call: decoded in-arguments and room for the out-arguments, freed on destruction.
class CallFrame {
public:
    explicit CallFrame(const MethodSpec& method);
    ~CallFrame();
    CallFrame(const CallFrame&) = delete;
    CallFrame& operator=(const CallFrame&) = delete;
    HRESULT DecodeArguments(Connection& c, wire::Reader& r);
    // Writes the out-arguments and gives up what they own.
    HRESULT EncodeResults(Connection& c, wire::Writer& w);
    const uint64_t* argv() const { return argv_.data(); }

private:
    struct Slot;
    const MethodSpec& method_;
    std::vector<uint64_t> argv_;
    std::vector<Slot>* slots_;
};

// The caller's side: writes the in-arguments, reads the out-arguments into the caller's pointers, or empties
// them when the call failed.
HRESULT EncodeArguments(Connection& c, const MethodSpec& method, const uint64_t* argv, wire::Writer& w);
HRESULT DecodeResults(Connection& c, const MethodSpec& method, const uint64_t* argv, wire::Reader& r);
void ClearResults(const MethodSpec& method, const uint64_t* argv);

}  // namespace qv::com
