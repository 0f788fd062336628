// Owning wrappers for the handles the uninstaller opens. Each closes its handle
// exactly once, cannot be copied, and hands the raw value out only through
// get() (or receive() for a call that fills it in).
#pragma once

#include <windows.h>

namespace uninst {

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

 private:
  Value value_ = Traits::invalid();
};

struct RegKeyTraits {
  using Value = HKEY;
  static HKEY invalid() { return nullptr; }
  static void close(HKEY k) { RegCloseKey(k); }
};
// Process, thread and job handles: null when absent.
struct KernelHandleTraits {
  using Value = HANDLE;
  static HANDLE invalid() { return nullptr; }
  static void close(HANDLE h) { CloseHandle(h); }
};
// CreateFile results: INVALID_HANDLE_VALUE when absent.
struct FileHandleTraits {
  using Value = HANDLE;
  static HANDLE invalid() { return INVALID_HANDLE_VALUE; }
  static void close(HANDLE h) { CloseHandle(h); }
};
struct FindHandleTraits {
  using Value = HANDLE;
  static HANDLE invalid() { return INVALID_HANDLE_VALUE; }
  static void close(HANDLE h) { FindClose(h); }
};

using RegKey = UniqueHandle<RegKeyTraits>;
using KernelHandle = UniqueHandle<KernelHandleTraits>;
using FileHandle = UniqueHandle<FileHandleTraits>;
using FindHandle = UniqueHandle<FindHandleTraits>;

}  // namespace uninst
