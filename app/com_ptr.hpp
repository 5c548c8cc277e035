// Owning holders for COM interface pointers and COM-allocated strings, so
// every Release and CoTaskMemFree happens on every path.
#pragma once

#include <objbase.h>
#include <windows.h>

#include <utility>

namespace vornakite::app {

template <class T>
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

    // Takes over a reference the caller already holds.
    static ComPtr adopt(T* ptr) {
        ComPtr held;
        held.ptr_ = ptr;
        return held;
    }

    T* get() const { return ptr_; }
    T* operator->() const { return ptr_; }
    explicit operator bool() const { return ptr_ != nullptr; }

    // Releases what is held and gives the address for an out parameter.
    T** put() {
        reset();
        return &ptr_;
    }
    void** putVoid() { return reinterpret_cast<void**>(put()); }

    void reset() {
        if (ptr_ != nullptr) {
            std::exchange(ptr_, nullptr)->Release();
        }
    }

  private:
    T* ptr_ = nullptr;
};

// A wide string allocated by COM, freed with CoTaskMemFree.
class CoTaskString {
  public:
    CoTaskString() = default;
    CoTaskString(const CoTaskString&) = delete;
    CoTaskString& operator=(const CoTaskString&) = delete;
    ~CoTaskString() { CoTaskMemFree(text_); }

    const wchar_t* get() const { return text_; }
    PWSTR* put() {
        CoTaskMemFree(std::exchange(text_, nullptr));
        return &text_;
    }

  private:
    PWSTR text_ = nullptr;
};

}  // namespace vornakite::app
