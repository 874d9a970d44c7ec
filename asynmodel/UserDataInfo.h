// Base of every user-data object that travels with a timer or a message. The
// framework only adds and drops references; applications derive their own.
#pragma once
#include "tzhelper/TzRefCounter.h"

namespace AsynModel {

class UserDataInfo : public TzRefCounterBase<UserDataInfo> {
 public:
  UserDataInfo() = default;

 protected:
  ~UserDataInfo() override = default;
  friend class TzRefCounterBase<UserDataInfo>;
};
typedef TzSptr<UserDataInfo> SptrUserDataInfo;

}  // namespace AsynModel
