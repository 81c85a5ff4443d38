// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
// FerrikDlg: the settings file and the options dialog.
#include <QCheckBox>
#include <QCoreApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QSpinBox>
#include <QStandardPaths>
#include <QThread>

#include <memory>
#include <string>

#include "FerMsgHistoryModel.h"
#include "FerrikDlg.h"
#include "FerrikOptions.h"
#include "SettingsFile.h"
#include "SettingsLocation.h"
#include "SettingsSync.h"
#include "ui_FerrikOptionsDlg.h"

namespace {

// Set only by tests (FerrikDlg::setSettingsDirectories).
QString& programDirOverride() {
    static QString dir;
    return dir;
}

QString& userConfigDirOverride() {
    static QString dir;
    return dir;
}

std::string utf8(const QString& text) {
    return text.toUtf8().toStdString();
}

QString fromUtf8(const std::string& bytes) {
    return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

// How long a save waits for another console's, and when a held lock counts as abandoned (a
// console that hangs while it saves); a save takes milliseconds.
constexpr int kLockWaitMs = 5000;
constexpr int kStaleLockMs = 30000;
// QLockFile's own wait sleeps 100 ms, then twice as long each time: a console that saves often
// would keep the other one waiting for seconds. Polling often takes the lock soon after it is
// free.
constexpr int kLockPollMs = 2;

bool takeLock(QLockFile& lock) {
    QElapsedTimer waited;
    waited.start();
    while (!lock.tryLock(0)) {
        if (lock.error() != QLockFile::LockFailedError || waited.elapsed() > kLockWaitMs) {
            return false;
        }
        QThread::msleep(kLockPollMs);
    }
    return true;
}

// What a save would write of the window's own values.
SettingsValues shownValues(const FerrikDlg& window) {
    SettingsValues values;
    values.host = utf8(window.leHost->currentText());
    values.type = window.cmbConnType->currentIndex();
    for (std::size_t i = 0; i < kFerrikOptions.size(); ++i) {
        values.options[i] = optionValue(window, kFerrikOptions[i]);
    }
    return values;
}

// Hosts that another console remembered join the list; the text being typed stays.
void addRememberedHosts(FerrikDlg& window, const QStringList& hosts) {
    const QString typed = window.leHost->currentText();
    for (const QString& host : hosts) {
        if (window.leHost->findText(host, Qt::MatchExactly | Qt::MatchCaseSensitive) < 0) {
            window.leHost->addItem(host);
        }
    }
    if (window.leHost->currentText() != typed) {
        window.leHost->setEditText(typed);
    }
}

// A name beside `path` that no file has yet: ferrik.xml.unreadable, then .unreadable-2, -3 ...
QString asideName(const QString& path) {
    const QString base = path + QStringLiteral(".unreadable");
    QString name = base;
    for (int n = 2; QFileInfo::exists(name) || QFileInfo(name).isSymLink(); ++n) {
        name = base + QLatin1Char('-') + QString::number(n);
    }
    return name;
}

}  // namespace

void FerrikDlg::setSettingsDirectories(const QString& programDir, const QString& userConfigDir) {
    programDirOverride() = programDir;
    userConfigDirOverride() = userConfigDir;
}

void FerrikDlg::chooseSettingsPath() {
    const QString programDir =
        programDirOverride().isEmpty() ? QCoreApplication::applicationDirPath() : programDirOverride();
    const QString userDir = userConfigDirOverride().isEmpty()
                                ? QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation)
                                : userConfigDirOverride();
    const ferrik::SettingsPaths paths = ferrik::chooseSettingsPaths(programDir, userDir);
    settingsLoadPath = paths.load;
    settingsSavePath = paths.save;
}

