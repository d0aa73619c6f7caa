// Resource and control ids of the host's own About box.
#pragma once

#define IDD_ABOUTBOX 140
#define IDC_ABOUT_TITLE 1001
#define IDC_ABOUT_VERSION 1002
