// Deliberately wrong: the framework may not see the report layer.
#include "report/ReportLog.h"
