// Tevrak: files car-damage photographs and claim documents under their claim
// number and exchanges them with the insurer's FTP server.

#include "app/CommandLine.h"
#include "app/Workstation.h"

#include <QApplication>
#include <QWidget>

int main(int argc, char** argv)
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    if (const std::optional<int> exitCode = tevrak::handleCommandLine(arguments, stdout, stderr))
        return *exitCode;

    QApplication application(argc, argv);
    tevrak::Workstation workstation;
    workstation.start(3000);
    if (!workstation.mainForm())
        return 0;
    return application.exec();
}
