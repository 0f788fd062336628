// Linked into every C++ program that ships (cmake/TLShip.cmake, RUNTIME), ahead
// of the static C++ runtime, so that the linker takes these definitions and
// leaves the runtime's own out. Each keeps the behaviour the programs rely on
// and removes something they must not carry:
//
// - The few thread functions the runtime's exception support calls
//   (pthread_once, pthread_mutex_*, pthread_key_create and
//   pthread_[gs]etspecific for its per-thread state), and the guards of function statics
//   (__cxa_guard_*), on Win32 critical sections and interlocked operations.
//   The runtime's own come from winpthreads, about 35 KB in all, which also
//   imports GetTickCount64: Windows XP lacks it, and its loader would refuse
//   to start the program. Function statics stay once-only under concurrent
//   first calls (the version.dll forwarders rely on it).
// - The terminate handler. The runtime's default prints the uncaught
//   exception's demangled type to stderr, which a GUI program does not have,
//   and brings in the demangler (about 47 KB). This one aborts, as the
//   default does after printing.
// - operator new and delete. The programs are built without exceptions and
//   throw none: where an allocation may fail softly they ask for it with
//   std::nothrow, and the nothrow forms here give null. The throwing forms end
//   the program when there is no memory, as an uncaught std::bad_alloc ended
//   it through the handler above; the runtime's own throw it, which would
//   bring in the exception machinery and the unwinder (about 70 KB with the
//   unwind tables the programs no longer need).
// - The runtime's throw helpers (std::__throw_length_error,
//   __throw_bad_alloc ...), which the library's templates call on a misuse
//   (a length past max_size, say) or an impossible size. They end the program
//   the same way (std::function's __throw_bad_function_call too). Their
//   exception classes would bring in a second std::string
//   implementation (about 45 KB) besides the throwing. All of the library's
//   object that defines them is replaced, so that it is never linked.
//
// - zlib's crc32. The programs inflate zlib streams only (inflateInit_, never
//   inflateInit2_ with gzip's window bits), which zlib checks with adler32;
//   crc32 serves gzip streams alone, yet inflate names it, and its tables
//   weigh 8 KB. Should anything call it, the program ends rather than
//   accept a stream unchecked.
//
// A program linked with this file must not use std::thread or any other
// pthread function: the linker would then bring winpthreads back, and its
// definitions would clash with these.
#include <windows.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <new>


// ---------------------------------------------------------------- threads

namespace {

// pthread_mutex_t is a pointer-sized value: a CRITICAL_SECTION made by
// pthread_mutex_init or on first lock, or the static initialiser (-1).
const std::intptr_t kStaticMutex = -1;

CRITICAL_SECTION* makeSection() {
  auto* section = static_cast<CRITICAL_SECTION*>(HeapAlloc(GetProcessHeap(), 0, sizeof(CRITICAL_SECTION)));
  if (section != nullptr) InitializeCriticalSection(section);
  return section;
}

void freeSection(CRITICAL_SECTION* section) {
  DeleteCriticalSection(section);
  HeapFree(GetProcessHeap(), 0, section);
}

CRITICAL_SECTION* sectionOf(std::intptr_t* mutex) {
  std::intptr_t value = __atomic_load_n(mutex, __ATOMIC_ACQUIRE);
  if (value != kStaticMutex) return reinterpret_cast<CRITICAL_SECTION*>(value);
  CRITICAL_SECTION* made = makeSection();
  if (made == nullptr) return nullptr;
  // Two threads may make one at once: the first stored wins, the other is freed.
  if (__atomic_compare_exchange_n(mutex, &value, reinterpret_cast<std::intptr_t>(made), false, __ATOMIC_ACQ_REL,
                                  __ATOMIC_ACQUIRE)) {
    return made;
  }
  freeSection(made);
  return reinterpret_cast<CRITICAL_SECTION*>(value);
}

}  // namespace

