#pragma once
#include <cstdint>

namespace AsynModel {

enum SessionThreadMode : uint32_t { ThreadMode_Serial = 0, ThreadMode_Parallel = 1 };

// Construction properties of a session, passed by value.
struct SessionProperty {
  uint32_t threadMode = ThreadMode_Serial;  // 0 serial, 1 parallel; others refused by Start
  uint32_t idKind = 1;                      // 0 resident id range, else ordinary
  uint32_t msgArrivedModel = 1;             // 1 ordered; matters for serial sessions only
  uint8_t findable = 1;                     // entered in the SessionMap, reachable by id

  bool SerialOrdered() const { return threadMode == ThreadMode_Serial && msgArrivedModel == 1; }
};

}  // namespace AsynModel
