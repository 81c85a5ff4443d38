// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
// The settings file of the real window: what a first start writes, what a load restores, the
// options dialog, the history actions that save at once, and the faults of the settings file
// (unreadable file, failed save, a save killed half-way).
#include <gtest/gtest.h>

#include "qt_test_support.h"

#include <QApplication>
#include <QCheckBox>
#include <QContextMenuEvent>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QProcess>
#include <QPushButton>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include "model_tester.h"

#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "FerMsgHistoryModel.h"
#include "FerrikDlg.h"
#include "FerrikHistoryFilter.h"
#include "OVLFunctionalityCore/OVLRealm.h"
#include "OVLMessage/OVLElement.h"
#include "OVLMessage/OVLMessage.h"

namespace {

QString packet(const QString& target, const QString& function) {
    return QStringLiteral("<packet><target>%1</target><data><%1><%2/></%1></data></packet>")
        .arg(target, function);
}

QStringList labels(const QAbstractItemModel& model, const QModelIndex& group) {
    QStringList names;
    for (int row = 0; row < model.rowCount(group); ++row) {
        names << model.index(row, 0, group).data().toString();
    }
    return names;
}

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

// Each test keeps its settings in a directory of its own; the seam is put back afterwards.
class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir.isValid());
        FerrikDlg::setSettingsDirectories(dir.path(), dir.filePath("user"));
    }

    QString file() const { return dir.filePath("ferrik.xml"); }

    // The saved file, parsed; fails the test when it does not parse.
    OVL::OVLMessagePtr saved() const {
        OVL::OVLMessagePtr message = OVL::OVLMessage::getFactory()->createNew();
        EXPECT_EQ(message->load(QFile::encodeName(file()).constData()), 0) << message->getError();
        return message;
    }

    int savedHistoryCount() const {
        OVL::OVLMessageIterator it = saved()->getIterator();
        if (it.moveTo("history") != 0) {
            return 0;
        }
        int count = 1;
        while (it.moveToNext("history") == 0) {
            ++count;
        }
        return count;
    }

    static QString historyText(const FerrikDlg& window) {
        ferrik_test::finishAppending(window);
        return window.histOutput->toPlainText();
    }

    QTemporaryDir dir;
};

TEST_F(SettingsTest, FirstStartWritesExactlyTheDefaults) {
    {
        FerrikDlg window;
        EXPECT_FALSE(window.raw);
        EXPECT_TRUE(window.scroll);
        EXPECT_TRUE(window.indent_output);
        EXPECT_FALSE(window.strip_namespaces);
        EXPECT_TRUE(window.substitiotions);
        EXPECT_EQ(window.tab, 4);
        EXPECT_FALSE(window.cbClearInput->isChecked());
        EXPECT_EQ(window.settingsPath(), file());
        EXPECT_FALSE(QFile::exists(file()));
        EXPECT_EQ(historyText(window), "");
    }
    OVL::OVLMessagePtr message = saved();
    EXPECT_STREQ(message->getRootName(), "config");
    OVL::OVLMessageIterator it = message->getIterator();
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"host", ""},
        {"type", "2"},
        {"raw", "0"},
        {"scroll", "1"},
        {"clear_input", "0"},
        {"indent_output", "1"},
        {"strip_namespaces", "0"},
        {"substitiotions", "1"},
        {"tab", "4"},
    };
    OVL::OVLMessageIterator child(it);
    ASSERT_EQ(child.moveToFirstChild(), 0);
    for (const auto& [name, value] : expected) {
        EXPECT_EQ(child.getName(), name);
        std::string text;
        child.getText(text);
        EXPECT_EQ(text, value) << name;
        const int moved = child.moveToNextSibling();
        if (name != "tab") {
            ASSERT_EQ(moved, 0) << "after " << name;
        } else {
            EXPECT_NE(moved, 0) << "nothing after tab: " << child.getName();
        }
    }
    // Neither the form's password nor any other password reaches the file.
    EXPECT_FALSE(readAll(file()).contains("5t6y7u"));
}

