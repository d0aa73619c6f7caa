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

// The Preset menu. Its entries are made each time it opens (the plug-in's programs among them,
// with the command ids of PresetRules' kFirstProgramCommand on).
#define ID_PRESET_LOAD 32790
#define ID_PRESET_SAVE 32791
#define ID_PRESET_SAVEBANK 32792
#define ID_PRESET_RENAME 32793
#define ID_PRESET_RESET 32794
#define ID_PRESET_NOPROGRAMS 32795

// The Rename Program dialog.
#define IDD_RENAMEPROGRAM 150
#define IDC_RENAME_NAME 1020

// Positions of the pull-down menus in the menu bar. The menu rules address File and Help by
// these and their items by position: Preset, between them, leaves those positions as they are.
#define MENU_POS_FILE 0
#define MENU_POS_PRESET 1
#define MENU_POS_HELP 2
