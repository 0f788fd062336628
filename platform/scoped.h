// Scoped owners of what a handle wrapper (handles.h) does not cover: a file
// deleted unless kept, COM task memory, a BSTR of the system's oleaut32. Each
// frees or undoes on every way out and cannot be copied.
#pragma once

#include <windows.h>

#include <objbase.h>
#include <oleauto.h>

#include <string>

#include "platform/dll_search.h"
#include "platform/handles.h"
#include "platform/held_folder.h"

namespace win {

// Deletes an open file through its handle when it goes out of scope, unless
// kept: a file of ours (new, or checked to be an ordinary one), never a name
// looked up again.
class DeleteUnlessKept {
 public:
  explicit DeleteUnlessKept(const FileHandle& file) : file_(file) {}
  ~DeleteUnlessKept() {
    if (armed_ && file_.valid()) deleteOnClose(file_.get());
  }
  DeleteUnlessKept(const DeleteUnlessKept&) = delete;
  DeleteUnlessKept& operator=(const DeleteUnlessKept&) = delete;
  void keep() { armed_ = false; }

 private:
  const FileHandle& file_;
  bool armed_ = true;
};

// Memory the system hands over to be freed with the COM allocator (the item
// list of the folder browser).
template <typename T>
struct TaskMemoryTraits {
  using Value = T*;
  static T* invalid() { return nullptr; }
  static bool close(T* memory) {
    CoTaskMemFree(memory);
    return true;
  }
};
template <typename T>
using TaskMemory = UniqueHandle<TaskMemoryTraits<T>>;

// A BSTR, from oleaut32 of the system folder (setup.exe does not import it).
// get() is null when the library or its functions are missing.
class Bstr {
 public:
  using AllocFn = BSTR(WINAPI*)(const OLECHAR*);
  using FreeFn = void(WINAPI*)(BSTR);
  Bstr(const SystemLibrary& oleaut, const std::wstring& text) : free_(oleaut.function<FreeFn>("SysFreeString")) {
    AllocFn alloc = oleaut.function<AllocFn>("SysAllocString");
    if (alloc != nullptr && free_ != nullptr) value_ = alloc(text.c_str());
  }
  ~Bstr() {
    if (value_ != nullptr) free_(value_);
  }
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  BSTR get() const { return value_; }

 private:
  FreeFn free_;
  BSTR value_ = nullptr;
};

}  // namespace win
