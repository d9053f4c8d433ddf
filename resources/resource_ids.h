// Identifiers shared by the resource script and the programs that read the
// resources back. Plain #defines: the resource compiler reads this too.
#pragma once

#define IDD_WIZARD 100
#define IDD_WIZARD_AGREEMENT 101

#define IDC_NEXT 1
#define IDC_CANCEL 2
#define IDC_BACK 4
#define IDC_AGREEMENT 1000
#define IDC_INFO 1001
#define IDC_AGREE 1002
#define IDC_DISAGREE 1003

// The update package: resource type "UPDATE", id 102.
#define IDR_UPDATE_PACKAGE 102
#define UPDATE_PACKAGE_TYPE "UPDATE"

#define UPDATER_VERSION_NUMBERS 1, 0, 0, 0
#define UPDATER_VERSION_TEXT "1.0.0.0"
