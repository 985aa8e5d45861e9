// The windows Qt draws for the program (message boxes, the print preview, the
// printer and page set-up dialogs, the date box's calendar) with the Thai
// translation loaded as the program loads it: every text they show is read
// through the accessibility tree, and any word in Latin letters that is not on
// the short allow-list below is reported with the window and the text.
//
// Runs on a real X server (tests/e2e/in_xvfb.py starts a private Xvfb).

#include "app/QtTranslation.h"
#include "app/Workstation.h"
#include "intake/PictureZoom.h"
#include "platform/widgets/DateBox.h"
#include "platform/widgets/Dialogs.h"
#include "support/RecordingDialogs.h"
#include "support/TestEnvironment.h"
#include "support/TestPictures.h"

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QCalendarWidget>
#include <QDir>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPageSize>
#include <QPointer>
#include <QPrintPreviewDialog>
#include <QPrinterInfo>
#include <QPushButton>
#include <QRegularExpression>
#include <QTimer>
#include <QToolButton>
#include <QTranslator>
#include <functional>
#include <memory>
#include <gtest/gtest.h>

namespace tevrak::test {
namespace {

// What a Thai clerk may read in Latin letters in these windows: the program's
// own captions and texts, quoted as they are, and technical tokens.
const QStringList kProgramTexts = {
    QStringLiteral("Tevrak หาดใหญ่ ADSL"), // the application title, caption of the message boxes
    QStringLiteral("Print Preview"),        // the preview's caption
    QStringLiteral("Transfer Complete"),
    QStringLiteral("Transfer failed"),
};
// Units of length, and the file format the printer dialog writes.
const QStringList kTechnicalWords = {QStringLiteral("mm"), QStringLiteral("in"), QStringLiteral("pt"),
                                     QStringLiteral("P"),  QStringLiteral("DD"), QStringLiteral("CC"),
                                     QStringLiteral("PDF")};

// File names with their extension ("AB123456001.JPG", "transfer.log").
const QRegularExpression kFileName(QStringLiteral("[\\w.-]+\\.(jpe?g|gif|zip|db|px|pdf|log|txt)\\b"),
                                   QRegularExpression::CaseInsensitiveOption);

// Keyboard shortcuts as the keys are labelled ("Ctrl+Shift+Z").
const QRegularExpression kShortcut(QStringLiteral("\\b(?:(?:Ctrl|Shift|Alt)\\+)+\\w+\\b"));

// Whole texts that are names from the system or from the paper trade: the
// printers installed, Qt's paper sizes ("A4", "Letter", "Envelope DL") and
// file paths (the printer dialog's output file).
bool isNameFromOutside(const QString& text)
{
    static const QStringList names = [] {
        QStringList all = QPrinterInfo::availablePrinterNames();
        for (int id = 0; id <= QPageSize::LastPageSize; ++id)
            all.append(QPageSize::name(QPageSize::PageSizeId(id)));
        return all;
    }();
    return names.contains(text) || text.startsWith(QLatin1Char('/'));
}

// The Latin-letter words of a text that no allowance covers.
QStringList englishWords(const QString& text)
{
    if (isNameFromOutside(text))
        return {};
    QString rest = text;
    for (const QString& allowed : kProgramTexts)
        rest.replace(allowed, QStringLiteral(" "));
    rest.replace(kFileName, QStringLiteral(" "));
    rest.replace(kShortcut, QStringLiteral(" "));
    static const QRegularExpression latinWord(QStringLiteral("[A-Za-z]+"));
    QStringList words;
    for (auto match = latinWord.globalMatch(rest); match.hasNext();) {
        const QString word = match.next().captured();
        if (!kTechnicalWords.contains(word))
            words.append(word);
    }
    return words;
}

// Every visible element's name, description, value and tool tip, below and
// including `element`.
void collectTexts(QAccessibleInterface* element, QStringList& texts, int depth = 0)
{
    if (element == nullptr || !element->isValid() || depth > 64 || element->state().invisible)
        return;
    for (const QAccessible::Text kind : {QAccessible::Name, QAccessible::Description, QAccessible::Value})
        texts.append(element->text(kind));
    if (auto* widget = qobject_cast<QWidget*>(element->object()))
        texts.append(widget->toolTip());
    for (int i = 0; i < element->childCount(); ++i)
        collectTexts(element->child(i), texts, depth + 1);
}

// The texts of `window` that hold English, each as "<window>: \"<text>\"".
QStringList englishIn(QWidget& window, const QString& windowName)
{
    QApplication::processEvents();
    QStringList texts;
    collectTexts(QAccessible::queryAccessibleInterface(&window), texts);
    QStringList found;
    for (const QString& text : texts) {
        if (!englishWords(text).isEmpty()) {
            const QString entry = QStringLiteral("%1: \"%2\"").arg(windowName, text);
            if (!found.contains(entry))
                found.append(entry);
        }
    }
    return found;
}

// Runs `show` (which opens a modal window and returns when it is closed); the
// first modal window that appears other than `parent` is handed to `inspect`
// and then closed.
void whileModal(const std::function<void()>& show, const std::function<void(QWidget&)>& inspect,
                QWidget* parent = nullptr)
{
    bool inspected = false;
    int waited = 0;
    QTimer poll;
    poll.setInterval(50);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == nullptr || modal == parent || !modal->isVisible() || inspected) {
            // A window that never counts as the modal one is closed after 10 s, so the test fails instead of hanging.
            if (++waited == 200)
                for (QWidget* window : QApplication::topLevelWidgets())
                    if (window != parent && window->isVisible() && window->isModal())
                        window->close();
            return;
        }
        inspected = true;
        poll.stop();
        QPointer<QWidget> window(modal);
        inspect(*modal);
        if (window)
            window->close();
    });
    poll.start();
    show();
    EXPECT_TRUE(inspected) << "no window opened";
}

