// Resource and control identifiers of the control panel's dialog.
#pragma once

#define IDD_CONTROL_PANEL 102
#define IDI_PANEL 128
#define IDB_LOGO 129

#define IDC_DEVICES 1000
#define IDC_BUFFER 1001
#define IDC_SETTING_GROUP 1002
#define IDC_BUFFER_CAPTION 1004
#define IDC_BUFFER_LABEL 1005
#define IDC_RATE 1006
#define IDC_LOGO 1008
#define IDC_VERSION 1009
#define IDC_RATE_CAPTION 1010
#define IDC_BIT_DEPTH 1014
#define IDC_BIT_DEPTH_CAPTION 1015