TEST_F(SettingsTest, AFileWithOnlyTheHostTakesTheMissingKeyValues) {
    writeFile(file(), "<config><host>somewhere</host></config>");
    FerrikDlg window;
    EXPECT_EQ(window.leHost->currentText(), "somewhere");
    EXPECT_EQ(window.leHost->count(), 0);
    EXPECT_EQ(window.cmbConnType->currentIndex(), 2);
    EXPECT_FALSE(window.raw);
    EXPECT_TRUE(window.scroll);
    EXPECT_TRUE(window.indent_output);
    EXPECT_FALSE(window.strip_namespaces);
    EXPECT_FALSE(window.substitiotions);
    EXPECT_EQ(window.tab, 0);
    EXPECT_EQ(window.leLogin->text(), "peadmin");
    EXPECT_EQ(historyText(window), "") << "a readable file gives no warning";
}

TEST_F(SettingsTest, ValuesOfTheFileAreRestoredAndATypeOutOfRangeIsIgnored) {
    writeFile(file(),
              "<config><type>3</type><raw>1</raw><scroll>0</scroll><clear_input>1</clear_input>"
              "<indent_output>0</indent_output><strip_namespaces>1</strip_namespaces>"
              "<substitiotions>1</substitiotions><tab>2</tab></config>");
    {
        FerrikDlg window;
        EXPECT_EQ(window.cmbConnType->currentIndex(), 3);
        EXPECT_TRUE(window.raw);
        EXPECT_FALSE(window.scroll);
        EXPECT_TRUE(window.cbClearInput->isChecked());
        EXPECT_FALSE(window.indent_output);
        EXPECT_TRUE(window.strip_namespaces);
        EXPECT_TRUE(window.substitiotions);
        EXPECT_EQ(window.tab, 2);
    }
    writeFile(file(), "<config><type>7</type></config>");
    FerrikDlg window;
    EXPECT_EQ(window.cmbConnType->currentIndex(), 2);
}

HostRecord record(const std::string& login, const std::string& domain, const OVL::OVLGUID& realm,
                  OVL::OVLRealmList realms = {}) {
    HostRecord result;
    result.auth = OVL::OVLAuthName(login, domain, realm, "secret-password");
    result.realms = std::move(realms);
    return result;
}