class ThaiDialogs : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        ASSERT_FALSE(installQtTranslation(*qApp).isEmpty())
            << "no qt_th.qm in " << qtTranslationFolders().join(", ").toStdString();
        platform::setApplicationTitle(Workstation::title());
    }

    static void expectThai(const QStringList& english)
    {
        EXPECT_TRUE(english.isEmpty()) << "English in Qt's windows:\n  " << english.join("\n  ").toStdString();
    }
};

TEST_F(ThaiDialogs, MessageBoxesWithEveryButtonSetThePrograms)
{
    QStringList english;
    // The program's own box (OK), through the service every message goes through.
    whileModal([] { platform::dialogs().showMessage({platform::applicationTitle(), "Transfer Complete",
                                                     platform::MessageIcon::Information}); },
               [&](QWidget& box) { english += englishIn(box, "message box (OK)"); });
    // Yes/No and OK/Cancel, with details shown and hidden.
    for (const auto buttons : {QMessageBox::Yes | QMessageBox::No, QMessageBox::Ok | QMessageBox::Cancel}) {
        QMessageBox box(QMessageBox::Question, platform::applicationTitle(), "Transfer failed", buttons);
        box.setDetailedText("ส่ง AB123456001.JPG แล้ว");
        whileModal([&] { box.exec(); },
                   [&](QWidget& shown) {
                       const QString name = buttons & QMessageBox::Yes ? "message box (Yes/No)"
                                                                       : "message box (OK/Cancel)";
                       english += englishIn(shown, name);
                       for (QAbstractButton* button : box.buttons())
                           if (box.buttonRole(button) == QMessageBox::ActionRole)
                               button->click(); // the details button
                       english += englishIn(shown, name + " with its details");
                   });
    }
    expectThai(english);
}

