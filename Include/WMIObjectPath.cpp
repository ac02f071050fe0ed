// Ownership of key values and the key-name order.

#include "WMIObjectPath.h"

#include "windows.h"

#include <cwchar>
#include <new>
#include <utility>

WMIPathKey::WMIPathKey(std::optional<std::wstring> name, VARIANT* value) : name_(std::move(name)) {
    value_.Attach(value);
}

WMIPathKey::WMIPathKey(const WMIPathKey& other) : name_(other.name_) {
    if (FAILED(value_.Copy(&other.value_))) throw std::bad_alloc();
}

WMIPathKey::WMIPathKey(WMIPathKey&& other) noexcept : name_(std::move(other.name_)), value_(std::move(other.value_)) {}

WMIPathKey& WMIPathKey::operator=(WMIPathKey other) noexcept {
    std::swap(name_, other.name_);
    std::swap(value_, other.value_);
    return *this;
}

bool WMIPathKey::operator==(const WMIPathKey& other) const {
    if (name_ != other.name_ || value_.vt != other.value_.vt) return false;
    switch (value_.vt) {
    case VT_EMPTY:
    case VT_NULL: return true;
    case VT_I4: return value_.lVal == other.value_.lVal;
    case VT_BSTR: {
        UINT length = SysStringLen(value_.bstrVal);
        return length == SysStringLen(other.value_.bstrVal) &&
               (length == 0 || std::wmemcmp(value_.bstrVal, other.value_.bstrVal, length) == 0);
    }
    default: return value_.llVal == other.value_.llVal;
    }
}

int CompareKeyNames(const std::wstring& a, const std::wstring& b) {
    std::wstring lowerA = a;
    std::wstring lowerB = b;
    CharLowerBuffW(lowerA.data(), static_cast<DWORD>(lowerA.size()));
    CharLowerBuffW(lowerB.data(), static_cast<DWORD>(lowerB.size()));
    return lowerA.compare(lowerB) < 0 ? -1 : (lowerA == lowerB ? 0 : 1);
}