TEST_F(SettingsTest, ARememberedHostRestoresLoginDomainAndRealmNeverThePassword) {
    OVL::OVLGUID lab;
    ASSERT_EQ(lab.fromString("0d8e2c1a-7b3f-4c55-9a10-3e5f7d9b1c42"), 0);
    OVL::OVLGUID other;
    ASSERT_EQ(other.fromString("11111111-2222-4333-8444-555555555555"), 0);
    OVL::OVLRealmList realms;
    realms.push_back(boost::shared_ptr<OVL::OVLRealm>(new OVL::OVLSystemRealm));
    auto local = boost::shared_ptr<OVL::OVLLocalRealm>(new OVL::OVLLocalRealm);
    local->setID(lab);
    local->setName(QString::fromUtf8("Läb").toStdString());
    realms.push_back(local);
    {
        FerrikDlg window;
        window.hostRecords["alpha"] = record("bob", "corp", lab, realms);
        window.hostRecords["beta"] = record("carol", "", OVL::OVLRealm::systemRealmID);
        window.hostRecords["gamma"] = record("dave", "d", other);
        window.leHost->setEditText("alpha");
    }
    EXPECT_FALSE(readAll(file()).contains("secret-password"));
    {
        FerrikDlg window;
        ASSERT_EQ(window.leHost->count(), 3);
        EXPECT_EQ(window.leHost->itemText(0), "alpha");
        EXPECT_EQ(window.leHost->currentIndex(), 0);
        EXPECT_EQ(window.leLogin->text(), "bob");
        EXPECT_EQ(window.leDomain->text(), "corp");
        EXPECT_EQ(window.lePassword->text(), "") << "bob's password is not the form's";
        ASSERT_EQ(window.leRealm->count(), 2);
        EXPECT_EQ(window.leRealm->itemText(0), "System");
        EXPECT_EQ(window.leRealm->currentText(), QString::fromUtf8("Läb"));
        EXPECT_TRUE(window.hostRecords.at("alpha").realms == realms);
        EXPECT_EQ(window.hostRecords.at("alpha").auth.getPassword(), "");

        // Choosing a host from the list fills the form; a host without realms shows its id.
        window.updateCreds("beta");
        EXPECT_EQ(window.leLogin->text(), "carol");
        EXPECT_EQ(window.leDomain->text(), "");
        EXPECT_EQ(window.leRealm->currentText(), "System");
        window.updateCreds("gamma");
        EXPECT_EQ(window.leRealm->currentText(), QString::fromStdString(other.toString()));
        window.updateCreds("unknown");
        EXPECT_EQ(window.leLogin->text(), "dave");
        window.leHost->setEditText("nowhere");
    }
    FerrikDlg window;
    EXPECT_EQ(window.leHost->currentText(), "nowhere");
    EXPECT_EQ(window.leHost->currentIndex(), 0) << "the first item stays current, as added";
    EXPECT_EQ(window.leLogin->text(), "peadmin");
}

// Passwords are never stored: after a restart, a remembered login that replaced the form's comes
// with an empty password field that has the focus, never with the form's default password, which
// is its own login's. The form's own login keeps it, as a first start and an unknown host do.
TEST_F(SettingsTest, ARememberedLoginComesWithAnEmptyFocusedPasswordField) {
    {
        FerrikDlg window;
        EXPECT_EQ(window.lePassword->text(), "5t6y7u");
        EXPECT_NE(window.focusWidget(), window.lePassword);
        window.hostRecords["lab"] = record("admin", "", OVL::OVLRealm::systemRealmID);
        window.hostRecords["demo"] = record("peadmin", "", OVL::OVLRealm::systemRealmID);
        window.hostRecords["corp"] = record("peadmin", "corp", OVL::OVLRealm::systemRealmID);
        window.leHost->setEditText("lab");
    }
    const struct {
        const char* host;
        const char* login;
        const char* password;
    } cases[] = {
        {"lab", "admin", ""},
        {"demo", "peadmin", "5t6y7u"},
        {"corp", "peadmin", ""},  // another domain is another login
        {"nowhere", "peadmin", "5t6y7u"},
    };
    for (const auto& c : cases) {
        QByteArray text = readAll(file());
        const qsizetype at = text.indexOf("<host>");
        text.replace(at, text.indexOf("</host>") - at, QByteArray("<host>") + c.host);
        writeFile(file(), text);
        FerrikDlg window;
        EXPECT_EQ(window.leHost->currentText(), c.host);
        EXPECT_EQ(window.leLogin->text(), c.login) << c.host;
        EXPECT_EQ(window.lePassword->text(), c.password) << c.host;
        EXPECT_EQ(window.focusWidget() == window.lePassword, QString(c.password).isEmpty()) << c.host;
    }
}

