// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// The console's main window. It owns every object of the program: the form's widgets, the options,
// the queued-packet buffer and the connection state. Everything here runs on the GUI thread; agent
// callbacks reach it only through queued signals.
//
// The window wires; other classes work: FerrikAgentLink (connection, sending, substitution, realm
// fetch; the agent slots forward to it, FerrikDlg_agent.cpp) and the options table FerrikOptions.
// The rest is split by concern: FerrikDlg.cpp (construction and wiring), FerrikDlg_output.cpp
// (transcript panes), FerrikDlg_status.cpp (status lines), FerrikDlg_find.cpp (find bar),
// FerrikDlg_settings.cpp and FerrikDlg_history.cpp.

#include <QByteArray>
#include <QFuture>
#include <QMetaType>
#include <QModelIndex>
#include <QPointer>
#include <QString>
#include <QWidget>

#include "FerrikAgentLink.h"
#include "FerrikConnHandler.h"
#include "FerrikHandler.h"
#include "HostRecord.h"
#include "OVLCore/OVLGUIDBase.h"
#include "OVLFunctionalityCore/OVLConnectionInfo.h"
#include "OVLFunctionalityCore/OVLEnvConfig.h"
#include "OVLLibAgent/OVLAccessAgentPrototype.h"
#include "OVLLibAgent/OVLAccessPointPrototype.h"
#include "ui_FerrikDlg.h"

#include <functional>
#include <memory>

class FerMsgHistoryModel;
class FerrikHistoryFilter;
class SettingsSync;
class QAction;
class QLabel;
class QLineEdit;
class QTextEdit;
class QTimer;

class FerrikDlg : public QWidget, public Ui::FerrikDlg {
    Q_OBJECT
public:
    explicit FerrikDlg(QWidget* parent = nullptr);
    ~FerrikDlg() override;

    // Adds one entry at the end of pane (FerrikPacketHistory::appendEntry): text as plain text, or
    // as an HTML fragment when html is set, closed by a 90% horizontal rule when rule is set. The
    // view follows the new entry when it stood at the bottom or the `scroll` option is on. A long
    // entry goes in over several turns of the event loop; isAppending() tells whether any entry of
    // either pane is still going in.
    // A toolTip that is not empty is shown over the entry.
    void appendText(FerrikPacketHistory* pane, const QString& text, bool html, bool rule,
                    const QString& toolTip = QString());
    // The same for plain text still being prepared on another thread (a long reply), as the
    // future's results in order: each part shows as soon as it is ready.
    void appendText(FerrikPacketHistory* pane, const QFuture<QString>& text, bool rule,
                    const QString& toolTip = QString());
    bool isAppending() const { return histOutput->isAppending() || histInput->isAppending(); }
    // The red status lines of histOutput, with rule: "WARNING:" or "Error:" followed by html.
    void appendWarning(const QString& html);
    void appendError(const QString& html);
    // The time and size of the reply that comes next (FerrikReplyTimes): shown in labelReply, below
    // the find bar, and as the tool tip of that reply's entry in histOutput.
    void showReplyFigures(const QString& figures);

    // Persistence of options, host records and history in the settings file. The file's path is
    // chosen by loadSettings, once: ferrik.xml beside the executable when that directory is
    // writable, else ferrik.xml in the per-user configuration directory (which starts from the file
    // beside the executable until it exists). A file that exists but cannot be read is renamed
    // aside before anything overwrites it, and the window says so; a failed save is reported once.
    // Several consoles may share the file: a save takes the file's lock, reads what the others
    // saved and writes it together with this console's changes (SettingsSync); when another
    // console saves, the history tree and the host list take in its changes on their own.
    void loadSettings();
    void saveSettings();

    // Test seam: the directories that the settings path is chosen from, instead of the
    // executable's directory and Qt's per-user application configuration directory. Affects
    // windows constructed afterwards; empty texts restore the real directories.
    static void setSettingsDirectories(const QString& programDir, const QString& userConfigDir);

