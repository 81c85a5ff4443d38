// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
// FerrikDlg: remembering and recalling packets, and the history's export and import. Every
// change of the history saves the settings.
#include <QFile>
#include <QSaveFile>

#include <string>
#include <string_view>

#include "FerMsgHistoryModel.h"
#include "FerrikDlg.h"
#include "OVLMessage/OVLMessage.h"
#include "SettingsSync.h"

namespace {

// The root element of the settings file; an exported history is a settings file with nothing
// but its history elements, so either kind of file can be imported.
const char kRootName[] = "config";

}  // namespace

void FerrikDlg::addToHistory() {
    historyModel->addEntry(HistoryEntry(teInput->toPlainText()));
    saveSettings();
}

void FerrikDlg::histPop(const QModelIndex& index) {
    // The tree shows the filter's indexes; the entry's address is in the history model's.
    const QModelIndex source = FerrikHistoryView::sourceIndex(index);
    if (source.internalPointer() == nullptr) {
        return;
    }
    teInput->setPlainText(static_cast<const HistoryEntry*>(source.internalPointer())->packet);
}

// Changes that the history takes in from the settings file are in it already.
void FerrikDlg::histroyItemChanged(const QModelIndex& /*topLeft*/, const QModelIndex& /*bottomRight*/) {
    if (settingsSync == nullptr || !settingsSync->isApplying()) {
        writeSettings(true);
    }
}

void FerrikDlg::histroyItemRemoved(const QModelIndex& /*parent*/, int /*start*/, int /*end*/) {
    if (settingsSync == nullptr || !settingsSync->isApplying()) {
        writeSettings(true);
    }
}

bool FerrikDlg::exportHistory(const QString& path) {
    OVL::OVLMessagePtr message = OVL::OVLMessage::getFactory()->createNew();
    message->setRootName(kRootName);
    OVL::OVLMessageIterator it = message->getIterator();
    if (it.write(FerMsgHistoryModel::Writer(), *historyModel) != 0) {
        appendError(tr("The history could not be exported to %1: a packet holds a character that "
                       "XML cannot carry")
                        .arg(path.toHtmlEscaped()));
        return false;
    }
    const std::string text = message->toString(OVL::OVLMessage::kIndent | OVL::OVLMessage::kDeclaration);
    // Written aside and renamed over the file only when complete.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(text.data(), static_cast<qint64>(text.size())) != static_cast<qint64>(text.size()) ||
        !file.commit()) {
        appendError(tr("The history could not be exported to %1 (%2)")
                        .arg(path.toHtmlEscaped(), file.errorString().toHtmlEscaped()));
        return false;
    }
    appendText(
        histOutput,
        tr("History exported to %1: %n packet(s)", nullptr, static_cast<int>(historyModel->entries().size()))
            .arg(path.toHtmlEscaped()),
        true, true);
    return true;
}

bool FerrikDlg::importHistory(const QString& path) {
    OVL::OVLMessagePtr message = OVL::OVLMessage::getFactory()->createNew();
    if (message->load(QFile::encodeName(path).constData()) != 0) {
        // The error names the line and column of the fault in a file that is not well-formed.
        appendError(
            tr("The history could not be imported from %1: %2")
                .arg(path.toHtmlEscaped(), QString::fromStdString(message->getError()).toHtmlEscaped()));
        return false;
    }
    if (std::string_view(message->getRootName()) != kRootName) {
        appendError(tr("The history could not be imported from %1: its root element is &lt;%2&gt;, "
                       "not &lt;%3&gt;")
                        .arg(path.toHtmlEscaped(), QString::fromUtf8(message->getRootName()).toHtmlEscaped(),
                             QLatin1String(kRootName)));
        return false;
    }
    // The file's entries, read by the settings file's own reader, which leaves out incomplete
    // elements; those count as skipped.
    FerMsgHistoryModel read;
    OVL::OVLMessageIterator it = message->getIterator();
    it.read(FerMsgHistoryModel::Reader(), read);
    int elements = 0;
    if (it.moveTo("history") == 0) {
        do {
            ++elements;
        } while (it.moveToNext("history") == 0);
    }
    int added = 0;
    for (const HistoryEntry& entry : read.entries()) {
        // Also drops repeats within the file: once added, an entry is in the history.
        if (!historyModel->contains(entry)) {
            historyModel->addEntry(entry);
            ++added;
        }
    }
    if (added > 0) {
        saveSettings();
    }
    appendText(histOutput,
               tr("History imported from %1: %2 added, %3 skipped")
                   .arg(path.toHtmlEscaped(), QString::number(added), QString::number(elements - added)),
               true, true);
    return true;
}