TEST_F(ThaiDialogs, ThePrintPreviewItsPrinterDialogAndPageSetUp)
{
    const QString inbox = QString::fromStdString(driveCFolder()) + "/picture";
    QDir().mkpath(inbox);
    writeJpeg(inbox + "/photo.jpg", {});
    QStringList english;
    RecordingDialogs recorder;
    recorder.answerNextModal([&](QWidget& form) {
        auto* preview = qobject_cast<QPrintPreviewDialog*>(&form);
        EXPECT_NE(preview, nullptr);
        if (preview == nullptr)
            return 0;
        preview->show();
        english += englishIn(*preview, "print preview");
        // The tool bar's commands, by the text the preview gave them.
        const auto action = [&](const char* source) {
            const QString text = QCoreApplication::translate("QPrintPreviewDialog", source);
            for (QAction* candidate : preview->findChildren<QAction*>())
                if (candidate->text() == text)
                    return candidate;
            ADD_FAILURE() << "no " << source << " in the preview";
            return static_cast<QAction*>(nullptr);
        };
        if (QAction* pageSetup = action("Page setup"))
            whileModal([&] { pageSetup->trigger(); },
                       [&](QWidget& dialog) { english += englishIn(dialog, "page set-up dialog"); }, preview);
        if (QAction* print = action("Print"))
            whileModal([&] { print->trigger(); },
                       [&](QWidget& dialog) {
                           english += englishIn(dialog, "printer dialog");
                           // The options the dialog folds away.
                           const QString more = QCoreApplication::translate("QPrintDialog", "&Options >>");
                           bool unfolded = false;
                           for (QPushButton* button : dialog.findChildren<QPushButton*>())
                               if (button->text() == more && !unfolded) {
                                   button->click();
                                   unfolded = true;
                               }
                           EXPECT_TRUE(unfolded) << "no options button in the printer dialog";
                           english += englishIn(dialog, "printer dialog with its options");
                       },
                       preview);
        preview->hide();
        return 0;
    });
    platform::setDialogs(&recorder);
    EXPECT_TRUE(intake::zoomPicture("c:\\picture\\photo.jpg", "photo.jpg"));
    platform::setDialogs(nullptr);
    EXPECT_EQ(recorder.modalForms.size(), 1);
    expectThai(english);
}

TEST_F(ThaiDialogs, TheDateBoxsCalendar)
{
    platform::DateBox box;
    box.setDate(QDate(2026, 12, 10));
    box.show();
    box.calendarButton()->click();
    auto* calendar = box.findChild<QCalendarWidget*>();
    ASSERT_NE(calendar, nullptr);
    ASSERT_TRUE(calendar->isVisible());
    QStringList english = englishIn(box, "date box");
    english += englishIn(*calendar, "date box's calendar");
    // The menu of the box's text (right button).
    const std::unique_ptr<QMenu> menu(box.lineEdit()->createStandardContextMenu());
    menu->show();
    english += englishIn(*menu, "date box's text menu");
    expectThai(english);
    // The box's own text keeps its form.
    EXPECT_EQ(box.displayText(), "10/12/2026");
}

// The check itself: with Qt's texts left English it names them.
TEST_F(ThaiDialogs, WithoutTheTranslationTheCheckNamesTheEnglishTexts)
{
    std::vector<QTranslator*> removed;
    for (QTranslator* translator : qApp->findChildren<QTranslator*>())
        if (QCoreApplication::removeTranslator(translator))
            removed.push_back(translator);
    ASSERT_FALSE(removed.empty());
    QStringList english;
    QMessageBox box(QMessageBox::Question, platform::applicationTitle(), "Transfer failed",
                    QMessageBox::Yes | QMessageBox::No);
    whileModal([&] { box.exec(); }, [&](QWidget& shown) { english = englishIn(shown, "box"); });
    for (QTranslator* translator : removed)
        QCoreApplication::installTranslator(translator);
    EXPECT_EQ(english, QStringList({"box: \"Yes\"", "box: \"No\""}));
    // Allowed texts and names stay unreported.
    EXPECT_EQ(englishWords("Transfer failed\nส่งไม่ได้ 550 No such file"), QStringList({"No", "such", "file"}));
    EXPECT_TRUE(englishWords("Tevrak หาดใหญ่ ADSL").isEmpty());
    EXPECT_TRUE(englishWords("A4").isEmpty());
    EXPECT_TRUE(englishWords("ส่ง AB123456001.JPG แล้ว").isEmpty());
    EXPECT_TRUE(englishWords("มิลลิเมตร (mm)").isEmpty());
    EXPECT_TRUE(englishWords("ทำซ้ำ\tCtrl+Shift+Z").isEmpty());
    EXPECT_EQ(englishWords("Redo\tCtrl+Shift+Z"), QStringList{"Redo"});
}

} // namespace
} // namespace tevrak::test
