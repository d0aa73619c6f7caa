// Resource and control ids of the Midi Settings window and the state icons of its input list.
// Plain definitions only: the resource compiler reads this file too.
#pragma once

#define IDD_MIDISETTINGS 131
#define IDI_MIDI_INACTIVE 137
#define IDI_MIDI_ACTIVE 138
#define IDI_MIDI_CLOCKSYNC 139
#define IDC_MIDI_OUTPUT 1003
#define IDC_MIDI_INPUTS 1006
#define IDC_MIDI_ACTIVE 1007
#define IDC_MIDI_SYNC 1008
#define IDC_MIDI_SYNCWHILEPLAYING 1009
#define IDC_MIDI_DELAY 1010
#define IDC_MIDI_DELAY_SPIN 1011
#define IDC_MIDI_FILTERCC 1012
#define IDC_MIDI_FILTERPROGRAM 1013
#define IDC_MIDI_CHANNEL 1014
#define IDC_MIDI_RANGE_LEFT 1015
#define IDC_MIDI_RANGE_RIGHT 1016
#define IDC_MIDI_DELAY_LABEL 1017
#define IDC_MIDI_CHANNEL_LABEL 1018
#define IDC_MIDI_RANGE_LABEL 1019
#define IDC_MIDI_APPLY 1024
