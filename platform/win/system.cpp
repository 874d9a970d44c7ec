// System facts on Windows: the real version (RtlGetVersion, which does not
// shrink the answer to what the host's manifest declares), whether Kernel32
// has slim locks, processors and thread ids. Tests may pretend other answers.
#include "platform/system.h"

#include <atomic>

#include "platform/win/srw_api.h"

namespace plat {
namespace {

// 0 means "not overridden by a test".
std::atomic<uint32_t> g_testMajor{0};
std::atomic<uint32_t> g_testMinor{0};
// -1 not overridden, 0 pretend absent, 1 pretend present.
std::atomic<int> g_testSrw{-1};

SystemVersion QueryVersion() {
  typedef LONG(WINAPI * RtlGetVersionFn)(OSVERSIONINFOW*);
  HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
  RtlGetVersionFn fn = ntdll ? reinterpret_cast<RtlGetVersionFn>(
                                   reinterpret_cast<void*>(::GetProcAddress(ntdll, "RtlGetVersion")))
                             : nullptr;
  OSVERSIONINFOW info{};
  info.dwOSVersionInfoSize = sizeof info;
  if (fn != nullptr && fn(&info) == 0) return SystemVersion{info.dwMajorVersion, info.dwMinorVersion};
  return SystemVersion{6, 1};  // the oldest system the library is built for
}

}  // namespace

SystemVersion GetSystemVersion() {
  const uint32_t major = g_testMajor.load(std::memory_order_acquire);
  if (major != 0) return SystemVersion{major, g_testMinor.load(std::memory_order_acquire)};
  static const SystemVersion real = QueryVersion();
  return real;
}

void SetSystemVersionForTest(uint32_t major, uint32_t minor) {
  g_testMinor.store(minor, std::memory_order_release);
  g_testMajor.store(major, std::memory_order_release);
}

bool SrwAvailable() {
  const int forced = g_testSrw.load(std::memory_order_acquire);
  const bool present = win_detail::FindSrwApi() != nullptr;
  // A test may hide the slim locks, never invent them.
  return forced < 0 ? present : (forced == 1 && present);
}

void SetSrwAvailableForTest(bool available) { g_testSrw.store(available ? 1 : 0, std::memory_order_release); }

uint32_t ProcessorCount() {
  SYSTEM_INFO si;
  ::GetSystemInfo(&si);
  return si.dwNumberOfProcessors > 0 ? si.dwNumberOfProcessors : 1u;
}

uint32_t CurrentThreadId() { return ::GetCurrentThreadId(); }

void YieldThread() { ::SwitchToThread(); }

}  // namespace plat
