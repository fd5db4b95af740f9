// Resource ids of Kestrelon.dll: shared by the resource script and the window code.
#pragma once

// Dialogs
#define IDD_OPTIONS 201
#define IDD_TOKENS 1013
#define IDD_PROGRESS 32

// Options dialog controls
#define IDC_LOG_FILE 3
#define IDC_ARCHIVE 4
#define IDC_HELP_BUTTON 9
#define IDC_REAL_MAILS 203
#define IDC_SPAM_MAILS 204
#define IDC_STATISTICS 1007
#define IDC_TIMEOUT_HINT 1008
#define IDC_HTTP_TIMEOUT 1009
#define IDC_WEB_LINK 1011
#define IDC_TIMEOUT_LABEL 1012
#define IDC_ARCHIVE_SPAM 1018
#define IDC_VERSION 1019
#define IDC_CHECK_SMTP 1020

// Token probabilities dialog controls
#define IDC_TOKEN_LIST 1014
#define IDC_TOKEN_FROM 1015
#define IDC_TOKEN_SUBJECT 1016
#define IDC_TOKEN_PROBABILITY 1017

// Progress dialog controls
#define IDC_PROGRESS_TEXT 1004
#define IDC_PROGRESS_BAR 1012

// Toolbar bitmaps (magenta is transparent)
#define IDB_HOT_PADDING_16 33  // four 16x16 pictures, padding the hot list of small toolbars
#define IDB_DELETE_SPAM_22 34
#define IDB_DELETE_SPAM_22_HOT 35
#define IDB_DELETE_SPAM_24_HOT 100
#define IDB_DELETE_SPAM_16_HOT 101
#define IDB_DELETE_SPAM_24 102
#define IDB_DELETE_SPAM_16 103

#define IDC_LINK_CURSOR 40
#define IDI_KESTRELON 50
