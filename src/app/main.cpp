// Tevrak: files car-damage photographs and claim documents under their claim
// number and exchanges them with the insurer's FTP server.

#include "app/CommandLine.h"
#include "app/QtTranslation.h"
#include "app/SingleInstance.h"
#include "app/Workstation.h"
#include "platform/widgets/Dialogs.h"

#include <QApplication>
#include <QWidget>
#include <cstdio>

int main(int argc, char** argv)
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    if (const std::optional<int> exitCode = tevrak::handleCommandLine(arguments, stdout, stderr))
        return *exitCode;

    QApplication application(argc, argv);
    tevrak::installQtTranslation(application);
    const tevrak::SingleInstance instance;
    if (!instance.acquired()) {
        const QString message = tevrak::SingleInstance::alreadyRunningMessage();
        std::fprintf(stderr, "%s\n", message.toUtf8().constData());
        tevrak::platform::dialogs().showMessage(
            {QStringLiteral("Tevrak"), message, tevrak::platform::MessageIcon::Information});
        return 1;
    }
    tevrak::Workstation workstation;
    workstation.start(3000);
    if (!workstation.mainForm())
        return 0;
    return application.exec();
}
