// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
// The history model: entries from packet text, grouping and order, editing and removal under
// QAbstractItemModelTester, and the history elements of the settings file.
#include <gtest/gtest.h>

#include "qt_test_support.h"

#include <QSignalSpy>
#include "model_tester.h"

#include "FerMsgHistoryModel.h"
#include "FerrikHistoryFilter.h"
#include "OVLMessage/OVLElement.h"
#include "OVLMessage/OVLMessage.h"

namespace {

QString packet(const QString& target, const QString& function) {
    return QStringLiteral("<packet><target>%1</target><data><%1><%2 a=\"1\"/></%1></data></packet>")
        .arg(target, function);
}

QStringList groups(const QAbstractItemModel& model) {
    QStringList names;
    for (int row = 0; row < model.rowCount(); ++row) {
        names << model.index(row, 0).data().toString();
    }
    return names;
}

QStringList labels(const QAbstractItemModel& model, int group) {
    QStringList names;
    const QModelIndex parent = model.index(group, 0);
    for (int row = 0; row < model.rowCount(parent); ++row) {
        names << model.index(row, 0, parent).data().toString();
    }
    return names;
}

struct EntryCase {
    QString text;
    QString target;
    QString function;
};

TEST(HistoryEntry, TakesTargetAndFunctionFromThePacket) {
    const EntryCase cases[] = {
        {packet("sysinfo", "getCounters"), "sysinfo", "getCounters"},
        // Not XML at all, and XML that is not well-formed: remembered as invalid, no label.
        {"hello", "Invalid Messages", ""},
        {"<packet><target>x</target>", "Invalid Messages", ""},
        {"", "Invalid Messages", ""},
        // No target: a system message; its label still comes from inside data.
        {"<packet><data><a><ping/></a></data></packet>", "System Messages", "ping"},
        // No element two levels inside data, or no data: no label.
        {"<packet><target>t</target><data><t/></data></packet>", "t", ""},
        {"<packet><target>t</target></packet>", "t", ""},
        // Non-ASCII target and function names.
        {packet(QString::fromUtf8("größe"), QString::fromUtf8("名前")), QString::fromUtf8("größe"),
         QString::fromUtf8("名前")},
    };
    for (const EntryCase& c : cases) {
        const HistoryEntry entry(c.text);
        EXPECT_EQ(entry.packet, c.text);
        EXPECT_EQ(entry.target, c.target) << c.text.toStdString();
        EXPECT_EQ(entry.function, c.function) << c.text.toStdString();
    }
}

class HistoryModelTest : public ::testing::Test {
protected:
    FerMsgHistoryModel model;
    CheckedModelTester tester{&model};
};

TEST_F(HistoryModelTest, GroupsInCodeUnitOrderEntriesInTheOrderAdded) {
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
    model.addEntry(HistoryEntry(packet("sysinfo", "first")));
    model.addEntry(HistoryEntry("not xml"));
    model.addEntry(HistoryEntry("<packet><data/></packet>"));
    model.addEntry(HistoryEntry(packet("Zeta", "z")));
    // A new target between existing ones is announced at the row it takes.
    model.addEntry(HistoryEntry(packet("alpha", "a")));
    ASSERT_EQ(inserted.count(), 5);
    EXPECT_FALSE(inserted.last().at(0).value<QModelIndex>().isValid());
    EXPECT_EQ(inserted.last().at(1).toInt(), 3);
    EXPECT_EQ(groups(model),
              QStringList({"Invalid Messages", "System Messages", "Zeta", "alpha", "sysinfo"}));

    // The same packet twice is two entries, after the first, announced under its group.
    model.addEntry(HistoryEntry(packet("sysinfo", "second")));
    model.addEntry(HistoryEntry(packet("sysinfo", "first")));
    const QModelIndex group = model.index(4, 0);
    EXPECT_EQ(inserted.last().at(0).value<QModelIndex>(), group);
    EXPECT_EQ(inserted.last().at(1).toInt(), 2);
    EXPECT_EQ(labels(model, 4), QStringList({"first", "second", "first"}));
    EXPECT_EQ(model.parent(model.index(2, 0, group)), group);
}

// Each group of the filtered tree with its labels, "group: a b".
QStringList tree(const QAbstractItemModel& model) {
    QStringList rows;
    for (int row = 0; row < model.rowCount(); ++row) {
        QString line = model.index(row, 0).data().toString() + ":";
        for (const QString& label : labels(model, row)) {
            line += " " + label;
        }
        rows << line;
    }
    return rows;
}

TEST_F(HistoryModelTest, FilterKeepsMatchingEntriesAndTheirGroupsOnly) {
    FerrikHistoryFilter filter;
    CheckedModelTester filterTester(&filter);
    filter.setSourceModel(&model);
    model.addEntry(HistoryEntry(packet("sysinfo", "getCounters")));
    model.addEntry(HistoryEntry(packet("sysinfo", "reset")));
    model.addEntry(HistoryEntry(packet("Disk", "listVolumes")));
    model.addEntry(HistoryEntry("plain words"));
    model.addEntry(HistoryEntry(packet("empty", "gone")));
    model.removeRows(0, 1, model.index(2, 0));  // "empty" keeps no entry
    model.setData(model.index(0, 0, model.index(3, 0)), "Renamed Label", Qt::EditRole);

    const struct {
        QString text;
        QStringList shown;
    } cases[] = {
        {"", {"Disk: listVolumes", "Invalid Messages: ", "empty:", "sysinfo: Renamed Label reset"}},
        // Target, label and packet text, in any case; a group named like the text but holding no
        // entry is not kept.
        {"DISK", {"Disk: listVolumes"}},
        {"renamed", {"sysinfo: Renamed Label"}},
        {"getcounters", {"sysinfo: Renamed Label"}},
        {"A=\"1", {"Disk: listVolumes", "sysinfo: Renamed Label reset"}},
        {"WORDS", {"Invalid Messages: "}},
        {"empty", {}},
        {"nowhere", {}},
    };
    for (const auto& c : cases) {
        filter.setFilterText(c.text);
        EXPECT_EQ(tree(filter), c.shown) << c.text.toStdString();
    }

    // While filtered: new entries appear only when they match, a rename that stops matching
    // hides the entry, and the indexes map back to the entries they show.
    filter.setFilterText("sys");
    model.addEntry(HistoryEntry(packet("other", "x")));
    model.addEntry(HistoryEntry(packet("sysinfo", "later")));
    EXPECT_EQ(tree(filter), QStringList({"sysinfo: Renamed Label reset later"}));
    const QModelIndex shown = filter.index(1, 0, filter.index(0, 0));
    const auto* entry = static_cast<const HistoryEntry*>(filter.mapToSource(shown).internalPointer());
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->function, "reset");
    filter.setFilterText("label");
    EXPECT_TRUE(filter.setData(filter.index(0, 0, filter.index(0, 0)), "plain", Qt::EditRole));
    EXPECT_EQ(filter.rowCount(), 0);
    EXPECT_EQ(labels(model, 4), QStringList({"plain", "reset", "later"}));
}

