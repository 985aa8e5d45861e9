// One whole Transfer, as the Transfer button runs it, in a process of its own:
// the workstation of TEVRAK_ROOT, the server of TEVRAK_FTP_HOST/PORT, the
// garage named by the first argument. Prints the final message and exits 0
// after "Transfer Complete". The fault tests start it and kill it.

#include "exchange/forms/CopyfU.h"
#include "platform/core/ProgramValues.h"
#include "records/tables/ClaimDatabase.h"
#include "startup/RegisterF2U.h"
#include "support/RecordingDialogs.h"
#include "transfer/forms/TransferForms.h"
#include "transfer/forms/TransferRun.h"
#include "transfer/forms/ZipfU.h"

#include <QApplication>
#include <QWidget>
#include <cstdio>

int main(int argc, char** argv)
{
    using namespace tevrak;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s GARAGE\n", argv[0]);
        return 2;
    }
    test::RecordingDialogs dialogs;
    records::ClaimDatabase database;
    database.openForStartUp();
    ProgramValues values;
    values.GarageName = QString::fromUtf8(argv[1]);
    TCopyf copyf;
    TZipf zipf;
    TRegisterF2 branchForm;
    transfer::TransferForms forms;
    forms.Copyf = &copyf;
    forms.Zipf = &zipf;
    forms.RegisterF2 = &branchForm;
    QWidget mainWindow;
    transfer::TransferRun job(database, values, forms, &mainWindow);
    job.ExchangeReadTimeout = 10000;
    try {
        job.run();
    } catch (const std::exception& error) {
        std::printf("error: %s\n", error.what());
        return 1;
    }
    const QString text = dialogs.texts().join(QLatin1Char('|'));
    std::printf("%s\n", text.toUtf8().constData());
    return text == QLatin1String("Transfer Complete") ? 0 : 1;
}
