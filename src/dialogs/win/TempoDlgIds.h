// Resource and control ids of the Tempo window. Plain definitions only: the resource compiler
// reads this file too.
#pragma once

#define IDD_TEMPO 132
#define IDC_TEMPO_SPIN 1004
#define IDC_TEMPO_VALUE 1005
#define IDC_TEMPO_TAP 1024
