// Resource and control ids of the main window (template, menu, commands, icon). Plain
// definitions only: the resource compiler reads this file too.
#pragma once

#define IDD_VORLANEHOST_DIALOG 102
#define IDR_MAINFRAME 128
#define IDR_MAINMENU 130
#define IDC_PLUGINWINDOW 1015

#define ID_FILE_AUDIOSETTINGS 32771
#define ID_FILE_MIDISETTINGS 32772
#define ID_FILE_TEMPO 32773
#define ID_FILE_EXIT 32774
#define ID_HELP_HELP 32775
#define ID_HELP_ABOUT 32776
#define ID_FILE_AUDIOENGINE 32777
#define ID_FILE_PANIC 32779
#define ID_HELP_CHECKFORUPDATES 32780
#define ID_FILE_AUDIOPLAYER 32782
#define ID_FILE_MUTEINPUT 32783  // added at run time for effects with audio inputs

// Positions of the two pull-down menus in the menu bar.
#define MENU_POS_FILE 0
#define MENU_POS_HELP 1
