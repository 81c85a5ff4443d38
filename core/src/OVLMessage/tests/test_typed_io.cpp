// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
// Map, list and text readers and writers, round-tripped through a file.

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "OVLMessage/OVLElement.h"
#include "OVLMessage/OVLMessage.h"
#include "OVLMessage/OVLTypedIO.h"
#include "test_utils.h"

using namespace OVL;

namespace {

struct Record {
    std::string login;
    std::vector<std::string> names;
    bool operator==(const Record& o) const { return login == o.login && names == o.names; }
};

struct RecordWriter {
    int operator()(OVLMessageIterator& it, const Record& r) const {
        if (it.writeText(OVLElement::Login, r.login) != 0) {
            return -1;
        }
        return it.write(OVLElement::Realms, OVLListWriter<OVLTextWriter>(OVLElement::Name), r.names);
    }
};

struct RecordReader {
    int operator()(OVLMessageIterator& it, Record& r) const {
        if (it.readText(OVLElement::Login, r.login) != 0) {
            return -1;
        }
        if (!it.hasChild(OVLElement::Realms)) {
            return 0;
        }
        return it.read(OVLElement::Realms, OVLListReader<OVLTextReader>(OVLElement::Name), r.names);
    }
};

using Map = std::map<std::string, Record>;
using MapWriter = OVLMapWriter<OVLTextWriter, RecordWriter>;
using MapReader = OVLMapReader<OVLTextReader, RecordReader>;

OVLMessagePtr roundTrip(const OVLMessagePtr& msg, const std::string& path) {
    EXPECT_EQ(msg->save(path.c_str()), 0) << msg->getError();
    OVLMessagePtr back = OVLMessage::getFactory()->createNew();
    EXPECT_EQ(back->load(path.c_str()), 0) << back->getError();
    return back;
}

}  // namespace

TEST(TypedIO, MapOfRecordsWithListsSurvivesAFile) {
    ferrik_test::TempDir dir;
    const Map hosts = {
        {"alpha", {"root", {"System", "Lab"}}},
        {"h\xC3\xB6st:99", {"\xE7\x94\xA8\xE6\x88\xB7", {}}},
        {"", {"", {"", " "}}},
    };
    OVLMessagePtr msg = OVLMessage::getFactory()->createNew();
    msg->setRootName("config");
    OVLMessageIterator it = msg->getIterator();
    ASSERT_EQ(it.writeText("host", "alpha"), 0);
    ASSERT_EQ(it.write(MapWriter(OVLElement::HostRecord, OVLElement::HostName, OVLElement::Data), hosts), 0);

    OVLMessagePtr back = roundTrip(msg, dir.file("config.xml"));
    Map read;
    ASSERT_EQ(back->getIterator().read(MapReader(1876, 1068, 1307), read), 0);
    EXPECT_EQ(read, hosts);
    // The entries are direct children of the root, in map order.
    OVLMessageIterator entry = back->getIterator();
    ASSERT_EQ(entry.moveTo(1876), 0);
    std::string key;
    ASSERT_EQ(entry.readText(1068, key), 0);
    EXPECT_EQ(key, "");
}

TEST(TypedIO, RejectedEntriesAreSkippedAndTheRestLoads) {
    OVLMessagePtr msg = OVLMessage::getFactory()->createNew();
    ASSERT_EQ(msg->parse("<config>"
                         "<hostRecord><hostName>good</hostName><data><login>a</login></data></hostRecord>"
                         "<hostRecord><hostName>no-data</hostName></hostRecord>"
                         "<hostRecord><data><login>no-key</login></data></hostRecord>"
                         "<hostRecord><hostName>no-login</hostName><data/></hostRecord>"
                         "<other/>"
                         "<hostRecord><hostName>good</hostName><data><login>b</login></data></hostRecord>"
                         "</config>"),
              0);
    Map read;
    ASSERT_EQ(msg->getIterator().read(MapReader(1876, 1068, 1307), read), 0);
    ASSERT_EQ(read.size(), 1u);
    EXPECT_EQ(read["good"].login, "b");  // a later duplicate wins
}

TEST(TypedIO, EmptyContainersWriteNothingAndReadNothing) {
    OVLMessagePtr msg = OVLMessage::getFactory()->createNew();
    msg->setRootName("r");
    ASSERT_EQ(msg->getIterator().write(MapWriter(1876, 1068, 1307), Map()), 0);
    EXPECT_EQ(msg->toString(), "<r/>");
    Map read;
    EXPECT_EQ(msg->getIterator().read(MapReader(1876, 1068, 1307), read), 0);
    EXPECT_TRUE(read.empty());
}

TEST(TypedIO, FailingItemsAreRemovedAndReported) {
    OVLMessagePtr msg = OVLMessage::getFactory()->createNew();
    msg->setRootName("r");
    const std::vector<std::string> items = {"ok", std::string("bad\0", 4), "fine"};
    EXPECT_EQ(msg->getIterator().write(OVLListWriter<OVLTextWriter>("item"), items), -1);
    EXPECT_EQ(msg->toString(), "<r><item>ok</item><item>fine</item></r>");

    const Map hosts = {{"a", {"x", {}}}, {"b\xFF", {"y", {}}}};
    EXPECT_EQ(msg->getIterator().write(MapWriter(1876, 1068, 1307), hosts), -1);
    Map read;
    msg->getIterator().read(MapReader(1876, 1068, 1307), read);
    EXPECT_EQ(read.size(), 1u);
    EXPECT_EQ(read.count("a"), 1u);
}

TEST(TypedIO, UnknownIdentifiersFailInsteadOfWritingGarbage) {
    OVLMessagePtr msg = OVLMessage::getFactory()->createNew();
    msg->setRootName("r");
    const Map hosts = {{"a", {"x", {}}}};
    EXPECT_EQ(msg->getIterator().write(MapWriter(999999, 1068, 1307), hosts), -1);
    EXPECT_EQ(msg->getIterator().write(MapWriter(1876, 999999, 1307), hosts), -1);
    EXPECT_EQ(msg->toString(), "<r/>");
    Map read;
    EXPECT_EQ(msg->getIterator().read(MapReader(1876, 999999, 1307), read), -1);
}
