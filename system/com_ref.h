// Owns one COM interface pointer and releases it on every path out.
#pragma once

template <class T>
class ComRef {
 public:
  ComRef() = default;
  ~ComRef() {
    if (ptr_) ptr_->Release();
  }
  ComRef(const ComRef&) = delete;
  ComRef& operator=(const ComRef&) = delete;

  // For the out-parameter of CoCreateInstance and QueryInterface.
  void** receive() { return reinterpret_cast<void**>(&ptr_); }
  T* operator->() const { return ptr_; }
  explicit operator bool() const { return ptr_ != nullptr; }

 private:
  T* ptr_ = nullptr;
};
