// Quelmar's resource ids: its strings, icon, menu, accelerator table and
// the "Firmware Info" dialog with its controls. Read by the resource
// script and by the program.
#pragma once

#define IDS_TITLE 1
#define IDS_CLASS 3

#define IDI_QUELMAR 101
#define IDR_MAIN_MENU 102
#define IDR_ACCELERATORS 3
#define IDD_FIRMWARE_INFO 104

#define IDM_EXIT 40002

#define IDC_PORT_LINE 1001
#define IDC_VERSION_LINE 1002
#define IDC_ACTIVE_DRIVER_LINE 1003
#define IDC_INSTALLED_DRIVERS_LINE 1004
