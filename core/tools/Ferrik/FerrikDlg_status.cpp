// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
// FerrikDlg: the red status lines of the output pane.
#include "FerrikDlg.h"

namespace {

QString redLine(const char* label, const QString& html) {
    return QStringLiteral("<font color='red'><b>%1</b> %2</font>").arg(QLatin1String(label), html);
}

}  // namespace

void FerrikDlg::appendWarning(const QString& html) {
    appendText(histOutput, redLine("WARNING:", html), true, true);
}

void FerrikDlg::appendError(const QString& html) {
    appendText(histOutput, redLine("Error:", html), true, true);
}
