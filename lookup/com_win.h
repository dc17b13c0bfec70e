// Owners for the COM values that the HTTP request uses: interface pointers, automation strings
// and variants. Each releases what it holds on every path out of its scope.
#pragma once

#include <objbase.h>
#include <oleauto.h>

#include <utility>

namespace qinglan {

template <typename Interface>
class ComPtr {
  public:
    ComPtr() = default;
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    ComPtr(ComPtr&& other) noexcept : ptr_(std::exchange(other.ptr_, nullptr)) {}
    ComPtr& operator=(ComPtr&& other) noexcept {
        if (this != &other) {
            reset();
            ptr_ = std::exchange(other.ptr_, nullptr);
        }
        return *this;
    }
    ~ComPtr() { reset(); }

    Interface* get() const { return ptr_; }
    Interface* operator->() const { return ptr_; }
    explicit operator bool() const { return ptr_ != nullptr; }

    // For functions that hand out a new reference through an out parameter.
    Interface** put() {
        reset();
        return &ptr_;
    }
    void** put_void() { return reinterpret_cast<void**>(put()); }

    void reset() {
        if (ptr_ != nullptr) {
            std::exchange(ptr_, nullptr)->Release();
        }
    }

  private:
    Interface* ptr_ = nullptr;
};

class UniqueBstr {
  public:
    UniqueBstr() = default;
    explicit UniqueBstr(BSTR value) : value_(value) {}
    UniqueBstr(const UniqueBstr&) = delete;
    UniqueBstr& operator=(const UniqueBstr&) = delete;
    ~UniqueBstr() { SysFreeString(value_); }

    BSTR get() const { return value_; }

  private:
    BSTR value_ = nullptr;
};

class UniqueVariant {
  public:
    UniqueVariant() { VariantInit(&value_); }
    UniqueVariant(const UniqueVariant&) = delete;
    UniqueVariant& operator=(const UniqueVariant&) = delete;
    ~UniqueVariant() { VariantClear(&value_); }

    VARIANT& get() { return value_; }
    const VARIANT& get() const { return value_; }

  private:
    VARIANT value_;
};

// Keeps a safe array's data locked for as long as it is read.
class SafeArrayDataLock {
  public:
    explicit SafeArrayDataLock(SAFEARRAY* array) : array_(array) {
        if (FAILED(SafeArrayAccessData(array_, &data_))) {
            data_ = nullptr;
        }
    }
    SafeArrayDataLock(const SafeArrayDataLock&) = delete;
    SafeArrayDataLock& operator=(const SafeArrayDataLock&) = delete;
    ~SafeArrayDataLock() {
        if (data_ != nullptr) {
            SafeArrayUnaccessData(array_);
        }
    }

    const void* data() const { return data_; }

  private:
    SAFEARRAY* array_;
    void* data_ = nullptr;
};

}  // namespace qinglan
