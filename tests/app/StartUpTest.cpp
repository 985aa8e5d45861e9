#include "app/Workstation.h"
#include "exchange/forms/CopyfU.h"
#include "intake/InboxPage.h"
#include "mainwindow/PictureU.h"
#include "platform/widgets/DateBox.h"
#include "platform/widgets/Dialogs.h"
#include "platform/core/Registry.h"
#include "platform/core/ServerAddress.h"
#include "records/tables/ClaimDatabase.h"
#include "records/forms/EnquiryU.h"
#include "records/forms/FormUserU.h"
#include "records/forms/PendingCarPage.h"
#include "startup/RegisterF2U.h"
#include "startup/RegisterFU.h"
#include "support/QtPrinting.h"
#include "support/RecordingDialogs.h"
#include "support/TestDatabase.h"
#include "support/TestEnvironment.h"
#include "transfer/forms/ZipfU.h"

#include <QApplication>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QTabWidget>
#include <gtest/gtest.h>

using namespace tevrak;

namespace {

void storeGarageName(const QString& name)
{
    platform::registry::writeString(platform::registry::sarvelloKey, platform::registry::garageNameValue, name);
}

// Every window (a widget without a parent) in the order of its creation, with
// the application title at that moment.
class WindowCreations : public QObject {
public:
    WindowCreations() { qApp->installEventFilter(this); }
    ~WindowCreations() override { qApp->removeEventFilter(this); }

    // Where the window was created among all windows (its last creation: a
    // destroyed window's address may be taken again); -1 when never.
    qsizetype position(const QWidget* window) const { return windows.lastIndexOf(window); }

    QList<const QObject*> windows;
    QStringList titles;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Create && watched->isWidgetType() &&
            static_cast<QWidget*>(watched)->parentWidget() == nullptr) {
            windows.append(watched);
            titles.append(platform::applicationTitle());
        }
        return false;
    }
};

class StartUpTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        QFile::remove(platform::registry::registryFile());
        test::freshTestDatabase();
    }
    test::RecordingDialogs dialogs;
};

}  // namespace

TEST_F(StartUpTest, AStoredGarageNameOpensTheMainWindowAndNoRegistrationForm)
{
    storeGarageName(QStringLiteral("GarageOne"));
    Workstation workstation;
    workstation.start(0);
    ASSERT_NE(workstation.picture(), nullptr);
    EXPECT_EQ(workstation.registration(), nullptr);
    EXPECT_EQ(workstation.mainForm(), workstation.picture());
    EXPECT_EQ(workstation.picture()->values().GarageName, QStringLiteral("GarageOne"));
    EXPECT_EQ(platform::applicationTitle(), QStringLiteral("Tevrak หาดใหญ่ ADSL"));
    const SharedForms& forms = workstation.forms();
    EXPECT_TRUE(forms.Copyf && forms.Zipf && forms.RegisterF2 && forms.Enquiry && forms.FormUser);
    for (QWidget* widget : QApplication::topLevelWidgets())
        EXPECT_EQ(qobject_cast<TRegisterf*>(widget), nullptr) << "a registration form exists";

    TPicture& window = *workstation.picture();
    // The caption names the server in use (the tests' own loopback address here).
    EXPECT_EQ(window.windowTitle(),
              QStringLiteral("บริษัท Norvathaประกันภัย จำกัด [ Tevrak หาดใหญ่สาขา ADSL %1 ] ").arg(platform::ftpHost()));
    ASSERT_EQ(window.PageControl1->count(), 4);
    EXPECT_EQ(window.PageControl1->tabText(0), QStringLiteral("รูปภาพใหม่"));
    EXPECT_EQ(window.PageControl1->tabText(1), QStringLiteral("รูปภาพเก่า"));
    EXPECT_EQ(window.PageControl1->tabText(2), QStringLiteral("รายงานรถยนต์ค้าง"));
    EXPECT_EQ(window.PageControl1->tabText(3), QStringLiteral("สรุปค่าใช้จ่ายสำรวจความเสียหาย"));
    EXPECT_EQ(window.PageControl1->currentWidget(), window.TabSheet1);
    EXPECT_TRUE(QDir(QString::fromStdString(test::driveCFolder()) + "/picture/transfer").exists());
    EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(StartUpTest, AMissingTableIsReportedAndTheWindowStillOpensWithoutTheLaterSteps)
{
    storeGarageName(QStringLiteral("GarageOne"));
    QFile::remove(test::databaseFolder() + "/Expense.DB");
    Workstation workstation;
    workstation.start(0);
    ASSERT_NE(workstation.picture(), nullptr);
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.last().icon, platform::MessageIcon::Error);
    EXPECT_TRUE(dialogs.last().text.contains("Expense.DB")) << dialogs.last().text.toStdString();
    EXPECT_TRUE(workstation.picture()->values().GarageName.isEmpty()) << "the steps after the failure must not run";
    EXPECT_FALSE(QFile::exists(test::databaseFolder() + "/Expense.DB")) << "one of several tables was made anew";
}