    // The connection parameters of the form: host (cut before a ':'; the number after it is the
    // port, else a warning and the type's default port), credentials, the realm by name from the
    // host's realm list or as identifier text ("System": the system realm), and the type.
    OVL::OVLConnectionInfo connectionInfo();
    // Replaces every ${field:value} in text, left to right, by the identifier of the first
    // environment of the agent whose configuration (or, failing that, second configuration) has
    // that field with that value. 0; -1 when the access point or a placeholder failed (reported in
    // histOutput), text then substituted up to the failing placeholder.
    int substitute(QString& text);
    bool configMatches(const OVL::OVLEnvConfig& config, const QString& field, const QString& value);
    // The path that loads read from and saves write to (valid after loadSettings).
    const QString& settingsPath() const { return settingsSavePath; }

    // Options, known by their settings-file keys.
    bool raw = false;
    bool scroll = true;
    bool indent_output = true;
    bool strip_namespaces = false;
    bool substitiotions = true;
    int tab = 4;  // indentation unit: that many spaces per level, 0 = one tab character

    HostRecords hostRecords;  // per host name (UTF-8), ascending byte order
    FerMsgHistoryModel* historyModel = nullptr;
    // What lstHistory shows: historyModel narrowed to the entries that contain the text of
    // editHistoryFilter, the field above the tree.
    FerrikHistoryFilter* historyFilter = nullptr;
    QLineEdit* editHistoryFilter = nullptr;
    // The history's "Export..." and "Import...": the file name (empty: cancelled) comes from these
    // choosers, by default file dialogs; tests set them. The file is a settings file holding only
    // the history elements. Export writes every entry, whatever the filter shows, atomically.
    // Import adds the file's entries that the history does not hold yet (same target, label and
    // packet) and says how many it added and skipped; a file that does not parse is refused with
    // its line and column, and nothing changes. Both report in histOutput; false on a refusal.
    std::function<QString()> chooseExportFile;
    std::function<QString()> chooseImportFile;
    bool exportHistory(const QString& path);
    bool importHistory(const QString& path);
    QAction* queueAction = nullptr;  // "Queue", Ctrl+Return anywhere in the window
    QTimer* findTimer = nullptr;     // hides the find bar 5 s after a search made outside its field
    QLabel* labelReply = nullptr;    // time and size of the last reply; hidden until one came

    // The connection state and the queued packets (agent, taskHandler, accessPoint, realmAgent,
    // envId, pendingPackets).
    std::unique_ptr<FerrikAgentLink> link;

public slots:
    void connectClicked();
    void send();
    int queue();
    void cbRaw_toggled(bool isRaw);
    void updateCreds(const QString& s);
    void showOptionsDlg();
    void addToHistory();
    void histPop(const QModelIndex& index);
    void findNext();
    void findPrevious();
    void onConnect(OVL::eid_t eid);
    void onDisconnect(const OVL::OVLRequestErrorData& err);
    void onReadFinished(const QString& s);
    void onWriteFinished();
    void getRealms();
    void realmsConnect(OVL::eid_t eid);

protected:
    // Type-to-search on histOutput; stops the hide timer when editFind takes the focus.
    bool eventFilter(QObject* watched, QEvent* event) override;
    // A palette change recolours the find field (FerrikColours.h).
    void changeEvent(QEvent* event) override;

private slots:
    void histroyItemChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight);
    void histroyItemRemoved(const QModelIndex& parent, int start, int end);
    void searchOutput(const QString& text, bool forward = false, bool backward = false);

private:
    void arrangeSplitters();
    void connectSignals();
    void chooseSettingsPath();
    // Renames the unreadable settings file at path aside; false when it is still in the way of a
    // save.
    bool keepUnreadableSettings(const QString& path, const QString& reason);
    // saveSettings; historyModelBusy when called from a signal of the history model.
    void writeSettings(bool historyModelBusy);
    // Takes in what another console saved (SettingsSync::changedOnDisk).
    void reloadSettings();

    QString settingsLoadPath;
    QString settingsSavePath;
    bool settingsSaveBlocked = false;  // an unreadable file could not be renamed aside
    bool saveFailureShown = false;
    SettingsSync* settingsSync = nullptr;  // made by loadSettings
    QString nextReplyTip;                  // figures for the next onReadFinished
    // The find field's Base: white (a dark palette's Base) while the search matches, light red
    // (its dark match) when it matches nothing.
    void colourFindField(bool found);
    bool findNotFound = false;
};
