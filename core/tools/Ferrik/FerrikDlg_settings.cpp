// FerrikDlg: the settings file and the options dialog.
#include <QCheckBox>
#include <QCoreApplication>
#include <QDialog>
#include <QFile>
#include <QFileInfo>
#include <QSpinBox>
#include <QStandardPaths>

#include <memory>
#include <string>

#include "FerMsgHistoryModel.h"
#include "FerrikDlg.h"
#include "FerrikOptions.h"
#include "OVLMessage/OVLMessage.h"
#include "SettingsLocation.h"
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

// The message library takes file names in the local 8-bit encoding.
std::string localPath(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

std::string utf8(const QString& text) {
    return text.toUtf8().toStdString();
}

QString fromUtf8(const std::string& bytes) {
    return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
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

bool FerrikDlg::keepUnreadableSettings(const QString& reason) {
    const QString aside = asideName(settingsLoadPath);
    if (settingsLoadPath != settingsSavePath) {
        // Only read as a starting point; saves go elsewhere and never touch it.
        appendWarning(tr("The settings file %1 could not be read (%2); settings are saved to %3")
                          .arg(settingsLoadPath.toHtmlEscaped(), reason.toHtmlEscaped(),
                               settingsSavePath.toHtmlEscaped()));
        return true;
    }
    if (QFile::rename(settingsLoadPath, aside)) {
        appendWarning(
            tr("The settings file %1 could not be read (%2); it was kept as %3")
                .arg(settingsLoadPath.toHtmlEscaped(), reason.toHtmlEscaped(), aside.toHtmlEscaped()));
        return true;
    }
    appendWarning(tr("The settings file %1 could not be read (%2) nor renamed to %3; "
                     "nothing will be saved to it in this session")
                      .arg(settingsLoadPath.toHtmlEscaped(), reason.toHtmlEscaped(), aside.toHtmlEscaped()));
    return false;
}

void FerrikDlg::loadSettings() {
    chooseSettingsPath();

    OVL::OVLMessagePtr message = OVL::OVLMessage::getFactory()->createNew();
    if (message->load(localPath(settingsLoadPath).c_str()) != 0) {
        // No file is the first start. A file that is there but cannot be read would be lost by
        // the next save: move it aside now, while the user can still see why.
        const QFileInfo file(settingsLoadPath);
        if (file.exists() || file.isSymLink()) {
            settingsSaveBlocked = !keepUnreadableSettings(QString::fromStdString(message->getError()));
        }
        return;
    }
    OVL::OVLMessageIterator it = message->getIterator();

    int type = 0;
    // An index the combo box does not have would leave no connection type selected.
    if (it.readInt("type", type) == 0 && type >= 0 && type < cmbConnType->count()) {
        cmbConnType->setCurrentIndex(type);
    }

    readHostRecords(it, hostRecords);
    for (const auto& [host, record] : hostRecords) {
        leHost->addItem(fromUtf8(host));
    }

    std::string hostBytes;
    it.readText("host", hostBytes);
    const QString host = fromUtf8(hostBytes);
    leHost->setEditText(host);
    const int item = leHost->findText(host, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (item >= 0) {
        leHost->setCurrentIndex(item);
    }
    updateCreds(host);

    for (const FerrikOption& option : kFerrikOptions) {
        int value = option.whenMissing;
        if (option.number != nullptr) {
            if (it.readInt(option.key, value) != 0) {
                value = option.whenMissing;
            }
        } else {
            bool flag = false;
            if (it.readBool(option.key, flag) == 0) {
                value = flag ? 1 : 0;
            }
        }
        setOptionValue(*this, option, value);
    }

    it.read(FerMsgHistoryModel::Reader(), *historyModel);
}

void FerrikDlg::saveSettings() {
    if (settingsSavePath.isEmpty() || settingsSaveBlocked) {
        return;
    }
    OVL::OVLMessagePtr message = OVL::OVLMessage::getFactory()->createNew();
    message->setRootName("config");
    OVL::OVLMessageIterator it = message->getIterator();

    it.writeText("host", utf8(leHost->currentText()));
    it.writeInt("type", cmbConnType->currentIndex());
    for (const FerrikOption& option : kFerrikOptions) {
        it.writeInt(option.key, optionValue(*this, option));
    }
    writeHostRecords(it, hostRecords);
    it.write(FerMsgHistoryModel::Writer(), *historyModel);

    if (message->save(localPath(settingsSavePath).c_str()) != 0) {
        // Said once per run of failures, not at every save; the state in memory is unaffected.
        if (!saveFailureShown) {
            saveFailureShown = true;
            appendWarning(
                tr("The settings could not be saved to %1 (%2); remembered packets and hosts will be "
                   "lost at exit")
                    .arg(settingsSavePath.toHtmlEscaped(),
                         QString::fromStdString(message->getError()).toHtmlEscaped()));
        }
        return;
    }
    saveFailureShown = false;
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
