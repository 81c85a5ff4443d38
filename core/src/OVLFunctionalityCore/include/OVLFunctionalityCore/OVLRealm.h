// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#pragma once
// A realm: the scope within which an agent checks a login. It has an identifier, a display name
// (UTF-8) and a type, which decides the class of the object and the further fields it carries.
// Realms are shared through OVLRealmPtr.
//
// Types known to this library (more can be registered with OVLRealmParserFactory):
//     "system"  OVLSystemRealm: the agent's built-in realm, identifier systemRealmID.
//     "local"   OVLLocalRealm: users kept by the agent itself; adds a description.
// A realm of any other type is read as a plain OVLRealm that keeps its type name, so that it
// is written back as it came (its unknown further fields are dropped).
//
// XML form (children of the element that stands for the realm, usually OVLElement::Realm):
//     <type>local</type><id>GUID text</id><name>Lab</name>[further fields of the type]
//
// Objects are not synchronised; share them between threads only while nobody changes them.

#include <string>

#include <boost/shared_ptr.hpp>

#include "OVLFunctionalityCore/OVLEID.h"
#include "OVLFunctionalityCore/OVLFunctionalityCoreExport.h"
#include "OVLMessage/OVLMessageIterator.h"

namespace OVL {

class OVLRealm;
class OVLRealmParserFactory;
using OVLRealmPtr = boost::shared_ptr<OVLRealm>;

class OVLFUNCTIONALITYCORE_EXPORT OVLRealm {
public:
    // The identifier of every agent's system realm: 00000000-0000-0000-0000-000000000001, the
    // same as the wire protocol's (OVL::Wire::kSystemRealmID, docs/protocol.md).
    static const OVLGUID systemRealmID;

    static constexpr const char* kSystemType = "system";
    static constexpr const char* kLocalType = "local";

    explicit OVLRealm(std::string type);
    OVLRealm(std::string type, const OVLGUID& id, std::string name);
    virtual ~OVLRealm();
    OVLRealm(const OVLRealm&) = default;
    OVLRealm& operator=(const OVLRealm&) = default;

    const std::string& getType() const noexcept { return m_type; }
    const OVLGUID& getID() const noexcept { return m_id; }
    void setID(const OVLGUID& id) noexcept { m_id = id; }
    const std::string& getName() const noexcept { return m_name; }
    void setName(std::string name) { m_name = std::move(name); }

    // Equal type, identifier, name and further fields.
    virtual bool equals(const OVLRealm& other) const;

    // The process's parser factory (thread-safe).
    static OVLRealmParserFactory& getParserFactory();

    // Reads a realm element: the type first, then a new object of that type from the parser
    // factory, then the identifier (required, GUID text), the name (required) and the fields
    // of the type. -1 when something required is missing or rejected; `realm` is unchanged.
    struct OVLFUNCTIONALITYCORE_EXPORT Reader {
        int operator()(OVLMessageIterator& it, OVLRealmPtr& realm) const;
    };
    // Writes type, identifier, name and the fields of the type. -1 for a null pointer.
    struct OVLFUNCTIONALITYCORE_EXPORT Writer {
        int operator()(OVLMessageIterator& it, const OVLRealmPtr& realm) const;
        int operator()(OVLMessageIterator& it, const OVLRealm& realm) const;
    };

protected:
    // Further fields of a type, below the realm element. Both return 0 or -1.
    virtual int readFields(OVLMessageIterator& it);
    virtual int writeFields(OVLMessageIterator& it) const;

private:
    std::string m_type;
    OVLGUID m_id;
    std::string m_name;
};

// The system realm; constructed with systemRealmID and the name "System".
class OVLFUNCTIONALITYCORE_EXPORT OVLSystemRealm : public OVLRealm {
public:
    OVLSystemRealm();
};

// A realm of users that the agent keeps itself.
class OVLFUNCTIONALITYCORE_EXPORT OVLLocalRealm : public OVLRealm {
public:
    OVLLocalRealm();

    const std::string& getDescription() const noexcept { return m_description; }
    void setDescription(std::string description) { m_description = std::move(description); }

    bool equals(const OVLRealm& other) const override;

protected:
    // <description> is optional.
    int readFields(OVLMessageIterator& it) override;
    int writeFields(OVLMessageIterator& it) const override;

private:
    std::string m_description;
};

}  // namespace OVL
