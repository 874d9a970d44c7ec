// Server address configuration: the STPRC list, the configuration directory
// with its receiver file, and the receiver address conversion map. These run
// on the host's thread without the coordinator lock.
#include <cstring>

#include "api/RecverFileParser.h"
#include "api/RouterAccessManager.h"
#include "asynmodel/AsynManager.h"
#include "report/ReportCommands.h"
#include "report/ReportLog.h"
#include "report/StprcGroupTable.h"

int32_t RouterAccessManager::SetStpRc(const StprcAddrEntry* entries, uint32_t count) {
  uint32_t sid = m_report_sid.load();
  if (sid == 0) {
    REPORT_LOG_WARN("[Kelvarn][stprc] 输入的stprcIp地址，还未初始化 m_report_sid == 0");
    return -1;
  }
  if (count == 0 || entries == nullptr) {
    REPORT_LOG_WARN("[Kelvarn][stprc] 输入的stprcIp地址 数目错误 nRcNum == 0");
    return -2;
  }
  report::StprcGroupTable table;
  table.Build(entries, count, report::StprcGroupTable::Variant::kSetStpRc);
  if (table.StoredCount() == 0) {
    REPORT_LOG_WARN("[Kelvarn][stprc] SetStpRc Report_RC_ADDR_CMD 没有 stprc ！");
    return -10;
  }
  // A table of nine or ten groups is longer than a post may carry: the post
  // is refused and logged, and the session keeps its previous list.
  uint32_t rc = AsynModel::PostMsg(sid, report::Report_RC_ADDR_CMD, table.Data(), table.MessageLength(), false);
  REPORT_LOG_WARN("[Kelvarn][stprc] SetStpRc Report_RC_ADDR_CMD 发送到session 地址 ret:%d", static_cast<int>(rc));
  return 0;
}

void RouterAccessManager::SetConfigDir(const char* directory) {
  if (directory == nullptr) return;
  // With no report session yet the post simply fails; the file is read anyway.
  size_t len = strlen(directory);
  AsynModel::PostMsg(m_report_sid.load(), report::Report_CONFIG_DIR_CMD, len ? directory : nullptr,
                     static_cast<uint32_t>(len), false);
  RecverFile::LoadRecverFile(directory, &DirectRecverAddr::Global());
}

uint32_t RouterAccessManager::AddCovertRecverAddr(const char* srcIp, int32_t srcPort, const char* dstIp,
                                                  uint32_t dstPort) {
  if (m_converter.Add(srcIp, srcPort, dstIp, dstPort)) return 0;
  REPORT_LOG_ERROR("[Kelvarn]地址转换表已满(%u条),丢弃:%s:%d", static_cast<unsigned>(RecverAddrConverter::kMaxPairs),
                   srcIp != nullptr ? srcIp : "", static_cast<int>(srcPort));
  return kCovertTableFull;
}

void RouterAccessManager::EndCovertRecverAddr() {
  m_converter.End();
  REPORT_LOG_WARN("[Kelvarn]获取LogReceiver服务器地址,更新map,接口");
  AsynModel::PostMsg(m_report_sid.load(), report::Report_RECVER_ADDR_MAP_CMD, nullptr, 0, false);
}

bool RouterAccessManager::GetCovertRecverAddr(const char* ip, int32_t port, AsynModel::PeerAddress* out) {
  return m_converter.Get(ip, port, out);
}
