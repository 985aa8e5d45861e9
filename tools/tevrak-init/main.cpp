// tevrak-init: prepares a workstation for Tevrak. It creates the folders of
// drive C: (TEVRAK_ROOT, or ~/Tevrak) and the empty claim tables with their
// index files and repair-status rows. Running it again does no harm: folders
// and tables that exist are left exactly as they are.

#include "platform/core/DriveC.h"
#include "platform/core/Error.h"
#include "records/tables/WorkstationCreation.h"

#include <QCoreApplication>
#include <QStringList>
#include <cstdio>

namespace {

void say(const QString& line)
{
    std::fputs((line + QLatin1Char('\n')).toLocal8Bit().constData(), stdout);
}

void complain(const QString& line)
{
    std::fputs((QStringLiteral("tevrak-init: ") + line + QLatin1Char('\n')).toLocal8Bit().constData(),
               stderr);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments().mid(1);
    if (!arguments.isEmpty()) {
        const bool help =
            arguments.first() == QLatin1String("--help") || arguments.first() == QLatin1String("-h");
        (help ? say : complain)(QStringLiteral(
            "usage: tevrak-init\n"
            "Creates the Tevrak workstation under $TEVRAK_ROOT (default ~/Tevrak): the folders picture,\n"
            "picture/transfer, claim/db, LOAD and LOAD/ALL, and the empty claim tables in claim/db.\n"
            "Existing folders and tables are never changed."));
        return help ? 0 : 2;
    }

    using namespace tevrak;
    say(QStringLiteral("Workstation: %1").arg(platform::driveCRoot()));
    try {
        const records::WorkstationCreation workstation = records::createWorkstation();
        for (const records::WorkstationCreation::Folder& folder : workstation.folders)
            say(QStringLiteral("%1 folder %2")
                    .arg(folder.created ? QStringLiteral("created") : QStringLiteral("kept   "), folder.path));
        for (const QString& path : workstation.tables.created)
            say(QStringLiteral("created table  %1").arg(path));
        for (const QString& path : workstation.tables.kept)
            say(QStringLiteral("kept    table  %1").arg(path));
    } catch (const Error& error) {
        complain(error.message());
        return 1;
    }
    return 0;
}
