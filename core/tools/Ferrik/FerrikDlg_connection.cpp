// FerrikDlg: connecting to the agent and fetching realms. These slots join with the agent client
// libraries; until then they do nothing.
#include "FerrikDlg.h"

void FerrikDlg::connectClicked() {}

void FerrikDlg::cbRaw_toggled(bool isRaw) {
    Q_UNUSED(isRaw);
}

void FerrikDlg::updateCreds(const QString& s) {
    Q_UNUSED(s);
}

void FerrikDlg::onConnect(OVL::eid_t eid) {
    Q_UNUSED(eid);
}

void FerrikDlg::getRealms() {}

void FerrikDlg::realmsConnect(OVL::eid_t eid) {
    Q_UNUSED(eid);
}
