/* Identifiers of the setup's resources and dialog controls, shared by the
   resource script and the code (plain C preprocessor only: windres reads it). */
#ifndef LARKSPAN_RESOURCE_IDS_H
#define LARKSPAN_RESOURCE_IDS_H

/* Icon groups: 107 is the file's icon, 117 the dialogs' small icon. */
#define IDI_SETUP_FILE 107
#define IDI_SETUP_SMALL 117

/* Dialogs. */
#define IDD_LICENSE 137
#define IDD_MAIN 138
#define IDD_PROGRESS 139

/* Controls of the licence dialog. */
#define IDC_LICENSE_AGREE_CHECK 1000
#define IDC_LICENSE_TEXT 1010

/* Controls of the main dialog. */
#define IDC_MAIN_INTRO 1006
#define IDC_MAIN_FOLDER 1011
#define IDC_MAIN_BROWSE 1012
#define IDC_MAIN_PICTURE 507

/* Controls of the progress dialog. */
#define IDC_PROGRESS_BAR 1002
#define IDC_PROGRESS_FILE 1003

/* The animation (custom type "GIF") and the payload archive (RT_RCDATA, language 1033). */
#define IDR_ANIMATION 506
#define IDR_PAYLOAD 118

/* String table. */
#define IDS_CAPTION 103
#define IDS_DEFAULT_FOLDER 104
#define IDS_ASK_CREATE_FOLDER 106
#define IDS_CANNOT_CREATE_FOLDER 107
#define IDS_ASK_ABORT 108
#define IDS_BROWSE_TITLE 109
#define IDS_NO_MEMORY 110
#define IDS_SUCCESS 112
#define IDS_INCOMPLETE 113
#define IDS_CANNOT_INSTALL 114
#define IDS_REGISTRATION_FAILED 115
#define IDS_UNEXPECTED 116

#endif