TEST_F(HistoryModelTest, IndexOutsideTheModelIsInvalid) {
    model.addEntry(HistoryEntry(packet("t", "f")));
    const QModelIndex group = model.index(0, 0);
    const QModelIndex entry = model.index(0, 0, group);
    ASSERT_TRUE(entry.isValid());
    EXPECT_FALSE(model.index(1, 0).isValid());
    EXPECT_FALSE(model.index(-1, 0).isValid());
    EXPECT_FALSE(model.index(0, 1).isValid());
    EXPECT_FALSE(model.index(1, 0, group).isValid());
    EXPECT_FALSE(model.index(0, 0, entry).isValid());
    // A parent from another model, whose row this model does not have.
    FerMsgHistoryModel other;
    other.addEntry(HistoryEntry(packet("a", "f")));
    other.addEntry(HistoryEntry(packet("b", "f")));
    EXPECT_FALSE(model.index(0, 0, other.index(1, 0)).isValid());
}

TEST_F(HistoryModelTest, OnlyEntriesAreRenamedAndTheEditRoleIsNotAnswered) {
    model.addEntry(HistoryEntry(packet("t", "f")));
    const QModelIndex group = model.index(0, 0);
    const QModelIndex entry = model.index(0, 0, group);
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);

    EXPECT_FALSE(model.setData(group, "x", Qt::EditRole));
    EXPECT_FALSE(model.setData(entry, "x", Qt::DisplayRole));
    EXPECT_EQ(changed.count(), 0);
    EXPECT_TRUE(model.flags(entry) & Qt::ItemIsEditable);
    EXPECT_FALSE(model.flags(group) & Qt::ItemIsEditable);
    EXPECT_EQ(model.flags(QModelIndex()), Qt::ItemIsEnabled);

    EXPECT_FALSE(model.data(entry, Qt::EditRole).isValid());
    ASSERT_TRUE(model.setData(entry, "", Qt::EditRole));
    EXPECT_EQ(changed.count(), 1);
    EXPECT_EQ(model.data(entry).toString(), "");
    ASSERT_TRUE(model.setData(entry, "renamed", Qt::EditRole));
    EXPECT_EQ(model.data(entry).toString(), "renamed");
    EXPECT_EQ(model.data(group).toString(), "t");
    EXPECT_EQ(model.headerData(0, Qt::Horizontal).toString(), "Target");
    EXPECT_FALSE(model.headerData(0, Qt::Vertical).isValid());
}

