// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
// The agent data types and their XML forms, round-tripped through messages and files.

#include <gtest/gtest.h>

#include <atomic>
#include <boost/make_shared.hpp>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "OVLFunctionalityCore/OVLAnyData.h"
#include "OVLFunctionalityCore/OVLAuthName.h"
#include "OVLFunctionalityCore/OVLConnectionInfo.h"
#include "OVLFunctionalityCore/OVLEnv.h"
#include "OVLFunctionalityCore/OVLEnvCache.h"
#include "OVLFunctionalityCore/OVLEnvConfig.h"
#include "OVLFunctionalityCore/OVLRealm.h"
#include "OVLFunctionalityCore/OVLRealmList.h"
#include "OVLFunctionalityCore/OVLRealmParserFactory.h"
#include "OVLMessage/OVLElement.h"
#include "OVLMessage/OVLMessage.h"
#include "OVLMessage/OVLTypedIO.h"
#include "test_utils.h"

using namespace OVL;

namespace {

OVLGUID guid(const char* text) {
    OVLGUID g;
    EXPECT_EQ(g.fromString(text), 0);
    return g;
}

OVLMessagePtr newMessage(const char* root) {
    OVLMessagePtr msg = OVLMessage::getFactory()->createNew();
    msg->setRootName(root);
    return msg;
}

OVLMessagePtr throughFile(const OVLMessagePtr& msg, const ferrik_test::TempDir& dir) {
    const std::string path = dir.file("f.xml");
    EXPECT_EQ(msg->save(path.c_str()), 0) << msg->getError();
    OVLMessagePtr back = OVLMessage::getFactory()->createNew();
    EXPECT_EQ(back->load(path.c_str()), 0) << back->getError();
    return back;
}

std::string slurp(const std::string& path) {
    std::ifstream in(path);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// The per-host record that the console keeps in its settings file.
struct HostRecord {
    OVLAuthName auth;
    OVLRealmList realms;
};

struct HostRecordWriter {
    int operator()(OVLMessageIterator& it, const HostRecord& r) const {
        if (it.write(OVLElement::Auth, OVLAuthName::Writer(), r.auth) != 0) {
            return -1;
        }
        return it.write(OVLElement::Realms, OVLRealmList::Writer(), r.realms);
    }
};

struct HostRecordReader {
    int operator()(OVLMessageIterator& it, HostRecord& r) const {
        if (it.read(OVLElement::Auth, OVLAuthName::Reader(), r.auth) != 0) {
            return -1;
        }
        if (!it.hasChild(OVLElement::Realms)) {
            return 0;
        }
        return it.read(OVLElement::Realms, OVLRealmList::Reader(), r.realms);
    }
};

OVLRealmPtr localRealm(const char* id, const char* name, const char* description) {
    auto realm = boost::make_shared<OVLLocalRealm>();
    realm->setID(guid(id));
    realm->setName(name);
    realm->setDescription(description);
    return realm;
}

}  // namespace

TEST(SystemRealm, HasItsDocumentedIdentifier) {
    EXPECT_EQ(OVLRealm::systemRealmID.toString(), "00000000-0000-0000-0000-000000000001");
    OVLSystemRealm system;
    EXPECT_EQ(system.getID(), OVLRealm::systemRealmID);
    EXPECT_EQ(system.getName(), "System");
    EXPECT_EQ(system.getType(), "system");
}

TEST(HostRecords, SurviveASettingsFileWithoutThePassword) {
    ferrik_test::TempDir dir;
    std::map<std::string, HostRecord> hosts;
    hosts["alpha"] = {OVLAuthName("root", "", OVLRealm::systemRealmID, "secret"), {}};
    HostRecord& beta = hosts["b\xC3\xA9ta:4433"];
    beta.auth = OVLAuthName("\xD0\xB8\xD0\xB2\xD0\xB0\xD0\xBD", "corp",
                            guid("11111111-2222-4333-8444-555555555555"), "pw");
    beta.realms.push_back(boost::make_shared<OVLSystemRealm>());
    beta.realms.push_back(localRealm("11111111-2222-4333-8444-555555555555",
                                     "L\xC3\xA4"
                                     "b",
                                     "<lab> & co"));
    auto other =
        boost::make_shared<OVLRealm>("directory", guid("99999999-2222-4333-8444-555555555555"), "Dir");
    beta.realms.push_back(other);

    OVLMessagePtr msg = newMessage("config");
    using Writer = OVLMapWriter<OVLTextWriter, HostRecordWriter>;
    ASSERT_EQ(msg->getIterator().write(Writer(1876, 1068, 1307), hosts), 0);
    OVLMessagePtr back = throughFile(msg, dir);
    EXPECT_EQ(slurp(dir.file("f.xml")).find("secret"), std::string::npos);
    EXPECT_EQ(slurp(dir.file("f.xml")).find("password"), std::string::npos);

    std::map<std::string, HostRecord> read;
    using Reader = OVLMapReader<OVLTextReader, HostRecordReader>;
    ASSERT_EQ(back->getIterator().read(Reader(1876, 1068, 1307), read), 0);
    ASSERT_EQ(read.size(), 2u);
    for (auto& [host, record] : hosts) {
        record.auth.setPassword("");  // never stored
        ASSERT_EQ(read.count(host), 1u) << host;
        EXPECT_EQ(read[host].auth, record.auth) << host;
        EXPECT_EQ(read[host].realms, record.realms) << host;
    }
    // Each realm came back as the class of its type.
    const OVLRealmList& realms = read["b\xC3\xA9ta:4433"].realms;
    EXPECT_NE(dynamic_cast<OVLSystemRealm*>(realms[0].get()), nullptr);
    auto* local = dynamic_cast<OVLLocalRealm*>(realms[1].get());
    ASSERT_NE(local, nullptr);
    EXPECT_EQ(local->getDescription(), "<lab> & co");
    EXPECT_EQ(realms[2]->getType(), "directory");
    EXPECT_EQ(realms.findByName("Dir"), realms[2]);
    EXPECT_EQ(realms.findByID(OVLRealm::systemRealmID), realms[0]);
    EXPECT_FALSE(realms.findByName("none"));
}

TEST(AuthName, ReaderRejectsIncompleteOrBadElementsAndKeepsTheObject) {
    const char* bad[] = {
        "<auth><domain>d</domain><realmId>00000000-0000-0000-0000-000000000001</realmId></auth>",
        "<auth><login>l</login><realmId>00000000-0000-0000-0000-000000000001</realmId></auth>",
        "<auth><login>l</login><domain>d</domain></auth>",
        "<auth><login>l</login><domain>d</domain><realmId>System</realmId></auth>",
        "<auth><login/><domain/><realmId>{00000000-0000-0000-0000-000000000001</realmId></auth>",
        "<auth><login/><domain/><realmId>00000000-0000-0000-0000-000000000001 </realmId></auth>",
    };
    for (const char* text : bad) {
        OVLMessagePtr msg = OVLMessage::getFactory()->createNew();
        ASSERT_EQ(msg->parse(text), 0);
        OVLAuthName auth("keep", "me", OVLRealm::systemRealmID, "pw");
        const OVLAuthName before = auth;
        EXPECT_EQ(msg->getIterator().read(OVLAuthName::Reader(), auth), -1) << text;
        EXPECT_EQ(auth, before);
    }
}

TEST(AuthName, CredentialsWriterCarriesThePassword) {
    OVLMessagePtr msg = newMessage("login");
    const OVLAuthName auth("u", "d", OVLRealm::systemRealmID, "p\xC3\xA4ss");
    ASSERT_EQ(msg->getIterator().write(OVLAuthName::CredentialsWriter(), auth), 0);
    OVLAuthName read;
    ASSERT_EQ(msg->getIterator().read(OVLAuthName::Reader(), read), 0);
    EXPECT_EQ(read, auth);
}

TEST(ConnectionInfo, DefaultPortAndRoundTrip) {
    OVLConnectionInfo info;
    EXPECT_TRUE(info.hasDefaultPort());
    EXPECT_EQ(info.getPort(), OVLConnectionInfo::kDefaultPort);
    info.setTypeName("TCP");
    info.setHost("agent.example");
    info.setPort(4433);
    info.getAuthName().setLogin("u");
    info.getAuthName().setPassword("p");
    const OVLConnectivityInfo& base = info;
    EXPECT_EQ(base.m_first, "agent.example");
    EXPECT_EQ(base.m_second, "TCP");
    EXPECT_EQ(base.m_value, 4433);
    EXPECT_NE(dynamic_cast<const OVLConnectionInfo*>(&base), nullptr);

    OVLMessagePtr msg = newMessage("connection");
    ASSERT_EQ(msg->getIterator().write(OVLConnectionInfo::CredentialsWriter(), info), 0);
    OVLConnectionInfo read;
    ASSERT_EQ(msg->getIterator().read(OVLConnectionInfo::Reader(), read), 0);
    EXPECT_EQ(read, info);

    OVLMessagePtr noPassword = newMessage("connection");
    noPassword->getIterator().write(OVLConnectionInfo::Writer(), info);
    ASSERT_EQ(noPassword->getIterator().read(OVLConnectionInfo::Reader(), read), 0);
    EXPECT_EQ(read.getAuthName().getPassword(), "");
}

TEST(ConnectionInfo, ReaderRejectsBadPorts) {
    for (const char* port : {"-1", "65536", "http", ""}) {
        OVLMessagePtr msg = OVLMessage::getFactory()->createNew();
        const std::string text = std::string("<c><type>TCP</type><host>h</host><port>") + port +
                                 "</port><auth><login/><domain/>"
                                 "<realmId>00000000-0000-0000-0000-000000000001</realmId></auth></c>";
        ASSERT_EQ(msg->parse(text.c_str()), 0);
        OVLConnectionInfo info;
        EXPECT_EQ(msg->getIterator().read(OVLConnectionInfo::Reader(), info), -1) << port;
    }
}

TEST(RealmFactory, CreatesByTypeAndAcceptsNewTypes) {
    OVLRealmParserFactory& factory = OVLRealm::getParserFactory();
    EXPECT_NE(dynamic_cast<OVLSystemRealm*>(factory.create("system").get()), nullptr);
    EXPECT_NE(dynamic_cast<OVLLocalRealm*>(factory.create("local").get()), nullptr);
    OVLRealmPtr unknown = factory.create("kerberos");
    ASSERT_TRUE(unknown);
    EXPECT_EQ(unknown->getType(), "kerberos");

    struct TaggedRealm : OVLRealm {
        TaggedRealm() : OVLRealm("tagged") {}
    };
    factory.registerType("tagged", [] { return OVLRealmPtr(boost::make_shared<TaggedRealm>()); });
    EXPECT_NE(dynamic_cast<TaggedRealm*>(factory.create("tagged").get()), nullptr);
    // A creator whose realm has another type is not trusted.
    factory.registerType("liar", [] { return OVLRealmPtr(boost::make_shared<OVLLocalRealm>()); });
    EXPECT_EQ(factory.create("liar")->getType(), "liar");
    factory.registerType("tagged", nullptr);
    factory.registerType("liar", nullptr);
    EXPECT_EQ(dynamic_cast<TaggedRealm*>(factory.create("tagged").get()), nullptr);
}

TEST(RealmList, BadRealmElementsAreSkipped) {
    OVLMessagePtr msg = OVLMessage::getFactory()->createNew();
    ASSERT_EQ(
        msg->parse(
            "<realms>"
            "<realm><type>local</type><id>11111111-2222-4333-8444-555555555555</id><name>A</name></realm>"
            "<realm><id>11111111-2222-4333-8444-555555555555</id><name>no type</name></realm>"
            "<realm><type>local</type><id>bad</id><name>bad id</name></realm>"
            "<realm><type>local</type><id>11111111-2222-4333-8444-555555555555</id></realm>"
            "<realm><type>system</type><id>00000000-0000-0000-0000-000000000001</id><name>S</name></realm>"
            "</realms>"),
        0);
    OVLRealmList list;
    ASSERT_EQ(msg->getIterator().read(OVLRealmList::Reader(), list), 0);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0]->getName(), "A");
    EXPECT_EQ(list[1]->getName(), "S");

    OVLRealmList withNull = list;
    withNull.push_back(OVLRealmPtr());
    OVLMessagePtr out = newMessage("realms");
    EXPECT_EQ(out->getIterator().write(OVLRealmList::Writer(), withNull), -1);
    OVLRealmList back;
    out->getIterator().read(OVLRealmList::Reader(), back);
    EXPECT_EQ(back, list);
}