TEST_F(SettingsTest, NonAsciiHostsAndPacketsSurviveSaveAndLoad) {
    const QString host = QString::fromUtf8("hôst-名前.example");
    const QString text = QString::fromUtf8(
        "<packet><target>ziel</target><data><ziel><größe x=\"é\">\n\t😀"
        "</größe></ziel></data></packet>");
    {
        FerrikDlg window;
        window.hostRecords[host.toUtf8().toStdString()] = record("ü", "ß", OVL::OVLRealm::systemRealmID);
        window.leHost->setEditText(host);
        window.teInput->setPlainText(text);
        window.addToHistory();
    }
    FerrikDlg window;
    EXPECT_EQ(window.leHost->currentText(), host);
    EXPECT_EQ(window.leHost->itemText(0), host);
    EXPECT_EQ(window.leLogin->text(), QString::fromUtf8("ü"));
    const QModelIndex group = window.historyModel->index(0, 0);
    EXPECT_EQ(group.data().toString(), "ziel");
    const QModelIndex entry = window.historyModel->index(0, 0, group);
    EXPECT_EQ(entry.data().toString(), QString::fromUtf8("größe"));
    window.histPop(entry);
    EXPECT_EQ(window.teInput->toPlainText(), text);
}

// Runs the options dialog of `window`; `use` acts on the open dialog and returns the button
// to press.
void runOptions(FerrikDlg& window, const std::function<const char*(QDialog&)>& use) {
    bool seen = false;
    QTimer::singleShot(0, [&] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        seen = true;
        auto* button = dialog->findChild<QPushButton*>(use(*dialog));
        ASSERT_NE(button, nullptr);
        button->click();
    });
    window.showOptionsDlg();
    EXPECT_TRUE(seen);
}

TEST_F(SettingsTest, OptionsDialogCancelWritesNothingOkWrites) {
    FerrikDlg window;
    runOptions(window, [](QDialog& dialog) {
        EXPECT_EQ(dialog.windowTitle(), "Ferrik options");
        EXPECT_EQ(dialog.objectName(), "FerrikOptionsDlg");
        EXPECT_EQ(dialog.parentWidget(), nullptr);
        EXPECT_FALSE(dialog.findChild<QCheckBox*>("cbRaw")->isChecked());
        EXPECT_TRUE(dialog.findChild<QCheckBox*>("cbScroll")->isChecked());
        EXPECT_TRUE(dialog.findChild<QCheckBox*>("cbSubstitutions")->isChecked());
        EXPECT_EQ(dialog.findChild<QSpinBox*>("sbTabSize")->value(), 4);
        EXPECT_TRUE(dialog.findChild<QPushButton*>("okButton")->isDefault());
        dialog.findChild<QCheckBox*>("cbRaw")->setChecked(true);
        dialog.findChild<QSpinBox*>("sbTabSize")->setValue(8);
        return "cancelButton";
    });
    EXPECT_FALSE(QFile::exists(file()));
    EXPECT_FALSE(window.raw);
    EXPECT_EQ(window.tab, 4);

    runOptions(window, [](QDialog&) { return "okButton"; });
    ASSERT_TRUE(QFile::exists(file()));

    runOptions(window, [](QDialog& dialog) {
        dialog.findChild<QCheckBox*>("cbRaw")->setChecked(true);
        dialog.findChild<QCheckBox*>("cbScroll")->setChecked(false);
        dialog.findChild<QCheckBox*>("cbIndent")->setChecked(false);
        dialog.findChild<QCheckBox*>("cbStripNamespaces")->setChecked(true);
        dialog.findChild<QCheckBox*>("cbSubstitutions")->setChecked(false);
        dialog.findChild<QSpinBox*>("sbTabSize")->setValue(0);
        return "okButton";
    });
    EXPECT_TRUE(window.raw);
    EXPECT_FALSE(window.scroll);
    EXPECT_FALSE(window.indent_output);
    EXPECT_TRUE(window.strip_namespaces);
    EXPECT_FALSE(window.substitiotions);
    EXPECT_EQ(window.tab, 0);
    OVL::OVLMessageIterator it = saved()->getIterator();
    bool value = false;
    int tab = -1;
    EXPECT_EQ(it.readBool("raw", value), 0);
    EXPECT_TRUE(value);
    EXPECT_EQ(it.readBool("substitiotions", value), 0);
    EXPECT_FALSE(value);
    EXPECT_EQ(it.readInt("tab", tab), 0);
    EXPECT_EQ(tab, 0);
}

