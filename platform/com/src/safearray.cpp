// SAFEARRAY: descriptor and data in one allocation; BSTR, VARIANT and IUnknown arrays own their elements.

#include "oleauto.h"

#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

namespace {

// Element size for the types an array may hold; 0 for types we do not support.
ULONG ElementSize(VARTYPE vt) {
    switch (vt) {
    case VT_I1:
    case VT_UI1: return 1;
    case VT_I2:
    case VT_UI2:
    case VT_BOOL: return 2;
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
    case VT_R4:
    case VT_ERROR: return 4;
    case VT_I8:
    case VT_UI8:
    case VT_R8:
    case VT_DATE:
    case VT_CY: return 8;
    case VT_BSTR: return sizeof(BSTR);
    case VT_UNKNOWN:
    case VT_DISPATCH: return sizeof(IUnknown*);
    case VT_VARIANT: return sizeof(VARIANT);
    default: return 0;
    }
}

// Where the element type lives: just before the descriptor, as Windows keeps it for FADF_HAVEVARTYPE.
struct Header {
    VARTYPE vt;
    USHORT reserved;
    ULONG reserved2;
};
static_assert(sizeof(Header) == 8);

Header* HeaderOf(SAFEARRAY* array) { return reinterpret_cast<Header*>(array) - 1; }

size_t TotalElements(const SAFEARRAY* array) {
    size_t total = 1;
    for (USHORT d = 0; d < array->cDims; ++d) total *= array->rgsabound[d].cElements;
    return total;
}

// Flat offset of an element; indices[0] is the leftmost (slowest-varying) dimension.
bool FlatIndex(SAFEARRAY* array, const LONG* indices, size_t* flat) {
    size_t index = 0;
    for (USHORT d = 0; d < array->cDims; ++d) {
        // rgsabound is stored rightmost dimension first; indices are given leftmost first.
        const SAFEARRAYBOUND& bound = array->rgsabound[array->cDims - 1 - d];
        int64_t offset = static_cast<int64_t>(indices[d]) - bound.lLbound;
        if (offset < 0 || offset >= static_cast<int64_t>(bound.cElements)) return false;
        index = index * bound.cElements + static_cast<size_t>(offset);
    }
    *flat = index;
    return true;
}

void ReleaseElements(SAFEARRAY* array, size_t from, size_t to) {
    if (array->pvData == nullptr) return;
    for (size_t i = from; i < to; ++i) {
        void* element = static_cast<unsigned char*>(array->pvData) + i * array->cbElements;
        if (array->fFeatures & FADF_BSTR) {
            SysFreeString(*static_cast<BSTR*>(element));
            *static_cast<BSTR*>(element) = nullptr;
        } else if (array->fFeatures & (FADF_UNKNOWN | FADF_DISPATCH)) {
            auto*& unknown = *static_cast<IUnknown**>(element);
            if (unknown != nullptr) unknown->Release();
            unknown = nullptr;
        } else if (array->fFeatures & FADF_VARIANT) {
            VariantClear(static_cast<VARIANT*>(element));
        }
    }
}

// Copies one element into `target` (raw storage of cbElements bytes) as the array's type requires.
HRESULT CopyElement(SAFEARRAY* array, const void* source, void* target) {
    if (array->fFeatures & FADF_BSTR) {
        BSTR text = *static_cast<const BSTR*>(source);
        BSTR copy = text != nullptr ? SysAllocStringLen(text, SysStringLen(text)) : nullptr;
        if (text != nullptr && copy == nullptr) return E_OUTOFMEMORY;
        *static_cast<BSTR*>(target) = copy;
    } else if (array->fFeatures & (FADF_UNKNOWN | FADF_DISPATCH)) {
        IUnknown* unknown = *static_cast<IUnknown* const*>(source);
        if (unknown != nullptr) unknown->AddRef();
        *static_cast<IUnknown**>(target) = unknown;
    } else if (array->fFeatures & FADF_VARIANT) {
        auto* v = static_cast<VARIANT*>(target);
        VariantInit(v);
        return VariantCopy(v, static_cast<const VARIANT*>(source));
    } else {
        std::memcpy(target, source, array->cbElements);
    }
    return S_OK;
}

}  // namespace