TEST_F(HistoryModelTest, RemovingEntriesKeepsTheEmptyGroup) {
    model.addEntry(HistoryEntry(packet("t", "a")));
    model.addEntry(HistoryEntry(packet("t", "b")));
    model.addEntry(HistoryEntry(packet("t", "c")));
    model.addEntry(HistoryEntry(packet("u", "d")));
    const QModelIndex group = model.index(0, 0);

    EXPECT_FALSE(model.removeRows(0, 1, QModelIndex()));
    EXPECT_FALSE(model.removeRows(2, 2, group));
    EXPECT_FALSE(model.removeRows(-1, 1, group));
    EXPECT_EQ(model.rowCount(group), 3);

    QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);
    ASSERT_TRUE(model.removeRows(1, 1, group));
    EXPECT_EQ(labels(model, 0), QStringList({"a", "c"}));
    ASSERT_TRUE(model.removeRows(0, 2, group));
    EXPECT_EQ(removed.count(), 2);
    EXPECT_EQ(groups(model), QStringList({"t", "u"}));
    EXPECT_EQ(model.rowCount(group), 0);
    model.addEntry(HistoryEntry(packet("t", "e")));
    EXPECT_EQ(labels(model, 0), QStringList({"e"}));
}

OVL::OVLMessageIterator settingsRoot(OVL::OVLMessagePtr& message) {
    message = OVL::OVLMessage::getFactory()->createNew();
    message->setRootName("config");
    return message->getIterator();
}

TEST(HistoryModelFile, WritesAndReadsEveryEntryInOrderSkippingBrokenElements) {
    FerMsgHistoryModel saved;
    saved.addEntry(HistoryEntry(packet("sysinfo", "a")));
    saved.addEntry(HistoryEntry(QString::fromUtf8("<broken> ünïcödé\r\n\ttext ]]> & < \x01\x1b[0m")));
    saved.addEntry(HistoryEntry(packet(QString::fromUtf8("Ziel"), "b")));
    saved.addEntry(HistoryEntry(packet("sysinfo", "c")));
    saved.setData(saved.index(0, 0, saved.index(2, 0)), QString::fromUtf8("renamed ✓"), Qt::EditRole);

    OVL::OVLMessagePtr message;
    OVL::OVLMessageIterator root = settingsRoot(message);
    root.writeInt("tab", 4);
    ASSERT_EQ(root.write(FerMsgHistoryModel::Writer(), saved), 0);
    // A history element missing its label, and one that is not a history element at all.
    OVL::OVLMessageIterator broken(root);
    broken.addChild("history");
    broken.writeText(OVL::OVLElement::Target, "lost");
    broken.writeText(OVL::OVLElement::Data, "<p/>");

    OVL::OVLMessagePtr reloaded = OVL::OVLMessage::getFactory()->createNew();
    const std::string text = message->toString(OVL::OVLMessage::kIndent);
    EXPECT_EQ(text.find("history "), std::string::npos) << "history elements carry no attributes";
    ASSERT_EQ(reloaded->parse(text.c_str()), 0) << reloaded->getError();

    FerMsgHistoryModel loaded;
    CheckedModelTester tester(&loaded);
    OVL::OVLMessageIterator it = reloaded->getIterator();
    ASSERT_EQ(it.read(FerMsgHistoryModel::Reader(), loaded), 0);
    ASSERT_EQ(groups(loaded), groups(saved));
    for (int group = 0; group < saved.rowCount(); ++group) {
        const QModelIndex a = saved.index(group, 0);
        const QModelIndex b = loaded.index(group, 0);
        ASSERT_EQ(loaded.rowCount(b), saved.rowCount(a));
        for (int row = 0; row < saved.rowCount(a); ++row) {
            const auto* x = static_cast<const HistoryEntry*>(saved.index(row, 0, a).internalPointer());
            const auto* y = static_cast<const HistoryEntry*>(loaded.index(row, 0, b).internalPointer());
            EXPECT_EQ(*x, *y);
        }
    }
    EXPECT_EQ(labels(loaded, 2), QStringList({QString::fromUtf8("renamed ✓"), "c"}));
}

TEST(HistoryModelFile, AnEmptyGroupWritesNothing) {
    FerMsgHistoryModel model;
    model.addEntry(HistoryEntry(packet("t", "a")));
    model.removeRows(0, 1, model.index(0, 0));
    OVL::OVLMessagePtr message;
    OVL::OVLMessageIterator root = settingsRoot(message);
    ASSERT_EQ(root.write(FerMsgHistoryModel::Writer(), model), 0);
    EXPECT_FALSE(root.hasChild("history"));
}

}  // namespace