TEST_F(SettingsTest, EveryHistoryChangeIsInTheFileAtOnce) {
    FerrikDlg window;
    CheckedModelTester tester(window.historyModel);
    FerrikHistoryView* view = window.lstHistory;
    EXPECT_EQ(view->editTriggers(), QAbstractItemView::EditKeyPressed);
    EXPECT_EQ(view->model()->headerData(0, Qt::Horizontal).toString(), "Target");

    window.teInput->setPlainText(packet("sys", "ping"));
    QTest::mouseClick(window.btnRemember, Qt::LeftButton);
    EXPECT_EQ(savedHistoryCount(), 1);
    QTest::mouseClick(window.btnRemember, Qt::LeftButton);
    EXPECT_EQ(savedHistoryCount(), 2);
    window.teInput->setPlainText("not a packet");
    QTest::mouseClick(window.btnRemember, Qt::LeftButton);
    EXPECT_EQ(savedHistoryCount(), 3);

    FerMsgHistoryModel* model = window.historyModel;
    // The view shows the filter's indexes (everything while the field is empty).
    const auto shown = [&window](const QModelIndex& index) {
        return window.historyFilter->mapFromSource(index);
    };
    ASSERT_EQ(model->rowCount(), 2);
    const QModelIndex invalid = model->index(0, 0);
    const QModelIndex sys = model->index(1, 0);
    EXPECT_EQ(sys.data().toString(), "sys");
    ASSERT_EQ(model->rowCount(sys), 2);

    // Recall: a group leaves the editor as it is; an entry replaces all of its text.
    window.teInput->setPlainText("typed");
    emit view->activated(sys);
    EXPECT_EQ(window.teInput->toPlainText(), "typed");
    view->expandAll();
    const QModelIndex first = model->index(0, 0, sys);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    const QRect rect = view->visualRect(shown(first));
    ASSERT_TRUE(view->viewport()->rect().contains(rect.center())) << rect.x() << "," << rect.y();
    // A double click as the platform delivers it: press, release, then press with double click.
    QTest::mouseClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, rect.center());
    QTest::mouseDClick(view->viewport(), Qt::LeftButton, Qt::NoModifier, rect.center());
    EXPECT_EQ(window.teInput->toPlainText(), packet("sys", "ping"));
    EXPECT_EQ(view->indexWidget(shown(first)), nullptr) << "a double click does not edit";

    // Rename through the edit key: the editor starts empty and the label is saved at once.
    view->setCurrentIndex(shown(first));
    view->setFocus();
    QTest::keyClick(view, Qt::Key_F2);
    auto* editor = qobject_cast<QLineEdit*>(view->indexWidget(shown(first)));
    ASSERT_NE(editor, nullptr);
    EXPECT_EQ(editor->text(), "");
    editor->insert(QString::fromUtf8("Pïng"));
    QTest::keyClick(editor, Qt::Key_Return);
    QCoreApplication::processEvents();  // the delegate commits through a queued call
    EXPECT_EQ(first.data().toString(), QString::fromUtf8("Pïng"));
    {
        std::string label;
        OVL::OVLMessageIterator it = saved()->getIterator();
        ASSERT_EQ(it.moveTo("history"), 0);
        ASSERT_EQ(it.moveToNext("history"), 0);  // "Invalid Messages" comes first
        it.readText(OVL::OVLElement::Label, label);
        EXPECT_EQ(label, "Pïng");
    }
    // Renaming to an empty text is accepted.
    view->setCurrentIndex(shown(first));
    view->renameItem();
    editor = qobject_cast<QLineEdit*>(view->indexWidget(shown(first)));
    ASSERT_NE(editor, nullptr);
    QTest::keyClick(editor, Qt::Key_Return);
    QCoreApplication::processEvents();
    EXPECT_EQ(first.data().toString(), "");

    // Rename and delete on a group change and save nothing.
    const QByteArray before = readAll(file());
    view->setCurrentIndex(shown(sys));
    view->renameItem();
    EXPECT_EQ(view->indexWidget(shown(sys)), nullptr);
    view->deleteItem();
    EXPECT_EQ(model->rowCount(sys), 2);
    EXPECT_EQ(readAll(file()), before);

    // Delete acts on the current entry; the last one leaves its empty group until restart.
    view->setCurrentIndex(shown(model->index(1, 0, sys)));
    view->deleteItem();
    EXPECT_EQ(savedHistoryCount(), 2);
    view->setCurrentIndex(shown(model->index(0, 0, invalid)));
    view->deleteItem();
    EXPECT_EQ(savedHistoryCount(), 1);
    EXPECT_EQ(model->rowCount(), 2);
    EXPECT_EQ(model->rowCount(model->index(0, 0)), 0);

    FerrikDlg restarted;
    EXPECT_EQ(restarted.historyModel->rowCount(), 1);
    EXPECT_EQ(restarted.historyModel->index(0, 0).data().toString(), "sys");
}