SAFEARRAY* SafeArrayCreate(VARTYPE vt, UINT dims, SAFEARRAYBOUND* bounds) {
    ULONG size = ElementSize(vt);
    if (size == 0 || dims == 0 || dims > 0xFFFF || bounds == nullptr) return nullptr;
    size_t descriptor = sizeof(Header) + sizeof(SAFEARRAY) + (dims - 1) * sizeof(SAFEARRAYBOUND);
    auto* block = static_cast<unsigned char*>(std::calloc(1, descriptor));
    if (block == nullptr) return nullptr;
    auto* array = reinterpret_cast<SAFEARRAY*>(block + sizeof(Header));
    HeaderOf(array)->vt = vt;
    array->cDims = static_cast<USHORT>(dims);
    array->cbElements = size;
    array->fFeatures = FADF_HAVEVARTYPE;
    if (vt == VT_BSTR) array->fFeatures |= FADF_BSTR;
    if (vt == VT_UNKNOWN) array->fFeatures |= FADF_UNKNOWN;
    if (vt == VT_DISPATCH) array->fFeatures |= FADF_DISPATCH;
    if (vt == VT_VARIANT) array->fFeatures |= FADF_VARIANT;
    // Bounds arrive leftmost first and are stored rightmost first.
    size_t total = 1;
    for (UINT d = 0; d < dims; ++d) {
        array->rgsabound[dims - 1 - d] = bounds[d];
        if (bounds[d].cElements != 0 && total > std::numeric_limits<size_t>::max() / bounds[d].cElements) {
            std::free(block);
            return nullptr;
        }
        total *= bounds[d].cElements;
    }
    if (total > (size_t{1} << 31) / size) {
        std::free(block);
        return nullptr;
    }
    if (total > 0) {
        array->pvData = std::calloc(total, size);
        if (array->pvData == nullptr) {
            std::free(block);
            return nullptr;
        }
    }
    return array;
}

SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lowerBound, ULONG elements) {
    SAFEARRAYBOUND bound{elements, lowerBound};
    return SafeArrayCreate(vt, 1, &bound);
}

HRESULT SafeArrayDestroy(SAFEARRAY* array) {
    if (array == nullptr) return S_OK;
    if (array->cLocks > 0) return DISP_E_ARRAYISLOCKED;
    ReleaseElements(array, 0, TotalElements(array));
    std::free(array->pvData);
    std::free(HeaderOf(array));
    return S_OK;
}

HRESULT SafeArrayCopy(SAFEARRAY* source, SAFEARRAY** copy) {
    if (copy == nullptr) return E_INVALIDARG;
    *copy = nullptr;
    if (source == nullptr) return S_OK;
    SAFEARRAYBOUND bounds[64];
    if (source->cDims > 64) return E_INVALIDARG;
    for (USHORT d = 0; d < source->cDims; ++d) bounds[d] = source->rgsabound[source->cDims - 1 - d];
    SAFEARRAY* result = SafeArrayCreate(HeaderOf(source)->vt, source->cDims, bounds);
    if (result == nullptr) return E_OUTOFMEMORY;
    size_t total = TotalElements(source);
    for (size_t i = 0; i < total; ++i) {
        HRESULT hr = CopyElement(result, static_cast<unsigned char*>(source->pvData) + i * source->cbElements,
                                 static_cast<unsigned char*>(result->pvData) + i * result->cbElements);
        if (FAILED(hr)) {
            SafeArrayDestroy(result);
            return hr;
        }
    }
    *copy = result;
    return S_OK;
}

UINT SafeArrayGetDim(SAFEARRAY* array) { return array == nullptr ? 0 : array->cDims; }
UINT SafeArrayGetElemsize(SAFEARRAY* array) { return array == nullptr ? 0 : array->cbElements; }

HRESULT SafeArrayGetLBound(SAFEARRAY* array, UINT dim, LONG* bound) {
    if (array == nullptr || bound == nullptr) return E_INVALIDARG;
    if (dim < 1 || dim > array->cDims) return DISP_E_BADINDEX;
    *bound = array->rgsabound[array->cDims - dim].lLbound;
    return S_OK;
}

HRESULT SafeArrayGetUBound(SAFEARRAY* array, UINT dim, LONG* bound) {
    if (array == nullptr || bound == nullptr) return E_INVALIDARG;
    if (dim < 1 || dim > array->cDims) return DISP_E_BADINDEX;
    const SAFEARRAYBOUND& b = array->rgsabound[array->cDims - dim];
    *bound = static_cast<LONG>(b.lLbound + static_cast<int64_t>(b.cElements) - 1);
    return S_OK;
}

