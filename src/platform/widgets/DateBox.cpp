#include "platform/widgets/DateBox.h"

#include <QCalendarWidget>
#include <QLocale>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPainter>
#include <QToolButton>

namespace tevrak::platform {

namespace {

// A small calendar glyph for the button: a page with a red top band and a
// grid of days.
QIcon calendarIcon()
{
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setPen(QColor(80, 80, 80));
    p.setBrush(Qt::white);
    p.drawRect(1, 2, 13, 12);
    p.fillRect(2, 3, 12, 3, QColor(200, 40, 40));
    p.setPen(QColor(90, 90, 90));
    for (int row = 0; row < 3; ++row)
        for (int col = 0; col < 4; ++col)
            p.drawPoint(3 + col * 3, 8 + row * 2);
    return QIcon(pixmap);
}

} // namespace

DateBox::DateBox(QWidget* parent) : QWidget(parent)
{
    m_edit = new QLineEdit(this);
    m_edit->setInputMask(QStringLiteral("99/99/9999; "));
    m_edit->installEventFilter(this);
    m_button = new QToolButton(this);
    m_button->setIcon(calendarIcon());
    m_button->setFocusPolicy(Qt::NoFocus);
    m_button->setToolTip(QStringLiteral("ปฏิทิน"));

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(1);
    layout->addWidget(m_edit, 1);
    layout->addWidget(m_button);
    setFocusProxy(m_edit);
    setFocusPolicy(Qt::StrongFocus);

    // Wide enough for "00/00/0000" in the box's font plus the button.
    const int textWidth = m_edit->fontMetrics().horizontalAdvance(QStringLiteral("00/00/00000")) + 12;
    m_edit->setMinimumWidth(textWidth);

    connect(m_edit, &QLineEdit::textChanged, this, [this] { emit textChanged(); });
    connect(m_button, &QToolButton::clicked, this, [this] {
        emit calendarClicked();
        openCalendar();
    });
}

QDate DateBox::date() const
{
    if (!m_edit->hasAcceptableInput())
        return {};
    return QDate::fromString(m_edit->displayText(), format());
}

void DateBox::setDate(const QDate& date)
{
    if (date.isValid())
        m_edit->setText(date.toString(format()));
    else
        m_edit->clear();
}

void DateBox::clear()
{
    m_edit->clear();
}

QString DateBox::displayText() const
{
    return m_edit->displayText();
}

void DateBox::setText(const QString& text)
{
    m_edit->setText(text);
}

bool DateBox::isEmptyDate() const
{
    const QString shown = m_edit->displayText();
    for (const QChar c : shown)
        if (c.isDigit())
            return false;
    return true;
}

void DateBox::setReadOnly(bool readOnly)
{
    m_edit->setReadOnly(readOnly);
    m_button->setEnabled(!readOnly);
}

bool DateBox::isReadOnly() const
{
    return m_edit->isReadOnly();
}

void DateBox::openCalendar()
{
    if (m_edit->isReadOnly() || !isEnabled())
        return;
    if (!m_calendar) {
        m_calendar = new QCalendarWidget(this);
        m_calendar->setWindowFlags(Qt::Popup);
        m_calendar->setGridVisible(true);
        // Month and day names in Thai (the clerks' language); the box's own
        // text keeps its dd/mm/yyyy form.
        m_calendar->setLocale(QLocale(QLocale::Thai, QLocale::Thailand));
        connect(m_calendar, &QCalendarWidget::clicked, this, &DateBox::pickFromCalendar);
        connect(m_calendar, &QCalendarWidget::activated, this, &DateBox::pickFromCalendar);
    }
    const QDate shown = date();
    m_calendar->setSelectedDate(shown.isValid() ? shown : QDate::currentDate());
    m_calendar->adjustSize();
    m_calendar->move(mapToGlobal(QPoint(0, height())));
    m_calendar->show();
    m_calendar->setFocus();
}

void DateBox::pickFromCalendar(const QDate& date)
{
    setDate(date);
    if (m_calendar)
        m_calendar->hide();
    m_edit->setFocus();
}

bool DateBox::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_edit) {
        if (event->type() == QEvent::KeyPress) {
            const auto* key = static_cast<QKeyEvent*>(event);
            if (!m_edit->isReadOnly() && (!key->text().isEmpty() && key->text().at(0).isPrint()))
                emit keyTyped();
            else if (!m_edit->isReadOnly() && key->key() == Qt::Key_Backspace)
                emit keyTyped();
        } else if (event->type() == QEvent::FocusOut) {
            emit left();
        }
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace tevrak::platform
