// Resource numbers of Keyvane, shared by the resource script (keyvane.rc)
// and the program. Plain #define lines only, so that every resource compiler
// reads it (the platform's and tools/rc).
#ifndef KEYVANE_RESOURCE_H
#define KEYVANE_RESOURCE_H

// String table.
#define IDS_TITLE 1       // "Keyvane", the main window's title
#define IDS_CLASS_NAME 2  // "KEYVANE", the main window's class

// Icon, tray menu and its commands, accelerators.
#define IDI_KEYVANE 101
#define IDR_TRAYMENU 136
#define IDM_SYMBOLOGY_SETTINGS 32772
#define IDM_EXIT 32773
#define IDC_ACCELERATORS 2
#define IDM_ACCEL_A 40002
#define IDM_ACCEL_Q 1

// WAVE sounds.
#define IDW_BAD_READ 4
#define IDW_GOOD_READ 129
#define IDW_CONNECTED 134
#define IDW_PORT_FAILED 135

#endif
