// Numeric identifiers of the installer's dialogs, controls, icons, bitmap and system-menu command,
// shared by the resource scripts and the C++ code (plain macros so that windres can read them).
#pragma once

// Dialog templates.
#define IDD_ABOUT 100
#define IDD_INSTALL 102
#define IDD_START_PAGE 132
#define IDD_FOLDER_PAGE 133
#define IDD_SHORTCUT_PAGE 134
#define IDD_PROGRESS_PAGE 135
#define IDD_MODE_PAGE 136
#define IDD_END_PAGE 137

// The system-menu command of the About entry.
#define IDM_ABOUTBOX 16

// Icons and the side picture. The application icon holds the large and small icon of every
// display scale (16 to 64 pixels).
#define IDI_APP_ICON 128
// The side picture at 100 % (87 x 171 pixels); the bitmaps that follow it hold it at 125, 150,
// 175 and 200 %, in the order of ui::kPictureScales (IDB_SIDE_PICTURE + 1 is 125 %).
#define IDB_SIDE_PICTURE 137

// Flag icons of the Start page's language list, each drawn at 16 x 12 pixels (100 %) and at the
// larger scales up to 32 x 24 (200 %) (there is no icon 159).
#define IDI_FLAG_GERMAN 141
#define IDI_FLAG_DANISH 142
#define IDI_FLAG_SPANISH 143
#define IDI_FLAG_FRENCH 144
#define IDI_FLAG_ENGLISH 145
#define IDI_FLAG_ITALIAN 146
#define IDI_FLAG_DUTCH 147
#define IDI_FLAG_PORTUGUESE 148
#define IDI_FLAG_TURKISH 149
#define IDI_FLAG_BULGARIAN 150
#define IDI_FLAG_ROMANIAN 151
#define IDI_FLAG_CHINESE 152
#define IDI_FLAG_CZECH 153
#define IDI_FLAG_NORWEGIAN 154
#define IDI_FLAG_GREEK 155
#define IDI_FLAG_POLISH 156
#define IDI_FLAG_HEBREW 157
#define IDI_FLAG_VIETNAMESE 158
#define IDI_FLAG_JAPANESE 160
#define IDI_FLAG_HUNGARIAN 161
#define IDI_FLAG_SERBIAN 162

// Wizard frame (dialog 102). Next is IDOK, Exit is IDCANCEL.
#define IDC_BACK 3
#define IDC_SEPARATOR 1002
#define IDC_LEFT_PANEL 1005

// About box (dialog 100).
#define IDC_ABOUT_VERSION 1019
#define IDC_ABOUT_LEGAL 1020

// The status line at the bottom of every page.
#define IDC_STATUS 1003

// Start page (dialog 132).
#define IDC_INFORMATION 1016
#define IDC_LEGAL_NOTICE 1020
#define IDC_LANGUAGE_PROMPT 1022
#define IDC_LANGUAGE_LIST 1023

// Mode page (dialog 136).
#define IDC_QUICK_INSTALL 1018
#define IDC_ADVANCED_INSTALL 1019
#define IDC_METHOD_GROUP 1021

// Folder page (dialog 133).
#define IDC_BROWSE 1006
#define IDC_FOLDER_EDIT 1007
#define IDC_FOLDER_GROUP 1008
#define IDC_FOLDER_PROMPT 1009

// Shortcut page (dialog 134); Browse is IDC_BROWSE.
#define IDC_MENU_FOLDER_EDIT 1007
#define IDC_DESKTOP_SHORTCUT 1010
#define IDC_MENU_SHORTCUT 1011
#define IDC_MENU_GROUP 1012

// Progress page (dialog 135).
#define IDC_PROGRESS_BAR 1014
#define IDC_LOG 1015

// End page (dialog 137).
#define IDC_RESULT 1016

// The uninstaller's frame and its three pages (same frame controls as the installer's).
#define IDD_UNINSTALL 140
#define IDD_CONFIRM_PAGE 141
#define IDD_REMOVAL_PAGE 142
#define IDD_REMOVED_PAGE 143

// Confirmation page (dialog 141).
#define IDC_QUESTION 1030
#define IDC_REMOVE_EXAMPLES 1031
#define IDC_KEPT_NOTE 1032

// Removal page (dialog 142): IDC_LOG, IDC_PROGRESS_BAR and IDC_STATUS as on the Progress page.
#define IDC_HEADING 1033

// End page of the removal (dialog 143): IDC_RESULT as on the installer's End page.
#define IDC_SUMMARY_LABEL 1034
#define IDC_SUMMARY 1035