TEST(EnvConfig, FieldsKeepOrderAndReplaceInPlace) {
    OVLEnvConfig config;
    config.set("hostname", "web01");
    config.set("role", "db");
    config.set("hostname", "web02");
    ASSERT_EQ(config.fields().size(), 2u);
    EXPECT_EQ(config.fields()[0], OVLEnvConfig::Field("hostname", "web02"));
    std::string v = "unchanged";
    EXPECT_EQ(config.get("missing", v), -1);
    EXPECT_EQ(v, "unchanged");
    EXPECT_EQ(config.remove("role"), 0);
    EXPECT_EQ(config.remove("role"), -1);
}

TEST(EnvConfig, WriterAndAnyDataSupportFieldMatching) {
    // The console matches ${field:value} placeholders this way: write the configuration into a
    // free-standing <data> element, move to the field by name and compare its text.
    OVLEnvConfig config;
    config.set("hostname", "web01");
    config.set("r\xC3\xB4le", "\xE6\x95\xB0\xE6\x8D\xAE");
    OVLAnyData data(OVLElement::Data);
    OVLMessageIterator it = data.any();
    ASSERT_TRUE(it.isValid());
    EXPECT_STREQ(it.getName(), "data");
    ASSERT_EQ(it.write(OVLEnvConfig::Writer(), config), 0);
    ASSERT_EQ(it.moveTo("r\xC3\xB4le"), 0);
    std::string text;
    ASSERT_EQ(it.getText(text), 0);
    EXPECT_EQ(text, "\xE6\x95\xB0\xE6\x8D\xAE");
    EXPECT_EQ(data.any().moveTo("absent"), -1);

    OVLEnvConfig bad;
    bad.set("ok", "1");
    bad.set("not a name", "2");
    OVLAnyData other(1307);
    EXPECT_EQ(other.any().write(OVLEnvConfig::Writer(), bad), -1);
    EXPECT_EQ(other.message()->toString(), "<data><ok>1</ok></data>");

    EXPECT_FALSE(OVLAnyData(424242).any().isValid());
    EXPECT_TRUE(OVLAnyData(424242).isEmpty());
}

