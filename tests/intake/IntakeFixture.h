#pragma once

#include "intake/Filing.h"
#include "intake/InboxPage.h"
#include "platform/core/ProgramValues.h"
#include "support/QtPrinting.h"
#include "support/RecordingDialogs.h"
#include "support/TestEnvironment.h"
#include "support/TestPictures.h"

#include <QDir>
#include <QHash>
#include <QLineEdit>
#include <QPushButton>
#include <QWidget>
#include <gtest/gtest.h>
#include <memory>

namespace tevrak::test {

// Tab 1 on its own: the inbox page and filing over a fresh drive C:.
class IntakeFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        QDir(root()).removeRecursively();
        QDir().mkpath(inbox());
        QDir().mkpath(root() + "/picture/transfer");
    }

    // Builds the tab and its first page (as the window's initialisation does).
    void openTab()
    {
        tab = std::make_unique<QWidget>();
        tab->resize(796, 520);
        page = new intake::InboxPage(tab.get(), values, [this] { buildFirstPage(); });
        filing = std::make_unique<intake::Filing>(*page, values);
        buildFirstPage();
    }

    // The first page as the window's initialisation builds it: an error ends
    // it in the error box.
    void buildFirstPage() { platform::guard([this] { page->buildFirstPage(); }); }
    void next() { page->BitBtn2->click(); }
    void refresh() { page->BitBtn4->click(); }

    static QString root() { return QString::fromStdString(driveCFolder()); }
    static QString inbox() { return root() + "/picture"; }

    static void addJpeg(const QString& name, QColor colour = QColor(200, 60, 40))
    {
        JpegSpec options;
        options.width = 64;
        options.height = 48;
        options.colour = colour;
        options.seed = qHash(name); // different bytes under each name: the filing guard asks about equal ones
        writeJpeg(inbox() + "/" + name, options);
    }

    // Names shown in slots 1 to 9 (empty for a hidden slot).
    QStringList shownNames() const
    {
        QStringList names;
        for (const auto& slot : page->thumbnailSlots())
            names.append(slot.image->isVisibleTo(tab.get()) ? slot.caption->text() : QString());
        return names;
    }

    // Drops slot k (1-based) on a target.
    void drop(int slot, platform::ImageControl* target)
    {
        // As the drop event delivers it: through the handlers' error guard.
        platform::guard([&] {
            filing->Image10DragDrop(target, page->thumbnailSlots()[static_cast<size_t>(slot - 1)].image);
        });
    }

    RecordingDialogs dialogs;
    ProgramValues values;
    std::unique_ptr<QWidget> tab;
    intake::InboxPage* page = nullptr;
    std::unique_ptr<intake::Filing> filing;
};

}  // namespace tevrak::test
