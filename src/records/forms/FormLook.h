#pragma once

#include <QList>
#include <QStyle>

class QLabel;
class QLineEdit;
class QPushButton;
class QTableView;
class QWidget;

// The common look of the claim-record forms: headings, captions, buttons with
// glyphs, boxes sized for their fields, and the read-only record grids.
namespace tevrak::records::look {

// Bold and underlined.
void makeHeading(QLabel* label);
// A caption label for a box (its buddy), right-aligned beside it.
QLabel* caption(const QString& text, QWidget* buddy, QWidget* parent);
// A plain caption label (units such as "บาท").
QLabel* text(const QString& text, QWidget* parent);
// A push button with a glyph, wide enough for its caption.
QPushButton* button(const QString& objectName, const QString& caption, QStyle::StandardPixmap glyph,
                    QWidget* parent);
// Makes a box wide enough for `chars` characters of its font (at least two
// characters more, so the last one is never clipped).
void fitChars(QWidget* box, int chars);
// A read-only grid: whole-row selection, the selection always shown, centred
// titles, no tab stop. `widths` gives the columns' widths in pixels; 0 lets
// the column take the rest.
void makeRecordGrid(QTableView* grid, const QList<int>& widths);

} // namespace tevrak::records::look
