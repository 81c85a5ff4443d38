// Ferrik: the agent console. No command-line argument is interpreted.
#include <QApplication>

#include "FerrikDlg.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    int status = 0;
    {
        FerrikDlg window;
        window.show();
        QObject::connect(&app, &QApplication::lastWindowClosed, &app, &QApplication::quit);
        status = QApplication::exec();
    }
    return status;
}