TEST(EnvList, IteratesAndSurvivesAFile) {
    ferrik_test::TempDir dir;
    OVLEnvConfig config, runtime;
    config.set("hostname", "web01");
    runtime.set("state", "running");
    OVLEnvCache::EnvValuesList list;
    list.push_back(
        boost::make_shared<OVLEnv>(guid("aaaaaaaa-2222-4333-8444-555555555555"), "web", config, runtime));
    list.push_back(
        boost::make_shared<OVLEnv>(guid("bbbbbbbb-2222-4333-8444-555555555555"), "", OVLEnvConfig()));

    OVLMessagePtr msg = newMessage("environments");
    ASSERT_EQ(msg->getIterator().write(OVLEnvCache::EnvValuesList::Writer(), list), 0);
    OVLMessagePtr back = throughFile(msg, dir);
    OVLEnvCache::EnvValuesList read;
    ASSERT_EQ(back->getIterator().read(OVLEnvCache::EnvValuesList::Reader(), read), 0);
    ASSERT_EQ(read.size(), 2u);
    OVLEnvCache::EnvValuesList::const_iterator a = list.begin(), b = read.begin();
    for (; a != list.end() && b != read.end(); ++a, ++b) {
        EXPECT_EQ(**a, **b);
    }
    EXPECT_TRUE(b == read.end());
    OVLEnvPtr found = read.find(guid("aaaaaaaa-2222-4333-8444-555555555555"));
    ASSERT_TRUE(found);
    std::string state;
    EXPECT_EQ(found->getRuntimeConfig().get("state", state), 0);
    EXPECT_EQ(state, "running");
    EXPECT_FALSE(read.find(OVLEID()));
}

