// System facts for the helper library. The version and the slim-lock answer
// are fixed (a current system has both) but tests may pretend otherwise.
#include "platform/system.h"

#include <sched.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>

namespace plat {
namespace {

std::atomic<uint32_t> g_major{6};
std::atomic<uint32_t> g_minor{1};
std::atomic<bool> g_srw{true};

}  // namespace

SystemVersion GetSystemVersion() {
  return SystemVersion{g_major.load(std::memory_order_acquire), g_minor.load(std::memory_order_acquire)};
}

void SetSystemVersionForTest(uint32_t major, uint32_t minor) {
  g_major.store(major, std::memory_order_release);
  g_minor.store(minor, std::memory_order_release);
}

bool SrwAvailable() { return g_srw.load(std::memory_order_acquire); }

void SetSrwAvailableForTest(bool available) { g_srw.store(available, std::memory_order_release); }

uint32_t ProcessorCount() {
  const long n = sysconf(_SC_NPROCESSORS_ONLN);
  return n > 0 ? static_cast<uint32_t>(n) : 1u;
}

uint32_t CurrentThreadId() {
  // Cached per thread: the id never changes and the syscall is not free.
  static thread_local uint32_t id = static_cast<uint32_t>(syscall(SYS_gettid));
  return id;
}

void YieldThread() { sched_yield(); }

}  // namespace plat
