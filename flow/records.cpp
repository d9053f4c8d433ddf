#include "flow/records.h"

struct Package UpdaterPackage;
struct UpdateDescription UpdateDescription;
struct InstallRecord InstallRecord;
struct UpdatePlan UpdatePlan;