TEST_F(StartUpTest, NoNameOrAnEmptyNameOpensTheRegistrationFormWhichOpensTheMainWindow)
{
    for (const bool emptyValue : {false, true}) {
        QFile::remove(platform::registry::registryFile());
        if (emptyValue)
            storeGarageName(QString());
        Workstation workstation;
        workstation.start(0);
        ASSERT_NE(workstation.registration(), nullptr);
        EXPECT_EQ(workstation.picture(), nullptr);
        EXPECT_EQ(workstation.mainForm(), workstation.registration());

        // Registering opens the main window modally; it reads the new name.
        QString garageSeen;
        dialogs.answerNextModal([&](QWidget& form) {
            garageSeen = qobject_cast<TPicture*>(&form)->values().GarageName;
            return 0;
        });
        workstation.registration()->Edit1->setText(QStringLiteral("GarageTwo"));
        workstation.registration()->Button1->click();
        EXPECT_EQ(garageSeen, QStringLiteral("GarageTwo"));
        EXPECT_EQ(workstation.picture(), nullptr) << "the main window is destroyed when it closes";
        EXPECT_FALSE(workstation.registration()->isVisible());
    }
}

TEST_F(StartUpTest, RefreshRunsTheWholeInitialisationAgain)
{
    storeGarageName(QStringLiteral("GarageOne"));
    Workstation workstation;
    workstation.start(0);
    TPicture& window = *workstation.picture();
    records::PendingCarPage& tab3 = window.pendingCars();
    const QDate today = QDate::currentDate();
    EXPECT_EQ(tab3.Label8->text(), QStringLiteral("รายงานรถยนต์คงค้างประจำวันที่ ") +
                                       QLocale(QLocale::Thai).toString(today, QStringLiteral("dd MMMM yyyy")));
    EXPECT_EQ(tab3.DateEdit1->date(), today);

    // A search result shown on tab 3, another search date, and a new garage name...
    window.database().TevrakQ2.open();
    tab3.DateEdit1->setDate(today.addDays(-3));
    storeGarageName(QStringLiteral("GarageTwo"));
    window.inbox().BitBtn4->click();
    // ...are all reset by Refresh.
    EXPECT_FALSE(window.database().TevrakQ2.isOpen());
    EXPECT_EQ(tab3.DateEdit1->date(), today);
    EXPECT_EQ(window.values().GarageName, QStringLiteral("GarageTwo"));
    EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(StartUpTest, TheFormsAreCreatedInTheStartUpOrderAfterTheTitleIsSet)
{
    storeGarageName(QStringLiteral("GarageOne"));
    platform::setApplicationTitle(QString());
    WindowCreations created;
    Workstation workstation;
    workstation.start(0);
    const SharedForms& forms = workstation.forms();
    const QList<const QWidget*> inOrder{workstation.picture(), forms.Copyf,   forms.Zipf,
                                        forms.RegisterF2,      forms.Enquiry, forms.FormUser};
    qsizetype previous = -1;
    for (const QWidget* form : inOrder) {
        ASSERT_NE(form, nullptr);
        const qsizetype at = created.position(form);
        EXPECT_GT(at, previous) << form->metaObject()->className() << " is created out of order";
        previous = at;
    }
    // The title is set after the main window and before the long-lived forms.
    EXPECT_TRUE(created.titles[created.position(workstation.picture())].isEmpty());
    EXPECT_EQ(created.titles[created.position(forms.Copyf)], Workstation::title());
}

TEST_F(StartUpTest, ARegistryThatCannotBeWrittenIsReportedAndTheStartGoesOn)
{
    // A plain file stands where the registry's folder should be.
    const QString folder = QFileInfo(platform::registry::registryFile()).absolutePath();
    QDir(folder).removeRecursively();
    QFile blocker(folder);
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    struct RemoveBlocker {
        QString path;
        ~RemoveBlocker() { QFile::remove(path); }
    } removeBlocker{folder};

    Workstation workstation;
    workstation.start(0);
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.last().icon, platform::MessageIcon::Error);
    EXPECT_TRUE(dialogs.last().text.contains("registry.ini")) << dialogs.last().text.toStdString();
    // No name can be read: the registration form asks for one, and the
    // long-lived forms exist.
    EXPECT_EQ(workstation.mainForm(), workstation.registration());
    ASSERT_NE(workstation.registration(), nullptr);
    EXPECT_TRUE(workstation.registration()->isVisible());
    EXPECT_NE(workstation.forms().FormUser, nullptr);
}
