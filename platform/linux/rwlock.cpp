// The slim reader/writer lock on Linux: a std::shared_mutex (a pthread
// rwlock) placed in the lock's storage.
#include <new>
#include <shared_mutex>

#include "platform/sync.h"

namespace plat {
namespace {

std::shared_mutex& Rw(unsigned char* storage) { return *std::launder(reinterpret_cast<std::shared_mutex*>(storage)); }

}  // namespace

SlimRwLock::SlimRwLock() {
  static_assert(sizeof(std::shared_mutex) <= sizeof(storage_), "the lock fits its storage");
  static_assert(alignof(std::shared_mutex) <= 16, "the storage is aligned for the lock");
  new (storage_) std::shared_mutex();
}

SlimRwLock::~SlimRwLock() { Rw(storage_).~shared_mutex(); }

void SlimRwLock::LockShared() { Rw(storage_).lock_shared(); }
void SlimRwLock::UnlockShared() { Rw(storage_).unlock_shared(); }
void SlimRwLock::LockExclusive() { Rw(storage_).lock(); }
void SlimRwLock::UnlockExclusive() { Rw(storage_).unlock(); }

}  // namespace plat
