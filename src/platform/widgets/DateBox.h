#pragma once

#include <QDate>
#include <QWidget>

class QLineEdit;
class QToolButton;
class QCalendarWidget;

// A date box: a line edit that takes a date as "dd/mm/yyyy" through the input
// mask 99/99/9999, with a calendar button beside it. Unlike a QDateEdit it can
// be empty; the empty box shows "  /  /    ". A text that is not a whole valid
// date (empty, half typed, 31/02/2024) reads as no date.
namespace tevrak::platform {

class DateBox : public QWidget {
    Q_OBJECT
public:
    explicit DateBox(QWidget* parent = nullptr);

    // The date shown, or a null QDate when the box is empty or unreadable.
    QDate date() const;
    // Shows the date; a null date empties the box.
    void setDate(const QDate& date);
    void clear();

    // The box's text as shown, blanks included ("05/03/2024", "  /  /    ").
    QString displayText() const;
    // Sets the text as if typed: "  /  /  " or "" empty it.
    void setText(const QString& text);
    // True when no digit has been typed.
    bool isEmptyDate() const;

    void setReadOnly(bool readOnly);
    bool isReadOnly() const;

    QLineEdit* lineEdit() const { return m_edit; }
    QToolButton* calendarButton() const { return m_button; }

    // The short date format of the box's text.
    static QString format() { return QStringLiteral("dd/MM/yyyy"); }
    static QString emptyText() { return QStringLiteral("  /  /    "); }

    // Opens the calendar below the box (what the calendar button does).
    void openCalendar();

signals:
    // A character key (Backspace included) was typed into the box.
    void keyTyped();
    // The calendar button was pressed.
    void calendarClicked();
    // The text changed (by typing, the calendar or setDate).
    void textChanged();
    // The box lost the keyboard focus.
    void left();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void pickFromCalendar(const QDate& date);

    QLineEdit* m_edit = nullptr;
    QToolButton* m_button = nullptr;
    QCalendarWidget* m_calendar = nullptr;
};

} // namespace tevrak::platform
