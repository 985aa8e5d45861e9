#include "records/forms/FormLook.h"

#include <QApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QPushButton>
#include <QTableView>

namespace tevrak::records::look {

void makeHeading(QLabel* label)
{
    QFont font = label->font();
    font.setBold(true);
    font.setUnderline(true);
    if (font.pixelSize() > 0)
        font.setPixelSize(font.pixelSize() + 2);
    else if (font.pointSizeF() > 0)
        font.setPointSizeF(font.pointSizeF() * 1.15);
    label->setFont(font);
}

QLabel* caption(const QString& text, QWidget* buddy, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setBuddy(buddy);
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return label;
}

QLabel* text(const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    return label;
}

QPushButton* button(const QString& objectName, const QString& caption, QStyle::StandardPixmap glyph,
                    QWidget* parent)
{
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(objectName);
    b->setIcon(QApplication::style()->standardIcon(glyph));
    b->setMinimumWidth(std::max(90, b->sizeHint().width() + 8));
    b->setAutoDefault(false);
    return b;
}

void fitChars(QWidget* box, int chars)
{
    // Thai and Latin capitals are about as wide as "W" at most; "0" is a fair
    // average of what is typed into these boxes.
    const QFontMetrics metrics(box->font());
    const int width = metrics.horizontalAdvance(QString(chars + 2, QLatin1Char('0'))) + 12;
    box->setMinimumWidth(width);
    box->setMaximumWidth(width + width / 3);
}

void makeRecordGrid(QTableView* grid, const QList<int>& widths)
{
    grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grid->setSelectionBehavior(QAbstractItemView::SelectRows);
    grid->setSelectionMode(QAbstractItemView::SingleSelection);
    grid->setFocusPolicy(Qt::ClickFocus);
    grid->setTabKeyNavigation(false);
    grid->setAlternatingRowColors(true);
    grid->verticalHeader()->setDefaultSectionSize(grid->fontMetrics().height() + 8);
    grid->verticalHeader()->setVisible(false);
    grid->horizontalHeader()->setDefaultAlignment(Qt::AlignCenter);
    grid->horizontalHeader()->setHighlightSections(false);
    // The selection stays as visible when the grid does not have the focus.
    QPalette palette = grid->palette();
    palette.setColor(QPalette::Inactive, QPalette::Highlight,
                     palette.color(QPalette::Active, QPalette::Highlight));
    palette.setColor(QPalette::Inactive, QPalette::HighlightedText,
                     palette.color(QPalette::Active, QPalette::HighlightedText));
    grid->setPalette(palette);
    for (int column = 0; column < widths.size(); ++column) {
        if (widths.at(column) > 0)
            grid->setColumnWidth(column, widths.at(column));
    }
    grid->horizontalHeader()->setStretchLastSection(true);
}

} // namespace tevrak::records::look
