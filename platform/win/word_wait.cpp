// Waiting on a word on Windows: WaitOnAddress and WakeByAddressSingle, looked
// up in KernelBase at run time (Windows 8 and later). Without them a waiter
// yields its time slice and returns, which WaitOnWord's callers accept as an
// early return: the lock stays correct and only spins where the system
// cannot park.
#include "platform/system.h"
#include "platform/win/win_api.h"
#include "platform/word_lock.h"

namespace plat {
namespace {

struct AddressWaitApi {
  BOOL(WINAPI* wait)(volatile VOID*, PVOID, SIZE_T, DWORD);
  VOID(WINAPI* wakeOne)(PVOID);
  VOID(WINAPI* wakeAll)(PVOID);
};

const AddressWaitApi* FindAddressWaitApi() {
  static const AddressWaitApi* api = []() -> const AddressWaitApi* {
    // KernelBase is in every process that has these functions; looking it
    // up loads nothing, so this is safe even under the loader lock.
    HMODULE m = ::GetModuleHandleW(L"kernelbase.dll");
    if (m == nullptr) return nullptr;
    static AddressWaitApi found;
    found.wait = reinterpret_cast<BOOL(WINAPI*)(volatile VOID*, PVOID, SIZE_T, DWORD)>(
        reinterpret_cast<void*>(::GetProcAddress(m, "WaitOnAddress")));
    found.wakeOne = reinterpret_cast<VOID(WINAPI*)(PVOID)>(
        reinterpret_cast<void*>(::GetProcAddress(m, "WakeByAddressSingle")));
    found.wakeAll = reinterpret_cast<VOID(WINAPI*)(PVOID)>(
        reinterpret_cast<void*>(::GetProcAddress(m, "WakeByAddressAll")));
    return found.wait && found.wakeOne && found.wakeAll ? &found : nullptr;
  }();
  return api;
}

}  // namespace

void WaitOnWord(std::atomic<uint32_t>* word, uint32_t expected) {
  const AddressWaitApi* api = FindAddressWaitApi();
  if (api == nullptr) {
    YieldThread();
    return;
  }
  api->wait(reinterpret_cast<volatile VOID*>(word), &expected, sizeof expected, INFINITE);
}

void WakeOneOnWord(std::atomic<uint32_t>* word) {
  const AddressWaitApi* api = FindAddressWaitApi();
  if (api != nullptr) api->wakeOne(reinterpret_cast<PVOID>(word));
}

void WakeAllOnWord(std::atomic<uint32_t>* word) {
  const AddressWaitApi* api = FindAddressWaitApi();
  if (api != nullptr) api->wakeAll(reinterpret_cast<PVOID>(word));
}

}  // namespace plat
