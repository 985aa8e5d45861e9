// Tevrak: files car-damage photographs and claim documents under their claim
// number and exchanges them with the insurer's FTP server.

#include "app/Workstation.h"

#include <QApplication>
#include <QWidget>

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    tevrak::Workstation workstation;
    workstation.start(3000);
    if (!workstation.mainForm())
        return 0;
    return application.exec();
}
