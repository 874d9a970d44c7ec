// The counted reference to a session, for headers that only pass one along
// and need not see the class.
#pragma once
#include "tzhelper/TzRefCounter.h"

namespace AsynModel {

class Session;
typedef TzSptr<Session> SptrSession;

}  // namespace AsynModel
