// FerrikDlg: queuing and sending packets. These slots join with the agent client libraries; until
// then they do nothing and queue nothing.
#include "FerrikDlg.h"

void FerrikDlg::send() {}

int FerrikDlg::queue() {
    return 0;
}

void FerrikDlg::onWriteFinished() {}
