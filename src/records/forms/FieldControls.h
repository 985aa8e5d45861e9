#pragma once

#include <QLineEdit>

// The text boxes of the claim-record forms.
namespace tevrak::records {

// A text box of a claim-record form. Text boxes take at most their field's
// size in Thai code-page characters; a text that cannot be written in that
// code page is refused with a message and the box keeps its previous text.
// Number boxes take only the characters a number is written with (no
// blanks). Every box reports when the focus moves from it to another control
// of the program (left()), and every character key typed, Backspace and
// paste included (keyTyped()).
class FieldEdit : public QLineEdit {
    Q_OBJECT
public:
    enum class Kind { Text, Number };

    FieldEdit(const QString& objectName, Kind kind, int maxLength, QWidget* parent);

    Kind kind() const { return m_kind; }
    // A read-only box that shows a computed value: shaded, skipped by Tab.
    void setComputed();
    bool isComputed() const { return m_computed; }

signals:
    void left();
    void keyTyped();

protected:
    void focusOutEvent(QFocusEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void refuseUnwritable(const QString& text);

    Kind m_kind;
    bool m_computed = false;
    QString m_accepted; // the last text that could be written in the code page
    bool m_inKeyPress = false;
};

} // namespace tevrak::records