TEST_F(SettingsTest, AFilteredTreeRecallsRenamesAndDeletesTheEntryItShows) {
    FerrikDlg window;
    CheckedModelTester tester(window.historyFilter);
    for (const char* function : {"ping", "reset", "status"}) {
        window.teInput->setPlainText(packet("sys", function));
        window.addToHistory();
    }
    window.teInput->setPlainText(packet("disk", "reset"));
    window.addToHistory();
    FerrikHistoryView* view = window.lstHistory;
    FerMsgHistoryModel* model = window.historyModel;
    const QModelIndex sys = model->index(1, 0);

    // Only the second entry of "sys" matches: it is row 0 of the view, row 1 of the history.
    QTest::keyClicks(window.editHistoryFilter, "SYS><RES");
    ASSERT_EQ(view->model()->rowCount(), 1);
    const QModelIndex group = view->model()->index(0, 0);
    ASSERT_EQ(view->model()->rowCount(group), 1);
    const QModelIndex shown = view->model()->index(0, 0, group);
    EXPECT_TRUE(view->isExpanded(group));

    emit view->activated(shown);
    EXPECT_EQ(window.teInput->toPlainText(), packet("sys", "reset"));

    view->setCurrentIndex(shown);
    view->renameItem();
    auto* editor = qobject_cast<QLineEdit*>(view->indexWidget(shown));
    ASSERT_NE(editor, nullptr);
    editor->insert("renamed");
    QTest::keyClick(editor, Qt::Key_Return);
    QCoreApplication::processEvents();
    EXPECT_EQ(labels(*model, sys), QStringList({"ping", "renamed", "status"}));

    view->setCurrentIndex(view->model()->index(0, 0, view->model()->index(0, 0)));
    view->deleteItem();
    EXPECT_EQ(labels(*model, sys), QStringList({"ping", "status"}));
    EXPECT_EQ(model->rowCount(model->index(0, 0)), 1) << "the other target is untouched";
    EXPECT_EQ(savedHistoryCount(), 3);
    EXPECT_EQ(view->model()->rowCount(), 0) << "a group without a match is not shown";

    window.editHistoryFilter->clear();
    EXPECT_EQ(view->model()->rowCount(), 2);
    EXPECT_EQ(view->model()->rowCount(view->model()->index(1, 0)), 2);
}