HRESULT SafeArrayGetVartype(SAFEARRAY* array, VARTYPE* vt) {
    if (array == nullptr || vt == nullptr) return E_INVALIDARG;
    *vt = HeaderOf(array)->vt;
    return S_OK;
}

HRESULT SafeArrayLock(SAFEARRAY* array) {
    if (array == nullptr) return E_INVALIDARG;
    ++array->cLocks;
    return S_OK;
}

HRESULT SafeArrayUnlock(SAFEARRAY* array) {
    if (array == nullptr) return E_INVALIDARG;
    if (array->cLocks == 0) return E_UNEXPECTED;
    --array->cLocks;
    return S_OK;
}

HRESULT SafeArrayAccessData(SAFEARRAY* array, void** data) {
    if (array == nullptr || data == nullptr) return E_INVALIDARG;
    ++array->cLocks;
    *data = array->pvData;
    return S_OK;
}

HRESULT SafeArrayUnaccessData(SAFEARRAY* array) { return SafeArrayUnlock(array); }

HRESULT SafeArrayPutElement(SAFEARRAY* array, LONG* indices, void* value) {
    if (array == nullptr || indices == nullptr) return E_INVALIDARG;
    size_t flat;
    if (!FlatIndex(array, indices, &flat)) return DISP_E_BADINDEX;
    void* element = static_cast<unsigned char*>(array->pvData) + flat * array->cbElements;
    // Pointer-like arrays receive the pointer itself (a BSTR, IUnknown*); VARIANT arrays a VARIANT*.
    const void* source = value;
    BSTR text = nullptr;
    IUnknown* unknown = nullptr;
    if (array->fFeatures & FADF_BSTR) {
        text = static_cast<BSTR>(value);
        source = &text;
    } else if (array->fFeatures & (FADF_UNKNOWN | FADF_DISPATCH)) {
        unknown = static_cast<IUnknown*>(value);
        source = &unknown;
    } else if (value == nullptr) {
        return E_INVALIDARG;
    }
    unsigned char fresh[sizeof(VARIANT)];
    HRESULT hr = CopyElement(array, source, fresh);
    if (FAILED(hr)) return hr;
    ReleaseElements(array, flat, flat + 1);
    std::memcpy(element, fresh, array->cbElements);
    return S_OK;
}

HRESULT SafeArrayGetElement(SAFEARRAY* array, LONG* indices, void* value) {
    if (array == nullptr || indices == nullptr || value == nullptr) return E_INVALIDARG;
    size_t flat;
    if (!FlatIndex(array, indices, &flat)) return DISP_E_BADINDEX;
    return CopyElement(array, static_cast<unsigned char*>(array->pvData) + flat * array->cbElements, value);
}

HRESULT SafeArrayRedim(SAFEARRAY* array, SAFEARRAYBOUND* newBound) {
    if (array == nullptr || newBound == nullptr) return E_INVALIDARG;
    if (array->cLocks > 0) return DISP_E_ARRAYISLOCKED;
    // Only the leftmost dimension changes, which is the last stored bound.
    SAFEARRAYBOUND& bound = array->rgsabound[array->cDims - 1];
    size_t inner = TotalElements(array) / (bound.cElements == 0 ? 1 : bound.cElements);
    if (bound.cElements == 0) {
        inner = 1;
        for (USHORT d = 0; d + 1 < array->cDims; ++d) inner *= array->rgsabound[d].cElements;
    }
    size_t old_total = inner * bound.cElements;
    size_t new_total = inner * newBound->cElements;
    if (new_total > (size_t{1} << 31) / array->cbElements) return E_OUTOFMEMORY;
    if (new_total < old_total) ReleaseElements(array, new_total, old_total);
    void* data = new_total == 0 ? nullptr : std::realloc(array->pvData, new_total * array->cbElements);
    if (new_total != 0 && data == nullptr) return E_OUTOFMEMORY;
    if (new_total == 0) std::free(array->pvData);
    if (new_total > old_total)
        std::memset(static_cast<unsigned char*>(data) + old_total * array->cbElements, 0,
                    (new_total - old_total) * array->cbElements);
    array->pvData = data;
    bound = *newBound;
    return S_OK;
}