bool FerrikDlg::keepUnreadableSettings(const QString& path, const QString& reason) {
    const QString aside = asideName(path);
    if (path != settingsSavePath) {
        // Only read as a starting point; saves go elsewhere and never touch it.
        appendWarning(
            tr("The settings file %1 could not be read (%2); settings are saved to %3")
                .arg(path.toHtmlEscaped(), reason.toHtmlEscaped(), settingsSavePath.toHtmlEscaped()));
        return true;
    }
    if (QFile::rename(path, aside)) {
        appendWarning(tr("The settings file %1 could not be read (%2); it was kept as %3")
                          .arg(path.toHtmlEscaped(), reason.toHtmlEscaped(), aside.toHtmlEscaped()));
        return true;
    }
    appendWarning(tr("The settings file %1 could not be read (%2) nor renamed to %3; "
                     "nothing will be saved to it in this session")
                      .arg(path.toHtmlEscaped(), reason.toHtmlEscaped(), aside.toHtmlEscaped()));
    return false;
}

void FerrikDlg::loadSettings() {
    chooseSettingsPath();
    delete settingsSync;
    settingsSync = new SettingsSync(*historyModel, hostRecords, this);
    connect(settingsSync, &SettingsSync::changedOnDisk, this, &FerrikDlg::reloadSettings);

    SettingsContent content;
    FileIdentity identity;
    QString error;
    const SettingsRead read = readSettingsFile(settingsLoadPath, content, identity, error);
    if (read != SettingsRead::Read) {
        // No file is the first start. A file that is there but cannot be read would be lost by
        // the next save: move it aside now, while the user can still see why.
        if (read == SettingsRead::Unreadable) {
            settingsSaveBlocked = !keepUnreadableSettings(settingsLoadPath, error);
        }
        settingsSync->start(settingsSavePath, SettingsValues(), shownValues(*this), FileIdentity());
        return;
    }
    const SettingsValues& values = content.values;

    // An index the combo box does not have would leave no connection type selected.
    if (values.type && *values.type >= 0 && *values.type < cmbConnType->count()) {
        cmbConnType->setCurrentIndex(*values.type);
    }

    hostRecords = content.hosts;
    for (const auto& [host, record] : hostRecords) {
        leHost->addItem(fromUtf8(host));
    }

    const QString host = fromUtf8(values.host.value_or(std::string()));
    leHost->setEditText(host);
    const int item = leHost->findText(host, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (item >= 0) {
        leHost->setCurrentIndex(item);
    }
    const QString formLogin = leLogin->text();
    const QString formDomain = leDomain->text();
    updateCreds(host);
    // The form's password is that of its own login. Passwords are never stored, so a remembered
    // login that replaced the form's comes without one: leave the field to the user.
    if (leLogin->text() != formLogin || leDomain->text() != formDomain) {
        lePassword->clear();
        lePassword->setFocus();
    }

    for (std::size_t i = 0; i < kFerrikOptions.size(); ++i) {
        setOptionValue(*this, kFerrikOptions[i], values.options[i].value_or(kFerrikOptions[i].whenMissing));
    }

    for (const HistoryEntry& entry : std::as_const(content.history)) {
        historyModel->addEntry(entry);
    }
    settingsSync->start(settingsSavePath, values, shownValues(*this),
                        settingsLoadPath == settingsSavePath ? identity : FileIdentity());
}

void FerrikDlg::saveSettings() {
    writeSettings(false);
}

void FerrikDlg::writeSettings(bool historyModelBusy) {
    if (settingsSavePath.isEmpty() || settingsSaveBlocked || settingsSync == nullptr) {
        return;
    }
    // Said once per run of failures, not at every save; the state in memory is unaffected.
    const auto failed = [this](const QString& reason) {
        if (!saveFailureShown) {
            saveFailureShown = true;
            appendWarning(
                tr("The settings could not be saved to %1 (%2); remembered packets and hosts will be "
                   "lost at exit")
                    .arg(settingsSavePath.toHtmlEscaped(), reason.toHtmlEscaped()));
        }
    };
    // Other consoles read, merge and write the same file: one at a time. The lock of a console
    // that died is taken over at once (QLockFile knows its process is gone).
    QLockFile lock(settingsSavePath + QStringLiteral(".lock"));
    lock.setStaleLockTime(kStaleLockMs);
    if (!takeLock(lock)) {
        failed(lock.error() == QLockFile::LockFailedError
                   ? tr("another console holds its lock file %1").arg(lock.fileName())
                   : tr("the lock file %1 cannot be created").arg(lock.fileName()));
        return;
    }
    removeLeftoverTemporaries(settingsSavePath);

    SettingsContent theirs;
    FileIdentity identity;
    QString error;
    // Nobody wrote the file since this console last read or wrote it: what this console has is
    // the whole of it, as when there is no file, and it need not be read again.
    const bool unchanged = !settingsSync->isBehind() && settingsSync->identity() != FileIdentity() &&
                           identityOf(settingsSavePath) == settingsSync->identity();
    const SettingsRead read =
        unchanged ? SettingsRead::Missing : readSettingsFile(settingsSavePath, theirs, identity, error);
    if (read == SettingsRead::Unreadable) {
        // Not written by a console (those replace it whole): kept aside, as at the start.
        if (!keepUnreadableSettings(settingsSavePath, error)) {
            settingsSaveBlocked = true;
            return;
        }
    } else if (read == SettingsRead::Read) {
        addRememberedHosts(*this, settingsSync->takeIn(theirs, identity, historyModelBusy));
    }
    const SettingsValues shown = shownValues(*this);
    const SettingsContent content =
        settingsSync->toWrite(shown, read == SettingsRead::Read ? &theirs.values : nullptr);
    if (writeSettingsFile(settingsSavePath, content, error) != 0) {
        failed(error);
        return;
    }
    saveFailureShown = false;
    settingsSync->saved(content, shown, identityOf(settingsSavePath));
}

void FerrikDlg::reloadSettings() {
    if (settingsSync == nullptr || settingsSaveBlocked) {
        return;
    }
    if (!settingsSync->isBehind() && identityOf(settingsSavePath) == settingsSync->identity()) {
        return;  // our own save, or nothing new
    }
    SettingsContent theirs;
    FileIdentity identity;
    QString error;
    // No lock: every save replaces the file whole, so a read sees one save or the next. A file
    // that is gone or unreadable is left to the next save.
    if (readSettingsFile(settingsSavePath, theirs, identity, error) == SettingsRead::Read) {
        addRememberedHosts(*this, settingsSync->takeIn(theirs, identity));
    }
}

void FerrikDlg::showOptionsDlg() {
    auto dialog = std::make_unique<QDialog>();
    Ui::FerrikOptionsDlg form;
    form.setupUi(dialog.get());
    dialog->resize(dialog->size().expandedTo(dialog->minimumSizeHint()));

    // The dialog's widget of an option: a check box for a flag, a spin box for a number.
    const auto valueIn = [&dialog](const FerrikOption& option) {
        if (option.number != nullptr) {
            return dialog->findChild<QSpinBox*>(QLatin1String(option.dialogWidget))->value();
        }
        return dialog->findChild<QCheckBox*>(QLatin1String(option.dialogWidget))->isChecked() ? 1 : 0;
    };
    for (const FerrikOption& option : kFerrikOptions) {
        if (option.dialogWidget == nullptr) {
            continue;
        }
        const int value = optionValue(*this, option);
        if (option.number != nullptr) {
            dialog->findChild<QSpinBox*>(QLatin1String(option.dialogWidget))->setValue(value);
        } else {
            dialog->findChild<QCheckBox*>(QLatin1String(option.dialogWidget))->setChecked(value != 0);
        }
    }

    if (dialog->exec() != QDialog::Accepted) {
        return;
    }
    // Raw mode first, and applied to a live connection only when it changed; then the rest.
    if (raw != form.cbRaw->isChecked()) {
        raw = form.cbRaw->isChecked();
        cbRaw_toggled(raw);
    }
    for (const FerrikOption& option : kFerrikOptions) {
        if (option.dialogWidget != nullptr && option.flag != &FerrikDlg::raw) {
            setOptionValue(*this, option, valueIn(option));
        }
    }
    saveSettings();
}