extern "C" {

int pthread_mutex_init(std::intptr_t* mutex, const void* /*attributes: none are used*/) {
  CRITICAL_SECTION* section = makeSection();
  if (section == nullptr) return ENOMEM;
  *mutex = reinterpret_cast<std::intptr_t>(section);
  return 0;
}

int pthread_mutex_destroy(std::intptr_t* mutex) {
  if (*mutex != kStaticMutex && *mutex != 0) freeSection(reinterpret_cast<CRITICAL_SECTION*>(*mutex));
  *mutex = 0;
  return 0;
}

int pthread_mutex_lock(std::intptr_t* mutex) {
  CRITICAL_SECTION* section = sectionOf(mutex);
  if (section == nullptr) return ENOMEM;
  EnterCriticalSection(section);
  return 0;
}

int pthread_mutex_unlock(std::intptr_t* mutex) {
  LeaveCriticalSection(reinterpret_cast<CRITICAL_SECTION*>(*mutex));
  return 0;
}

// Thread-local slots. The runtime's per-thread exception state is made on a
// thread's first throw and freed by the key's destructor when the thread
// ends; Win32 slots have no destructor, so a thread that threw and then ended
// leaves that block (a few bytes) allocated. The programs' threads live as
// long as the program but for the installer's one worker.
int pthread_key_create(unsigned* key, void (*/*destructor: see above*/)(void*)) {
  const DWORD slot = TlsAlloc();
  if (slot == TLS_OUT_OF_INDEXES) return EAGAIN;
  *key = slot;
  return 0;
}

void* pthread_getspecific(unsigned key) {
  // The caller may be between a failing call and its GetLastError.
  const DWORD error = GetLastError();
  void* value = TlsGetValue(key);
  SetLastError(error);
  return value;
}

int pthread_setspecific(unsigned key, const void* value) {
  const DWORD error = GetLastError();
  const BOOL done = TlsSetValue(key, const_cast<void*>(value));
  SetLastError(error);
  return done ? 0 : ENOMEM;
}

// 0: not run, 1: running, 2: done.
int pthread_once(long* once, void (*routine)()) {
  if (__atomic_load_n(once, __ATOMIC_ACQUIRE) == 2) return 0;
  if (InterlockedCompareExchange(once, 1, 0) == 0) {
    routine();
    __atomic_store_n(once, 2, __ATOMIC_RELEASE);
    return 0;
  }
  while (__atomic_load_n(once, __ATOMIC_ACQUIRE) != 2) Sleep(1);
  return 0;
}

}  // extern "C"

// ---------------------------------------------------------------- function statics

// The guard is 64 bits: the compiler tests its first byte (set once the value
// is made); the second half marks an initialisation in progress.
namespace {
unsigned char* guardDone(long long* guard) { return reinterpret_cast<unsigned char*>(guard); }
volatile LONG* guardBusy(long long* guard) { return reinterpret_cast<volatile LONG*>(guard) + 1; }
}  // namespace

extern "C" int __cxa_guard_acquire(long long* guard) {
  for (;;) {
    if (__atomic_load_n(guardDone(guard), __ATOMIC_ACQUIRE) != 0) return 0;
    if (InterlockedCompareExchange(guardBusy(guard), 1, 0) == 0) {
      // Another thread may have finished between the two looks.
      if (__atomic_load_n(guardDone(guard), __ATOMIC_ACQUIRE) == 0) return 1;
      InterlockedExchange(guardBusy(guard), 0);
      return 0;
    }
    Sleep(1);  // another thread is making the value
  }
}

extern "C" void __cxa_guard_release(long long* guard) {
  __atomic_store_n(guardDone(guard), 1, __ATOMIC_RELEASE);
  InterlockedExchange(guardBusy(guard), 0);
}

extern "C" void __cxa_guard_abort(long long* guard) { InterlockedExchange(guardBusy(guard), 0); }

// ---------------------------------------------------------------- terminate

namespace __cxxabiv1 {
extern std::terminate_handler __terminate_handler;
std::terminate_handler __terminate_handler = std::abort;
}  // namespace __cxxabiv1

// What std::set_terminate's callers may name as the default; it aborts too.
namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx

// ---------------------------------------------------------------- allocation

namespace {

void* allocate(std::size_t size) { return std::malloc(size != 0 ? size : 1); }

void* allocateOrEnd(std::size_t size) {
  void* block = allocate(size);
  if (block == nullptr) std::abort();  // no memory: what an uncaught std::bad_alloc did
  return block;
}

}  // namespace

void* operator new(std::size_t size) { return allocateOrEnd(size); }
void* operator new[](std::size_t size) { return allocateOrEnd(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return allocate(size); }
void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { std::free(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { std::free(block); }

// ---------------------------------------------------------------- throw helpers

namespace std {

void __throw_bad_alloc() { abort(); }
void __throw_bad_array_new_length() { abort(); }
void __throw_bad_cast() { abort(); }
void __throw_bad_typeid() { abort(); }
void __throw_bad_exception() { abort(); }
void __throw_bad_function_call() { abort(); }
void __throw_logic_error(const char*) { abort(); }
void __throw_domain_error(const char*) { abort(); }
void __throw_invalid_argument(const char*) { abort(); }
void __throw_length_error(const char*) { abort(); }
void __throw_out_of_range(const char*) { abort(); }
void __throw_out_of_range_fmt(const char*, ...) { abort(); }
void __throw_runtime_error(const char*) { abort(); }
void __throw_range_error(const char*) { abort(); }
void __throw_overflow_error(const char*) { abort(); }
void __throw_underflow_error(const char*) { abort(); }

}  // namespace std

// ---------------------------------------------------------------- zlib

extern "C" unsigned long crc32(unsigned long, const unsigned char*, unsigned) { std::abort(); }
