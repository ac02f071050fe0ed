// Resource and control identifiers of qvpwdctl.
#pragma once

#define IDS_OLE_INIT_FAILED 100
#define IDS_DEFAULT_PROMPT 105
#define IDS_INTERNAL_ERROR 61704
#define IDS_OUT_OF_MEMORY 61706

#define IDD_QVPWDCTL_DIALOG 102
#define IDR_PASSWORDEDIT 101
#define IDR_MAINFRAME 128

#define IDC_PASSWORD 1000
#define IDC_PROMPT 1002
#define IDC_ENCODING 1003
#define IDC_SEPARATOR 1004
#define IDC_COPY 3
