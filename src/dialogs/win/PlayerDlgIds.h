// Resource and control ids of the Audio Player / Recorder window. Plain definitions only: the
// resource compiler reads this file too.
#pragma once

#define IDD_AUDIOFILE 143
#define IDC_PLAYER_FILENAME 1028
#define IDC_PLAYER_LOOP 1030
#define IDC_PLAYER_REWIND 1032
#define IDC_PLAYER_PLAY 1033
#define IDC_RECORDER_RECORD 1034
#define IDC_PLAYER_STARTBYMIDI 1035
#define IDC_RECORDER_OPTION 1036
#define IDC_PLAYER_LOAD 1037
#define IDC_PLAYER_TIME 1038
#define IDC_RECORDER_TIME 1039
#define IDC_RECORDER_MAXLENGTH 1040
#define IDC_PLAYER_OPENONSTARTUP 1041
#define IDC_PLAYER_DETECTTEMPO 1042
#define IDC_PLAYER_TEMPO 1043
