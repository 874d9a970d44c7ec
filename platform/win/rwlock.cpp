// The slim reader/writer lock on Windows: an SRWLOCK driven through the
// functions found in Kernel32 at run time. std::shared_mutex is not used: its
// mingw-w64 build lets try_lock succeed while the lock is held shared.
#include <new>

#include "platform/sync.h"
#include "platform/win/srw_api.h"

namespace plat {
namespace win_detail {

const SrwApi* FindSrwApi() {
  static const SrwApi* api = []() -> const SrwApi* {
    HMODULE k32 = ::GetModuleHandleW(L"kernel32.dll");
    if (k32 == nullptr) return nullptr;
    static SrwApi found;
    found.acquireShared = reinterpret_cast<VOID(WINAPI*)(PSRWLOCK)>(
        reinterpret_cast<void*>(::GetProcAddress(k32, "AcquireSRWLockShared")));
    found.releaseShared = reinterpret_cast<VOID(WINAPI*)(PSRWLOCK)>(
        reinterpret_cast<void*>(::GetProcAddress(k32, "ReleaseSRWLockShared")));
    found.acquireExclusive = reinterpret_cast<VOID(WINAPI*)(PSRWLOCK)>(
        reinterpret_cast<void*>(::GetProcAddress(k32, "AcquireSRWLockExclusive")));
    found.releaseExclusive = reinterpret_cast<VOID(WINAPI*)(PSRWLOCK)>(
        reinterpret_cast<void*>(::GetProcAddress(k32, "ReleaseSRWLockExclusive")));
    const bool all = found.acquireShared && found.releaseShared && found.acquireExclusive && found.releaseExclusive;
    return all ? &found : nullptr;
  }();
  return api;
}

}  // namespace win_detail

namespace {

PSRWLOCK Srw(unsigned char* storage) { return std::launder(reinterpret_cast<PSRWLOCK>(storage)); }

// Callers only use the lock while the functions exist (SrwAvailable).
const win_detail::SrwApi& Api() { return *win_detail::FindSrwApi(); }

}  // namespace

SlimRwLock::SlimRwLock() {
  static_assert(sizeof(SRWLOCK) <= sizeof(storage_), "the lock fits its storage");
  new (storage_) SRWLOCK(SRWLOCK_INIT);
}

SlimRwLock::~SlimRwLock() = default;  // an SRWLOCK owns nothing

void SlimRwLock::LockShared() { Api().acquireShared(Srw(storage_)); }
void SlimRwLock::UnlockShared() { Api().releaseShared(Srw(storage_)); }
void SlimRwLock::LockExclusive() { Api().acquireExclusive(Srw(storage_)); }
void SlimRwLock::UnlockExclusive() { Api().releaseExclusive(Srw(storage_)); }

}  // namespace plat
