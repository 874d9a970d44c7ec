// SimpleIndexList's lines: facade channel, each after its level check.
#include "report/SimpleIndexList.h"

#include "tzhelper/QosLog.h"

namespace simple_index_list_log {

void DuplicateGuid(uint64_t guid) {
  if (QosLogIsOpen(FacadeLogCategory, 3))
    QosLogWarning(FacadeLogCategory, FacadeLogSubType, "SimpleIndexList::push_back guid：%llu",
                  static_cast<unsigned long long>(guid));
}

void PushedBack(uint64_t guid, size_t listSize, size_t mapSize) {
  if (QosLogIsOpen(FacadeLogCategory, 1))
    QosLogInfo(FacadeLogCategory, FacadeLogSubType, "SimpleIndexList::push_back guid：%llu, list_size:%d, map size:%d",
               static_cast<unsigned long long>(guid), static_cast<int>(listSize), static_cast<int>(mapSize));
}

// The erase lines print the guid with "%d": its low 32 bits.
void EraseByGuid(uint64_t guid) {
  if (QosLogIsOpen(FacadeLogCategory, 1))
    QosLogInfo(FacadeLogCategory, FacadeLogSubType, "SimpleIndexList::erase  guid:%d",
               static_cast<int>(static_cast<uint32_t>(guid)));
}

void EraseAt(uint64_t guid) {
  if (QosLogIsOpen(FacadeLogCategory, 1))
    QosLogInfo(FacadeLogCategory, FacadeLogSubType, "SimpleIndexList::erase it guid:%d",
               static_cast<int>(static_cast<uint32_t>(guid)));
}

}  // namespace simple_index_list_log
