#include "payload/payload_check.h"

#include <algorithm>
#include <memory>
#include <new>

#include "payload/file_extractor_impl.h"

namespace {

// The worker's result for an extractor that cannot read its catalogue.
constexpr int kCatalogueUnreadable = 4;

}  // namespace

int checkPayload(HMODULE module) {
  // An extractor of its own: the worker's (getFileExtractor) may be in use
  // later on another thread, and this one reports to nobody.
  std::unique_ptr<FileExtractorImpl> extractor(new (std::nothrow) FileExtractorImpl());
  if (!extractor || !extractor->init(module, nullptr)) return kCatalogueUnreadable;
  // Payload order (chunk, then offset): each chunk is read once, from the
  // first to the last, and the first failure found is the one an
  // installation, which extracts in the same order, would meet first.
  // Entries at one place keep their index (name) order: the position in the
  // index breaks the tie, which a plain sort needs no buffer for.
  struct Placed {
    const CatalogueEntry* entry;
    size_t position;
  };
  const size_t count = extractor->index().size();
  std::unique_ptr<Placed[]> entries(new (std::nothrow) Placed[count]);
  if (!entries) return toInt(ExtractResult::InflateInitFailed);
  size_t placed = 0;
  for (const auto& named : extractor->index()) {
    entries[placed] = Placed{&named.second, placed};
    ++placed;
  }
  std::sort(entries.get(), entries.get() + count, [](const Placed& a, const Placed& b) {
    if (a.entry->chunkId != b.entry->chunkId) return a.entry->chunkId < b.entry->chunkId;
    if (a.entry->offset != b.entry->offset) return a.entry->offset < b.entry->offset;
    return a.position < b.position;
  });
  for (size_t i = 0; i < count; ++i) {
    const ExtractResult result = extractor->checkStream(*entries[i].entry);
    if (result != ExtractResult::Ok) return toInt(result);
  }
  return 0;
}

PayloadCheck::~PayloadCheck() {
  if (thread_) WaitForSingleObject(thread_.get(), INFINITE);
}

void PayloadCheck::start(HMODULE module) {
  if (module_ != nullptr) return;
  module_ = module;
  thread_.reset(CreateThread(nullptr, 0, run, this, 0, nullptr));
}

DWORD WINAPI PayloadCheck::run(LPVOID self) {
  auto* check = static_cast<PayloadCheck*>(self);
  InterlockedExchange(&check->result_, checkPayload(check->module_));
  return 0;
}

int PayloadCheck::result(HMODULE module) {
  if (module == nullptr || module != module_ || !thread_) return checkPayload(module);
  HANDLE thread = thread_.get();
  bool quit = false;
  int quitCode = 0;
  // The caller's windows go on being drawn and its posted messages handled.
  while (MsgWaitForMultipleObjectsEx(1, &thread, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE) != WAIT_OBJECT_0) {
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (message.message == WM_QUIT) {
        quit = true;
        quitCode = static_cast<int>(message.wParam);
        continue;
      }
      TranslateMessage(&message);
      DispatchMessageA(&message);
    }
  }
  if (quit) PostQuitMessage(quitCode);
  return static_cast<int>(InterlockedCompareExchange(&result_, 0, 0));
}

PayloadCheck& payloadCheck() {
  // Never destroyed: the program may end (Cancel on the first page) while
  // the check still runs, and its end should not wait for it.
  static PayloadCheck* const check = new PayloadCheck();
  return *check;
}
