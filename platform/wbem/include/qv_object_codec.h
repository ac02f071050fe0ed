// Binary form of CIM classes and instances: what the repository stores and what crosses processes when a
// WMI object travels by value.
//
// Layout (little-endian): "QVCO", a version byte (1), then the object:
//   object    := genus:u8 className:str superclass:str derivation:list<str> nameSpace:str server:str
//                qualifiers:list<qualifier> properties:list<property> methods:list<method>
//   qualifier := name:str flavor:i32 value
//   property  := name:str type:i32 origin:str value qualifiers:list<qualifier>
//   method    := name:str origin:str qualifiers:list<qualifier> in:optobject out:optobject
//   value     := type:i32 null:u8 list<element>      element := tag:u8 payload (tag matches the type)
//   str       := count:u32 then count UTF-32 code units (u32 each)
//   list<T>   := count:u32 then count T;   optobject := present:u8 [object]
// Decoding checks every length against the bytes left, every tag against the declared type, nesting depth
// (at most 16 objects deep) and the trailing bytes; anything else is refused with WBEM_E_INVALID_STREAM and
// leaves *out untouched.
#pragma once

#include "qv_cim_object.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace qv::wbem {

std::vector<uint8_t> EncodeObject(const CimObject& object);

HRESULT DecodeObject(const uint8_t* data, size_t size, CimObject* out);

}  // namespace qv::wbem
