// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
// Start-up probe: a minimal Qt window with a few widgets, up to being shown (exposed), then exit.
#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTextEdit>
#include <QVBoxLayout>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QWidget window;
    auto* layout = new QVBoxLayout(&window);
    layout->addWidget(new QLineEdit(QStringLiteral("host")));
    layout->addWidget(new QPushButton(QStringLiteral("&Connect")));
    layout->addWidget(new QTextEdit);
    window.resize(840, 842);
    window.show();
    return QTest::qWaitForWindowExposed(&window) ? 0 : 1;
}
