#include "records/forms/FieldControls.h"

#include "platform/core/Cp874.h"
#include "platform/widgets/Dialogs.h"
#include "records/tables/ExpenseCalculation.h"

#include <QKeyEvent>
#include <QPalette>
#include <QValidator>

namespace tevrak::records {

namespace {

// Takes only texts made of the characters a number is written with; whether
// the text reads as a number is decided when the box is left.
class NumberCharacters final : public QValidator {
public:
    using QValidator::QValidator;
    State validate(QString& input, int&) const override
    {
        for (const QChar c : input)
            if (!isNumberCharacter(c))
                return Invalid;
        return Acceptable;
    }
};

} // namespace

FieldEdit::FieldEdit(const QString& objectName, Kind kind, int maxLength, QWidget* parent)
    : QLineEdit(parent), m_kind(kind)
{
    setObjectName(objectName);
    if (maxLength > 0)
        setMaxLength(maxLength);
    if (kind == Kind::Number)
        setValidator(new NumberCharacters(this));
    connect(this, &QLineEdit::textChanged, this, [this](const QString& text) {
        if (platform::cp874::canEncode(text))
            m_accepted = text;
    });
    connect(this, &QLineEdit::textEdited, this, &FieldEdit::refuseUnwritable);
    // An edit that no key press made (a paste from the context menu, a drop)
    // counts as typing too.
    connect(this, &QLineEdit::textEdited, this, [this] {
        if (!m_inKeyPress)
            emit keyTyped();
    });
}

void FieldEdit::setComputed()
{
    m_computed = true;
    setReadOnly(true);
    setFocusPolicy(Qt::NoFocus);
    QPalette shaded = palette();
    shaded.setColor(QPalette::Base, shaded.color(QPalette::Button));
    setPalette(shaded);
}

void FieldEdit::refuseUnwritable(const QString& text)
{
    if (platform::cp874::canEncode(text))
        return;
    const QString previous = m_accepted;
    setText(previous);
    platform::showInputError(QStringLiteral("บันทึกข้อความนี้ไม่ได้: มีอักขระที่ไม่อยู่ในรหัสภาษาไทย"));
    setModified(true);
}

void FieldEdit::focusOutEvent(QFocusEvent* event)
{
    QLineEdit::focusOutEvent(event);
    // Another application taking the focus, or the box's own context menu,
    // does not leave the box.
    if (event->reason() != Qt::ActiveWindowFocusReason && event->reason() != Qt::PopupFocusReason)
        emit left();
}

void FieldEdit::keyPressEvent(QKeyEvent* event)
{
    if (!isReadOnly() && (event->key() == Qt::Key_Backspace || event->matches(QKeySequence::Paste) ||
                          (!event->text().isEmpty() && event->text().at(0).isPrint())))
        emit keyTyped();
    m_inKeyPress = true;
    QLineEdit::keyPressEvent(event);
    m_inKeyPress = false;
}

} // namespace tevrak::records
