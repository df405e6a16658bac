// Resource and control identifiers of the Windows self-extractor, shared by
// the templates and the dialog code.
#ifndef TVK_RESOURCES_RESOURCE_IDS_H
#define TVK_RESOURCES_RESOURCE_IDS_H

#define IDI_PROGRAM 101
#define IDI_PASSWORD 102
#define IDI_OVERWRITE 103
#define IDI_SIGNATURE 104

#define IDD_MAIN 5001
#define IDD_SIGNATURE 5010
#define IDD_FILE_PASSWORD 5011
#define IDD_ARCHIVE_PASSWORD 5012
#define IDD_NEXT_VOLUME 5013
#define IDD_OVERWRITE 5014

// Main dialog (buttons 1 extract, 2 cancel and 9 help use IDOK, IDCANCEL, IDHELP).
#define IDC_INSTRUCTION 1001
#define IDC_FOLDER 1002
#define IDC_OVERWRITE 1003
#define IDC_RUN_AFTER 1004
#define IDC_BROWSE 1005
#define IDC_FOLDER_LABEL 1006
#define IDC_ABOUT 1010
#define IDC_PROGRESS 1050

// Overwrite dialog (buttons 1 replace, 7 no, 2 cancel use IDOK, IDNO, IDCANCEL).
#define IDC_OVERWRITE_TEXT 1101
#define IDC_OLD_ICON 1102
#define IDC_OLD_INFO 1103
#define IDC_NEW_ICON 1104
#define IDC_NEW_INFO 1105
#define IDC_OVERWRITE_OLD_LABEL 1106
#define IDC_OVERWRITE_NEW_LABEL 1107
#define IDC_YES_ALL 1108
#define IDC_OVERWRITE_ICON 1109

// Next-volume dialog.
#define IDC_VOLUME_TEXT 1120
#define IDC_VOLUME_FOLDER 1121

// Signature dialog.
#define IDC_SIGNATURE_TEXT 1130

// Password dialogs.
#define IDC_PASSWORD_TEXT 1140
#define IDC_PASSWORD_LABEL 1141
#define IDC_PASSWORD 1142

// Window messages the main dialog posts to itself.
#define WM_TVK_SHOW_INFO 0x8000
#define WM_TVK_EARLY_CHECK 0x8001

#endif
