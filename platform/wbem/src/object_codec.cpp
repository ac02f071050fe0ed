// Encoding and bounds-checked decoding of CIM objects.
#include "qv_object_codec.h"

#include <cstring>

namespace qv::wbem {

namespace {

constexpr uint8_t kMagic[4] = {'Q', 'V', 'C', 'O'};
constexpr uint8_t kVersion = 1;
constexpr int kMaxDepth = 16;

enum Tag : uint8_t { kBool = 1, kSint = 2, kUint = 3, kReal = 4, kText = 5, kObject = 6 };

Tag TagFor(CIMTYPE type) {
    switch (type & ~CIM_FLAG_ARRAY) {
    case CIM_BOOLEAN: return kBool;
    case CIM_SINT8:
    case CIM_SINT16:
    case CIM_SINT32:
    case CIM_SINT64: return kSint;
    case CIM_REAL32:
    case CIM_REAL64: return kReal;
    case CIM_STRING:
    case CIM_DATETIME:
    case CIM_REFERENCE: return kText;
    case CIM_OBJECT: return kObject;
    default: return kUint;
    }
}

class Writer {
public:
    std::vector<uint8_t> bytes;

    void U8(uint8_t v) { bytes.push_back(v); }
    void U32(uint32_t v) {
        for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<uint8_t>(v >> (8 * i)));
    }
    void U64(uint64_t v) {
        for (int i = 0; i < 8; ++i) bytes.push_back(static_cast<uint8_t>(v >> (8 * i)));
    }
    void Str(const std::wstring& s) {
        U32(static_cast<uint32_t>(s.size()));
        size_t at = bytes.size();
        bytes.resize(at + 4 * s.size());
        uint8_t* out = bytes.data() + at;
        for (wchar_t c : s) {
            auto v = static_cast<uint32_t>(c);
            out[0] = static_cast<uint8_t>(v);
            out[1] = static_cast<uint8_t>(v >> 8);
            out[2] = static_cast<uint8_t>(v >> 16);
            out[3] = static_cast<uint8_t>(v >> 24);
            out += 4;
        }
    }
    void Value(const CimValue& v) {
        U32(static_cast<uint32_t>(v.type));
        U8(v.null ? 1 : 0);
        U32(static_cast<uint32_t>(v.elements.size()));
        for (const CimScalar& e : v.elements) {
            if (auto* b = std::get_if<bool>(&e)) {
                U8(kBool);
                U8(*b ? 1 : 0);
            } else if (auto* i = std::get_if<int64_t>(&e)) {
                U8(kSint);
                U64(static_cast<uint64_t>(*i));
            } else if (auto* u = std::get_if<uint64_t>(&e)) {
                U8(kUint);
                U64(*u);
            } else if (auto* d = std::get_if<double>(&e)) {
                uint64_t bits;
                std::memcpy(&bits, d, sizeof bits);
                U8(kReal);
                U64(bits);
            } else if (auto* s = std::get_if<std::wstring>(&e)) {
                U8(kText);
                Str(*s);
            } else {
                const auto& o = std::get<std::shared_ptr<CimObject>>(e);
                U8(kObject);
                OptObject(o.get());
            }
        }
    }
    void Qualifiers(const QualifierList& list) {
        U32(static_cast<uint32_t>(list.size()));
        for (const Qualifier& q : list) {
            Str(q.name);
            U32(static_cast<uint32_t>(q.flavor));
            Value(q.value);
        }
    }
    void OptObject(const CimObject* o) {
        U8(o ? 1 : 0);
        if (o) Object(*o);
    }
    void Object(const CimObject& o) {
        U8(static_cast<uint8_t>(o.genus));
        Str(o.className);
        Str(o.superclass);
        U32(static_cast<uint32_t>(o.derivation.size()));
        for (const auto& d : o.derivation) Str(d);
        Str(o.nameSpace);
        Str(o.server);
        Qualifiers(o.qualifiers);
        U32(static_cast<uint32_t>(o.properties.size()));
        for (const Property& p : o.properties) {
            Str(p.name);
            U32(static_cast<uint32_t>(p.type));
            Str(p.origin);
            Value(p.value);
            Qualifiers(p.qualifiers);
        }
        U32(static_cast<uint32_t>(o.methods.size()));
        for (const Method& m : o.methods) {
            Str(m.name);
            Str(m.origin);
            Qualifiers(m.qualifiers);
            OptObject(m.in.get());
            OptObject(m.out.get());
        }
    }
};

class Reader {
public:
    Reader(const uint8_t* data, size_t size) : p_(data), left_(size) {}
    bool Done() const { return left_ == 0; }

