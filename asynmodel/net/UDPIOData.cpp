#include "asynmodel/net/UDPIOData.h"

#include "asynmodel/Session.h"
#include "asynmodel/net/UDPResendContext.h"

namespace AsynModel {

UDPIOData::UDPIOData() = default;
UDPIOData::~UDPIOData() = default;

UDPIOData* UDPIOData::Create(uint32_t op) {
  UDPIOData* d = new UDPIOData();  // TzPooled: null instead of throwing
  if (!d) return nullptr;
  d->ZeroOverlapped();
  d->kind = PerIO_UDP;
  d->operation = op;
  return d;
}

}  // namespace AsynModel
