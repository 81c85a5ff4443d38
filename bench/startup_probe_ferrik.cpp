// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
// Start-up probe: what Ferrik's main() does, up to the window being shown (exposed), then exit.
#include <QApplication>
#include <QTest>

#include "FerrikDlg.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    FerrikDlg window;
    window.show();
    return QTest::qWaitForWindowExposed(&window) ? 0 : 1;
}
