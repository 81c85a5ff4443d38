// FerrikDlg: connecting to the agent and fetching realms. These slots join with the agent client
// libraries; until then they do nothing, except updateCreds, which only reads hostRecords.
#include "FerrikDlg.h"
#include "OVLFunctionalityCore/OVLRealm.h"

void FerrikDlg::connectClicked() {}

void FerrikDlg::cbRaw_toggled(bool isRaw) {
    Q_UNUSED(isRaw);
}

void FerrikDlg::updateCreds(const QString& s) {
    const auto found = hostRecords.find(s.toUtf8().toStdString());
    if (found == hostRecords.end()) {
        return;
    }
    const HostRecord& record = found->second;
    const auto fromUtf8 = [](const std::string& bytes) {
        return QString::fromUtf8(bytes.data(), static_cast<qsizetype>(bytes.size()));
    };
    leLogin->setText(fromUtf8(record.auth.getLogin()));
    leDomain->setText(fromUtf8(record.auth.getDomain()));
    if (record.realms.empty()) {
        leRealm->setEditText(record.auth.getRealmID() == OVL::OVLRealm::systemRealmID
                                 ? QStringLiteral("System")
                                 : QString::fromStdString(record.auth.getRealmID().toString()));
        return;
    }
    leRealm->clear();
    const OVL::OVLRealm* chosen = nullptr;
    for (const OVL::OVLRealmPtr& realm : record.realms) {
        leRealm->addItem(fromUtf8(realm->getName()));
        if (realm->getID() == record.auth.getRealmID()) {
            chosen = realm.get();
        }
    }
    if (chosen != nullptr) {
        leRealm->setEditText(fromUtf8(chosen->getName()));
    }
}

void FerrikDlg::onConnect(OVL::eid_t eid) {
    Q_UNUSED(eid);
}

void FerrikDlg::getRealms() {}

void FerrikDlg::realmsConnect(OVL::eid_t eid) {
    Q_UNUSED(eid);
}
