// The records every part of the update flow shares: section "SETUP" of
// UPDATE.INI, the installation found in the registry, the update plan, and
// the wizard's templates and controls. Types and storage only, so that
// start-up, the wizard, the plan and the run can each use them without
// including one another.
#pragma once
#include "package/package.h"
#include "platform/base.h"
#include "platform/messagebox.h"

// The package the updater carries in its own resources, opened by start-up
// and read by start-up and the run.
extern struct Package UpdaterPackage;

// Section "SETUP" of UPDATE.INI. CompanyName, GameTitle, GameClass and
// GameDir live in SetupDescription (one storage for both).
struct UpdateDescription {
  char GameTitleA[kPathSize];
  char UpdaterVersion[kPathSize];
  char UpdaterTitle[kPathSize];
  char DataFolder[kPathSize];
  char UpdateMessage[kTextSize];
  int ModeIsInstall;
  const char* ModeWord;       // "インストール" or "アップデート"
  const char* AgreementText;  // zero-terminated block, or null
  const char* AgreementTitle;
};
extern struct UpdateDescription UpdateDescription;

// The keys of section "SETUP" of UPDATE.INI without which the updater stops
// at start-up, in the order it reads them.
extern const char* const kRequiredSetupKeys[4];

// The registry values of the installed game.
struct InstallRecord {
  char InstPath[kPathSize];
  char DataPath[kPathSize];
  u32 InstMode;
  u32 InstAdd;
};
extern struct InstallRecord InstallRecord;

// The update plan read from section "UPDATE" of UPDATE.INI.
enum { kMaxPlanLines = 16 };
enum ItemKind { KindPlain = 0, KindUpdate = 1, KindData = 2, KindOverwrite = 3 };

struct UpdateItem {
  i32 kind;
  char relativePath[kPathSize];
  i32 fileNameOffset;  // where the package entry's name starts
};
struct CopyItem {
  i32 diskNumber;
  char sourcePath[kPathSize];
};
struct UpdatePlan {
  int overwriteOnly;
  int updateCount;
  struct UpdateItem updateItems[kMaxPlanLines];
  int copyCount;
  struct CopyItem copyItems[kMaxPlanLines];
};
extern struct UpdatePlan UpdatePlan;

// The wizard's dialog templates and controls.
enum {
  kTemplateWizard = 100,
  kTemplateWizardAgreement = 101,
  kIdNext = 1,
  // The Cancel button (2) is the platform's Cancel command, kIdCancel of
  // messagebox.h: one name for both, so the two headers go together.
  kIdBack = 4,
  kIdAgreementBox = 1000,
  kIdInfo = 1001,
  kIdAgree = 1002,
  kIdDisagree = 1003,
};
