// The slim reader/writer lock functions, looked up in Kernel32 at run time:
// systems before Vista lack them, and the library must still load there.
// Internal to platform/win.
#pragma once
#include "platform/win/win_api.h"

namespace plat {
namespace win_detail {

struct SrwApi {
  VOID(WINAPI* acquireShared)(PSRWLOCK);
  VOID(WINAPI* releaseShared)(PSRWLOCK);
  VOID(WINAPI* acquireExclusive)(PSRWLOCK);
  VOID(WINAPI* releaseExclusive)(PSRWLOCK);
};

// Null when the system has no slim locks. Looked up once; any thread.
const SrwApi* FindSrwApi();

}  // namespace win_detail
}  // namespace plat
