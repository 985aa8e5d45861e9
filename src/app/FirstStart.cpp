#include "app/FirstStart.h"

#include "app/Workstation.h"
#include "platform/widgets/Dialogs.h"
#include "platform/core/DriveC.h"
#include "platform/core/FileSystem.h"
#include "records/tables/WorkstationCreation.h"

namespace tevrak {

bool createWorkstationOnFirstStart()
{
    if (platform::folderExists(platform::paths::database))
        return false;
    bool created = false;
    platform::guard([&] {
        records::createWorkstation();
        created = true;
        platform::dialogs().showMessage(
            {Workstation::title(),
             QStringLiteral("เริ่มใช้งานครั้งแรก: สร้างโฟลเดอร์และตารางว่างของเครื่องนี้แล้ว\n%1")
                 .arg(platform::driveCRoot()),
             platform::MessageIcon::Information});
    });
    return created;
}

} // namespace tevrak
