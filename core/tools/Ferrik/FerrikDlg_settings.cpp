// FerrikDlg: the settings file and the options dialog. Not written yet: the window starts with the
// form's and the options' defaults and stores nothing.
#include "FerrikDlg.h"

void FerrikDlg::loadSettings() {}

void FerrikDlg::saveSettings() {}

void FerrikDlg::showOptionsDlg() {}