TEST(EnvList, EnvironmentsWithoutValidIdAreSkipped) {
    OVLMessagePtr msg = OVLMessage::getFactory()->createNew();
    ASSERT_EQ(msg->parse("<envs><environment><name>no id</name></environment>"
                         "<environment><eid>zz</eid></environment>"
                         "<environment><eid>aaaaaaaa-2222-4333-8444-555555555555</eid></environment></envs>"),
              0);
    OVLEnvCache::EnvValuesList read;
    ASSERT_EQ(msg->getIterator().read(OVLEnvCache::EnvValuesList::Reader(), read), 0);
    ASSERT_EQ(read.size(), 1u);
    EXPECT_TRUE((*read.begin())->getConfig().empty());
}

TEST(EnvCache, SnapshotsAreReplacedWhileReadersHoldThem) {
    boost::intrusive_ptr<OVLEnvCache> cache(new OVLEnvCache);
    EXPECT_FALSE(cache->getEnvList());
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        for (int i = 0; i < 2000; ++i) {
            OVLEnvCache::EnvValuesList list;
            for (int k = 0; k <= i % 5; ++k) {
                list.push_back(boost::make_shared<OVLEnv>(OVLEID(i, k), "e", OVLEnvConfig()));
            }
            cache->update(std::move(list));
        }
        stop = true;
    });
    while (!stop) {
        OVLEnvCache::EnvValuesListPtr snapshot = cache->getEnvList();
        if (!snapshot) {
            continue;
        }
        const std::size_t n = snapshot->size();
        std::size_t walked = 0;
        for (auto it = snapshot->begin(); it != snapshot->end(); ++it) {
            ++walked;
        }
        ASSERT_EQ(walked, n);
    }
    writer.join();
    // The last list written (i = 1999) holds five environments.
    ASSERT_EQ(cache->getEnvList()->size(), 5u);
    EXPECT_TRUE(cache->find(OVLEID(1999, 4)));
    EXPECT_FALSE(cache->find(OVLEID(1998, 0)));
}
