// The main window's frame: how its tabs follow the window and how a tab's
// request to enlarge a picture reaches the window.

#include "archive/ArchivePage.h"
#include "intake/InboxPage.h"
#include "mainwindow/PictureU.h"
#include "mainwindow/SharedForms.h"
#include "platform/widgets/Controls.h"
#include "support/RecordingDialogs.h"
#include "support/TestDatabase.h"
#include "support/TestEnvironment.h"
#include "support/TestPictures.h"

#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QMouseEvent>
#include <QTabWidget>
#include <gtest/gtest.h>

using namespace tevrak;

namespace {

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        QDir(root()).removeRecursively();
        test::freshTestDatabase();
        QDir().mkpath(root() + "/picture/transfer");
    }
    static QString root() { return QString::fromStdString(test::driveCFolder()); }

    test::RecordingDialogs dialogs;
    SharedForms forms;
};

void doubleClick(QWidget* widget)
{
    const QPointF at(5, 5);
    QMouseEvent event(QEvent::MouseButtonDblClick, at, widget->mapToGlobal(at), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
}

} // namespace

TEST_F(MainWindowTest, ThePageControlFillsTheWindowAtAnySize)
{
    TPicture window(forms);
    window.show();
    QApplication::processEvents();
    EXPECT_EQ(window.size(), QSize(800, 550));
    EXPECT_EQ(window.PageControl1->geometry(), window.rect());

    window.resize(1024, 700); // the window manager resizes the window
    QApplication::processEvents();
    EXPECT_EQ(window.PageControl1->geometry(), window.rect());

    window.showMaximized();
    QApplication::processEvents();
    EXPECT_EQ(window.PageControl1->geometry(), window.rect());
}

TEST_F(MainWindowTest, DoubleClickingATab1CaptionEnlargesTheInboxPictureOverTheMainWindow)
{
    test::writeJpeg(root() + "/picture/IMG_1.jpg", {});
    TPicture window(forms);
    // Tab 2 shows another folder meanwhile; tab 1's caption still means the inbox.
    QDir().mkpath(root() + "/picture/12345678");
    test::writeJpeg(root() + "/picture/12345678/12345678001.jpg", {});
    window.archivePage().TabSheet2Show();
    window.archivePage().Edit6->setText(QStringLiteral("12345678"));
    ASSERT_EQ(window.archivePage().currentFolder(), QStringLiteral("c:\\picture\\12345678"));

    QWidget* previewParent = nullptr;
    dialogs.answerNextModal([&](QWidget& preview) {
        previewParent = preview.parentWidget();
        return 0;
    });
    const platform::ThumbnailSlot& first = window.inbox().thumbnailSlots()[0];
    ASSERT_EQ(first.caption->text(), QStringLiteral("IMG_1.jpg"));
    doubleClick(first.caption);
    EXPECT_TRUE(dialogs.messages.empty()) << dialogs.texts().join(' ').toStdString();
    EXPECT_EQ(dialogs.modalForms, QStringList({"PrintPreview"}));
    EXPECT_EQ(previewParent, &window);
}