TEST_F(SettingsTest, ExportedHistoryImportsIntoAnEmptyOneOnceAndBrokenFilesChangeNothing) {
    const QString shared = dir.filePath("shared.xml");
    QList<HistoryEntry> exported;
    {
        FerrikDlg window;
        window.teInput->setPlainText(packet("sys", "ping"));
        window.addToHistory();
        window.teInput->setPlainText(QString::fromUtf8("not a packet: ünï & <"));
        window.addToHistory();
        window.teInput->setPlainText(packet(QString::fromUtf8("Ziel"), "f"));
        window.addToHistory();
        window.historyModel->setData(window.historyModel->index(0, 0, window.historyModel->index(0, 0)),
                                     "label", Qt::EditRole);
        // A filter narrows the tree, not the export.
        window.editHistoryFilter->setText("ping");
        int asked = 0;
        window.chooseExportFile = [&] { return ++asked == 1 ? QString() : shared; };
        window.lstHistory->exportAction()->trigger();  // cancelled
        EXPECT_FALSE(QFile::exists(shared));
        window.lstHistory->exportAction()->trigger();
        EXPECT_EQ(asked, 2);
        exported = window.historyModel->entries();
        EXPECT_TRUE(historyText(window).contains("History exported to " + shared + ": 3 packet"))
            << historyText(window).toStdString();
        // A directory that does not exist: refused, said why, and nothing is left behind.
        EXPECT_FALSE(window.exportHistory(dir.filePath("missing/shared.xml")));
        EXPECT_TRUE(historyText(window).contains("Error: The history could not be exported to"));
    }
    ASSERT_EQ(exported.size(), 3);
    ASSERT_TRUE(QFile::remove(file()));

    FerrikDlg window;
    ASSERT_EQ(window.historyModel->rowCount(), 0);
    window.chooseImportFile = [&] { return QString(shared); };
    window.lstHistory->importAction()->trigger();
    EXPECT_EQ(window.historyModel->entries(), exported);
    EXPECT_TRUE(historyText(window).contains("3 added, 0 skipped")) << historyText(window).toStdString();
    EXPECT_EQ(savedHistoryCount(), 3) << "an import is saved at once";
    window.lstHistory->importAction()->trigger();
    EXPECT_EQ(window.historyModel->entries(), exported);
    EXPECT_TRUE(historyText(window).contains("0 added, 3 skipped")) << historyText(window).toStdString();

    // Not well-formed, and well-formed but no history file: refused with the reason, nothing
    // changes in the history or the settings file.
    const QByteArray before = readAll(file());
    const struct {
        QByteArray text;
        QString said;
    } broken[] = {
        {"<config>\n<history><target>t</target>\n  <label>x</labl></history></config>", "line 3, column"},
        {"<packet><history/></packet>", "its root element is <packet>"},
        {"", "could not be imported"},
    };
    for (const auto& c : broken) {
        writeFile(shared, c.text);
        window.histOutput->clear();
        EXPECT_FALSE(window.importHistory(shared));
        const QString text = historyText(window);
        EXPECT_TRUE(text.contains(c.said) && text.contains("Error:")) << text.toStdString();
        EXPECT_EQ(window.historyModel->entries(), exported);
        EXPECT_EQ(readAll(file()), before);
    }
}

TEST_F(SettingsTest, ContextMenuOffersDeleteRenameExportImport) {
    FerrikDlg window;
    QStringList texts;
    QTimer::singleShot(0, [&] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        ASSERT_NE(menu, nullptr);
        for (QAction* action : menu->actions()) {
            texts << action->text();
            EXPECT_TRUE(action->isEnabled());
        }
        menu->close();
    });
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5),
                            window.lstHistory->mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(window.lstHistory->viewport(), &event);
    EXPECT_TRUE(event.isAccepted());
    EXPECT_EQ(texts, QStringList({"Delete", "Rename", "", "Export...", "Import..."}));
}

