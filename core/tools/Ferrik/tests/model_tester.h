// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// QAbstractItemModelTester that fails the current GoogleTest test on every model fault it finds,
// except one: the history model answers the root index with Qt::ItemIsEnabled, as documented for
// the window's history tree, where the tester expects no flags or drop-enabled only.

#include <gtest/gtest.h>

#include <QAbstractItemModelTester>
#include <QString>
#include <QStringList>

#include <memory>

class CheckedModelTester {
public:
    explicit CheckedModelTester(QAbstractItemModel* model) {
        failures().clear();
        previous = qInstallMessageHandler(&CheckedModelTester::collect);
        tester = std::make_unique<QAbstractItemModelTester>(
            model, QAbstractItemModelTester::FailureReportingMode::Warning);
    }
    ~CheckedModelTester() {
        tester.reset();
        qInstallMessageHandler(previous);
        EXPECT_TRUE(failures().isEmpty()) << failures().join('\n').toStdString();
    }
    CheckedModelTester(const CheckedModelTester&) = delete;
    CheckedModelTester& operator=(const CheckedModelTester&) = delete;

private:
    static QStringList& failures() {
        static QStringList list;
        return list;
    }
    static void collect(QtMsgType, const QMessageLogContext&, const QString& message) {
        if (message.contains(QLatin1String("FAIL!")) &&
            !message.contains(QLatin1String("flags == Qt::ItemIsDropEnabled || flags == 0"))) {
            failures() << message;
        }
    }

    QtMessageHandler previous = nullptr;
    std::unique_ptr<QAbstractItemModelTester> tester;
};
