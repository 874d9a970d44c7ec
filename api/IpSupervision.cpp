// The IP supervision thread: keeps the default UDP address bound for the life
// of the process. In port-range mode it binds a port from the range; with the
// adaptive flag it follows the address the system uses toward the first STPRC
// server, so a change of network moves the library's address with it.
#include <cstring>
#include <string>

#include "api/RouterAccessManager.h"
#include "asynmodel/AsynManager.h"
#include "platform/clock.h"
#include "platform/socket.h"
#include "report/ReportLog.h"

namespace {

constexpr uint32_t kNotStartedPauseMs = 2000;
constexpr uint32_t kWatchPauseMs = 3000;
constexpr uint32_t kBindRetryPauseMs = 10;
// After a walk in which no port could be bound the whole range is tried
// again; this pause keeps an empty or fully taken range from spinning.
constexpr uint32_t kFailedWalkPauseMs = 1000;

}  // namespace

void RouterAccessManager::IpResetThread(void* owner, void*) {
  static_cast<RouterAccessManager*>(owner)->IpResetProc();
}

void RouterAccessManager::IpResetProc() {
  for (;;) {
    if (m_initialized.load() != 1) {
      REPORT_LOG_ERROR("[Kelvarn][IPRESET]重新设置默认UDP地址时,没有初始化,2s后重试");
      plat::SleepMs(kNotStartedPauseMs);
      continue;
    }
    if (!IpResetPass()) plat::SleepMs(kFailedWalkPauseMs);
  }
}

bool RouterAccessManager::IpResetPass() {
  const uint8_t adaptive = m_adaptive.load();
  char candidate[128] = {};
  std::string bound;
  char stprcIp[16] = {};
  {
    TzAutoLock guard(&m_addrLock);
    memcpy(candidate, m_localIp, sizeof(m_localIp));
    memcpy(stprcIp, m_stprcServers[0].udp_ip, sizeof(stprcIp));
    bound = m_boundIp;
  }
  if (adaptive) {
    memset(candidate, 0, sizeof(candidate));
    plat::GetLocalIpToward(stprcIp, candidate);
  }

  // An empty candidate (detection failed) is not taken as a change: binding
  // the empty text cannot succeed, and the current address is still the best
  // one known.
  const bool changed = candidate[0] != 0 && strcmp(candidate, "255.255.255.255") != 0 &&
                       bound != candidate;
  if (!changed) {
    REPORT_LOG_MSG("[Kelvarn][IPRESET]重新设置默认UDP地址时,Ip没有变化Local IP:%s,自适应状态:%s",
                   bound.c_str(), adaptive ? "自适应" : "非自适应");
    plat::SleepMs(kWatchPauseMs);
    return true;
  }
  REPORT_LOG_ERROR("[Kelvarn][IPRESET]Ip发生改变，重新设置IP(New:%s,Old:%s)", candidate, bound.c_str());

  const uint32_t start = m_portRangeStart.load();
  const uint32_t end = m_portRangeEnd.load();
  uint32_t p = start;
  for (; p <= end; ++p) {
    // The offset never carries the port past 65535 (and round to a low port).
    const uint32_t sum = p + plat::GetTickCount() % 100;
    const uint16_t tried = static_cast<uint16_t>(sum <= 65535 ? sum : p);
    if (AsynModel::AsynManager::GetInstance()->SetDefaultUDPAddr(candidate, tried) == 0) {
      REPORT_LOG_ERROR("[Kelvarn][IPRESET]重新设置默认UDP地址成功, addr:%s:%u", candidate, tried);
      m_localPort.store(tried);
      SetDefaultAddrFields(candidate, tried);
      TzAutoLock guard(&m_addrLock);
      m_boundIp = candidate;
      return true;
    }
    plat::SleepMs(kBindRetryPauseMs);
  }
  REPORT_LOG_ERROR("[Kelvarn][IPRESET]重新设置默认UDP地址失败(%d:%d)，循环了开始到结束都没成功，:%d-%d",
                   static_cast<int>(p), static_cast<int>(end + 1), static_cast<int>(start),
                   static_cast<int>(end));
  return false;
}
