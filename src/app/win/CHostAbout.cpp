// The About box has no behaviour of its own: its template carries the texts and the OK button.
#include "app/win/CHostAbout.h"
