// Names and version of the product program, shared by its window, its
// registration step and its version record.
#pragma once

#define LARKSPAN_APP_COMPANY "Orvane"
#define LARKSPAN_APP_PRODUCT "Larkspan"
#define LARKSPAN_APP_TITLE "Orvane Larkspan"
#define LARKSPAN_APP_VERSION "2.80"
#define LARKSPAN_APP_VERSION_DOTTED "2.80.0.0"
#define LARKSPAN_APP_VERSION_BINARY 2, 80, 0, 0
#define LARKSPAN_APP_MARKER_NAME "Larkspan.installed"
#define LARKSPAN_APP_WINDOW_CLASS "OrvaneLarkspanMainWindow"
#define LARKSPAN_APP_ICON 1
#define LARKSPAN_APP_DISPLAY_NAME LARKSPAN_APP_TITLE " " LARKSPAN_APP_VERSION
// The Start-menu folder and the shortcut in it, and the registration for removal.
#define LARKSPAN_APP_MENU_FOLDER LARKSPAN_APP_COMPANY
#define LARKSPAN_APP_SHORTCUT_NAME LARKSPAN_APP_PRODUCT ".lnk"
#define LARKSPAN_APP_UNINSTALL_KEY "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" LARKSPAN_APP_TITLE
