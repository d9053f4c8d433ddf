#include "flow/records.h"

struct Package UpdaterPackage;
struct UpdateDescription UpdateDescription;
struct InstallRecord InstallRecord;
struct UpdatePlan UpdatePlan;

const char* const kRequiredSetupKeys[4] = {"CompanyName", "GameTitle", "GameClass", "GameDir"};