    bool U8(uint8_t* v) {
        if (left_ < 1) return false;
        *v = *p_++;
        --left_;
        return true;
    }
    bool U32(uint32_t* v) {
        if (left_ < 4) return false;
        *v = 0;
        for (int i = 0; i < 4; ++i) *v |= static_cast<uint32_t>(p_[i]) << (8 * i);
        p_ += 4;
        left_ -= 4;
        return true;
    }
    bool U64(uint64_t* v) {
        if (left_ < 8) return false;
        *v = 0;
        for (int i = 0; i < 8; ++i) *v |= static_cast<uint64_t>(p_[i]) << (8 * i);
        p_ += 8;
        left_ -= 8;
        return true;
    }
    // A count of items each at least `minimum` bytes long: refused when the rest cannot hold them.
    bool Count(uint32_t* n, size_t minimum) { return U32(n) && *n <= left_ / minimum; }
    bool Str(std::wstring* s) {
        uint32_t n;
        if (!Count(&n, 4)) return false;
        // Count() has checked that the 4 * n bytes are there.
        s->resize(n);
        wchar_t* out = s->data();
        for (uint32_t i = 0; i < n; ++i, p_ += 4) {
            uint32_t c = p_[0] | (p_[1] << 8) | (p_[2] << 16) | (static_cast<uint32_t>(p_[3]) << 24);
            if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return false;
            out[i] = static_cast<wchar_t>(c);
        }
        left_ -= 4 * static_cast<size_t>(n);
        return true;
    }
    bool Type(CIMTYPE* t) {
        uint32_t raw;
        if (!U32(&raw)) return false;
        *t = static_cast<CIMTYPE>(raw);
        if (*t & ~(CIM_FLAG_ARRAY | 0xFFF)) return false;
        return CimTypeKeyword(*t) != nullptr;
    }
    bool Value(CimValue* v, int depth) {
        uint8_t null;
        uint32_t n;
        if (!Type(&v->type) || !U8(&null) || null > 1 || !Count(&n, 2)) return false;
        v->null = null != 0;
        if (v->null ? n != 0 : (!v->IsArray() && n != 1)) return false;
        Tag expected = TagFor(v->type);
        v->elements.clear();
        v->elements.reserve(n);
        for (uint32_t i = 0; i < n; ++i) {
            uint8_t tag;
            if (!U8(&tag) || tag != expected) return false;
            uint64_t raw;
            switch (tag) {
            case kBool: {
                uint8_t b;
                if (!U8(&b) || b > 1) return false;
                v->elements.emplace_back(std::in_place_type<bool>, b != 0);
                break;
            }
            case kSint:
                if (!U64(&raw)) return false;
                v->elements.emplace_back(std::in_place_type<int64_t>, static_cast<int64_t>(raw));
                break;
            case kUint:
                if (!U64(&raw)) return false;
                v->elements.emplace_back(std::in_place_type<uint64_t>, raw);
                break;
            case kReal: {
                if (!U64(&raw)) return false;
                double d;
                std::memcpy(&d, &raw, sizeof d);
                v->elements.emplace_back(std::in_place_type<double>, d);
                break;
            }
            case kText: {
                std::wstring s;
                if (!Str(&s)) return false;
                v->elements.emplace_back(std::in_place_type<std::wstring>, std::move(s));
                break;
            }
            default: {
                std::shared_ptr<CimObject> o;
                if (!OptObject(&o, depth + 1)) return false;
                v->elements.emplace_back(std::in_place_type<std::shared_ptr<CimObject>>, std::move(o));
            }
            }
        }
        return true;
    }
    bool Qualifiers(QualifierList* list, int depth) {
        uint32_t n;
        if (!Count(&n, 13)) return false;
        list->resize(n);
        for (Qualifier& q : *list) {
            uint32_t flavor;
            if (!Str(&q.name) || !U32(&flavor) || !Value(&q.value, depth)) return false;
            q.flavor = static_cast<LONG>(flavor);
        }
        return true;
    }
    bool OptObject(std::shared_ptr<CimObject>* o, int depth) {
        uint8_t present;
        if (!U8(&present) || present > 1) return false;
        if (!present) {
            o->reset();
            return true;
        }
        auto object = std::make_shared<CimObject>();
        if (!Object(object.get(), depth)) return false;
        *o = std::move(object);
        return true;
    }
    bool Object(CimObject* o, int depth) {
        if (depth > kMaxDepth) return false;
        uint8_t genus;
        uint32_t n;
        if (!U8(&genus) || (genus != WBEM_GENUS_CLASS && genus != WBEM_GENUS_INSTANCE)) return false;
        o->genus = genus;
        if (!Str(&o->className) || !Str(&o->superclass) || !Count(&n, 4)) return false;
        o->derivation.resize(n);
        for (auto& d : o->derivation)
            if (!Str(&d)) return false;
        if (!Str(&o->nameSpace) || !Str(&o->server) || !Qualifiers(&o->qualifiers, depth)) return false;
        if (!Count(&n, 17)) return false;
        o->properties.resize(n);
        for (Property& p : o->properties) {
            if (!Str(&p.name) || !Type(&p.type) || !Str(&p.origin) || !Value(&p.value, depth) ||
                !Qualifiers(&p.qualifiers, depth))
                return false;
            if (p.value.type != p.type) return false;
        }
        if (!Count(&n, 14)) return false;
        o->methods.resize(n);
        for (Method& m : o->methods) {
            if (!Str(&m.name) || !Str(&m.origin) || !Qualifiers(&m.qualifiers, depth) || !OptObject(&m.in, depth + 1) ||
                !OptObject(&m.out, depth + 1))
                return false;
        }
        return true;
    }

private:
    const uint8_t* p_;
    size_t left_;
};

}  // namespace

std::vector<uint8_t> EncodeObject(const CimObject& object) {
    Writer w;
    w.bytes.reserve(4096);
    w.bytes.assign(kMagic, kMagic + 4);
    w.U8(kVersion);
    w.Object(object);
    return std::move(w.bytes);
}

HRESULT DecodeObject(const uint8_t* data, size_t size, CimObject* out) {
    if (!data || size < 5 || std::memcmp(data, kMagic, 4) != 0 || data[4] != kVersion) return WBEM_E_INVALID_STREAM;
    Reader r(data + 5, size - 5);
    CimObject object;
    if (!r.Object(&object, 0) || !r.Done()) return WBEM_E_INVALID_STREAM;
    *out = std::move(object);
    return S_OK;
}

}  // namespace qv::wbem
