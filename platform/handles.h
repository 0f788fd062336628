// Owning wrappers for every Win32 handle the programs open: registry keys,
// kernel objects, files, find handles and modules. Each closes its handle
// exactly once, cannot be copied, and hands the raw value out only through
// get() (or receive() for a call that fills it in). Shared by the installer,
// the companion uninstaller, the tests and the benchmarks.
#pragma once

#include <windows.h>

namespace win {

template <typename Traits>
class UniqueHandle {
 public:
  using Value = typename Traits::Value;
  UniqueHandle() = default;
  explicit UniqueHandle(Value v) : value_(v) {}
  ~UniqueHandle() { reset(); }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  UniqueHandle(UniqueHandle&& other) noexcept : value_(other.release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other) {
      reset();
      value_ = other.release();
    }
    return *this;
  }

  bool valid() const { return value_ != Traits::invalid(); }
  explicit operator bool() const { return valid(); }
  Value get() const { return value_; }
  // Closes the current handle and returns the slot for a call that fills it.
  Value* receive() {
    reset();
    return &value_;
  }
  Value release() {
    Value v = value_;
    value_ = Traits::invalid();
    return v;
  }
  void reset(Value v = Traits::invalid()) {
    if (value_ != Traits::invalid()) Traits::close(value_);
    value_ = v;
  }
  // Closes the handle and reports whether the close succeeded: a file's
  // delayed write error surfaces here. False when nothing was open.
  bool close() {
    if (value_ == Traits::invalid()) return false;
    bool closed = Traits::close(release());
    return closed;
  }

 private:
  Value value_ = Traits::invalid();
};

struct RegKeyTraits {
  using Value = HKEY;
  static HKEY invalid() { return nullptr; }
  static bool close(HKEY k) { return RegCloseKey(k) == ERROR_SUCCESS; }
};
// Process, thread, event and job handles: null when absent.
struct KernelHandleTraits {
  using Value = HANDLE;
  static HANDLE invalid() { return nullptr; }
  static bool close(HANDLE h) { return CloseHandle(h) != FALSE; }
};
// CreateFile results: INVALID_HANDLE_VALUE when absent.
struct FileHandleTraits {
  using Value = HANDLE;
  static HANDLE invalid() { return INVALID_HANDLE_VALUE; }
  static bool close(HANDLE h) { return CloseHandle(h) != FALSE; }
};
struct FindHandleTraits {
  using Value = HANDLE;
  static HANDLE invalid() { return INVALID_HANDLE_VALUE; }
  static bool close(HANDLE h) { return FindClose(h) != FALSE; }
};
struct ModuleTraits {
  using Value = HMODULE;
  static HMODULE invalid() { return nullptr; }
  static bool close(HMODULE m) { return FreeLibrary(m) != FALSE; }
};

using RegKey = UniqueHandle<RegKeyTraits>;
using KernelHandle = UniqueHandle<KernelHandleTraits>;
using FileHandle = UniqueHandle<FileHandleTraits>;
using FindHandle = UniqueHandle<FindHandleTraits>;
using Module = UniqueHandle<ModuleTraits>;

// Owns one COM interface pointer and releases it on every path out.
template <class T>
class ComRef {
 public:
  ComRef() = default;
  ~ComRef() { reset(); }
  ComRef(const ComRef&) = delete;
  ComRef& operator=(const ComRef&) = delete;

  // For the out-parameter of CoCreateInstance and QueryInterface.
  void** receive() {
    reset();
    return reinterpret_cast<void**>(&ptr_);
  }
  T* get() const { return ptr_; }
  T* operator->() const { return ptr_; }
  explicit operator bool() const { return ptr_ != nullptr; }
  void reset() {
    if (ptr_) ptr_->Release();
    ptr_ = nullptr;
  }

 private:
  T* ptr_ = nullptr;
};

}  // namespace win