TEST_F(SettingsTest, AnUnreadableFileIsKeptAsideBeforeItIsOverwritten) {
    const QByteArray damaged = "<config><host>precious</host><history><target>t";
    writeFile(file(), damaged);
    writeFile(file() + ".unreadable", "an earlier one");
    {
        FerrikDlg window;
        const QString aside = file() + ".unreadable-2";
        EXPECT_EQ(readAll(aside), damaged);
        EXPECT_EQ(readAll(file() + ".unreadable"), "an earlier one");
        const QString text = historyText(window);
        EXPECT_TRUE(text.trimmed().startsWith("WARNING:")) << text.toStdString();
        EXPECT_TRUE(text.contains(file())) << text.toStdString();
        EXPECT_TRUE(text.contains(aside)) << text.toStdString();
        EXPECT_EQ(window.leHost->currentText(), "") << "nothing of the damaged file is used";
        window.teInput->setPlainText(packet("t", "f"));
        window.addToHistory();
    }
    EXPECT_EQ(savedHistoryCount(), 1);
}

TEST_F(SettingsTest, AFailedSaveIsReportedOnce) {
    FerrikDlg window;
    // The program's directory disappears after the start, so no save can succeed.
    ASSERT_TRUE(QDir(dir.path()).removeRecursively());
    window.teInput->setPlainText(packet("t", "f"));
    window.addToHistory();
    window.addToHistory();
    window.saveSettings();
    const QString text = historyText(window);
    EXPECT_EQ(text.count("WARNING:"), 1) << text.toStdString();
    EXPECT_TRUE(text.contains(file()));
    EXPECT_EQ(window.historyModel->rowCount(window.historyModel->index(0, 0)), 2);
}

TEST_F(SettingsTest, AProgramDirectoryThatCannotBeWrittenSendsSavesToTheUserDirectory) {
    const QString missing = dir.filePath("not-there");
    FerrikDlg::setSettingsDirectories(missing, dir.filePath("user/config"));
    {
        FerrikDlg window;
        EXPECT_EQ(window.settingsPath(), dir.filePath("user/config/ferrik.xml"));
        window.leHost->setEditText("kept");
    }
    FerrikDlg window;
    EXPECT_EQ(window.leHost->currentText(), "kept");
}

// A save killed at any moment leaves the previous file or the new one, whole: a child process
// saves a large history over and over and is killed at random times.
TEST_F(SettingsTest, ASaveKilledHalfWayLeavesAWholeFile) {
    if (qEnvironmentVariableIsSet("FERRIK_SAVE_CHILD")) {
        GTEST_SKIP();
    }
    std::mt19937 random(12345);
    for (int round = 0; round < 6; ++round) {
        QProcess child;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("FERRIK_SAVE_CHILD", dir.path());
        child.setProcessEnvironment(environment);
        child.start(
            QCoreApplication::applicationFilePath(),
            {"--gtest_filter=SettingsChild.DISABLED_SavesUntilKilled", "--gtest_also_run_disabled_tests"});
        ASSERT_TRUE(child.waitForStarted());
        QByteArray output;
        while (!output.contains("saved\n")) {
            ASSERT_TRUE(child.waitForReadyRead(20000)) << "the child saves before it reports";
            output += child.readAllStandardOutput();
        }
        QTest::qWait(static_cast<int>(random() % 150));
        child.kill();
        child.waitForFinished();
        const int count = savedHistoryCount();
        EXPECT_GE(count, 2000) << "round " << round;
        EXPECT_EQ(count % 2000, 0) << "round " << round;
    }
}

TEST(SettingsChild, DISABLED_SavesUntilKilled) {
    const QString directory = qEnvironmentVariable("FERRIK_SAVE_CHILD");
    if (directory.isEmpty()) {
        GTEST_SKIP();
    }
    FerrikDlg::setSettingsDirectories(directory, directory);
    FerrikDlg window;
    for (int n = 0;; ++n) {
        for (int i = 0; i < 2000; ++i) {
            window.historyModel->addEntry(
                HistoryEntry(packet(QString("t%1").arg(i % 40), QString("f%1").arg(n))));
        }
        window.saveSettings();
        if (n == 0) {
            std::fputs("saved\n", stdout);
            std::fflush(stdout);
        }
    }
}

}  // namespace
