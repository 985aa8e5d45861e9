#include "records/forms/RecordBinding.h"

#include "platform/widgets/DateBox.h"
#include "platform/widgets/Dialogs.h"
#include "records/tables/DataSource.h"
#include "records/tables/ExpenseCalculation.h"
#include "records/forms/FieldControls.h"
#include "records/tables/Table.h"

#include <QAbstractButton>
#include <QButtonGroup>
#include <QComboBox>

namespace tevrak::records {

RecordBinding::RecordBinding(Table& table, DataSource& source, QObject* parent)
    : QObject(parent), m_table(table), m_source(source)
{
    connect(&m_source, &DataSource::enabledChanged, this, [this] { showRecord(); });
    connect(&m_table, &Dataset::currentChanged, this, [this] {
        if (!m_assigning)
            showRecord();
    });
    connect(&m_table, &Dataset::reset, this, [this] {
        if (!m_assigning)
            showRecord();
    });
}

template <typename Work> void RecordBinding::assigning(Work&& work)
{
    const bool outer = m_assigning;
    m_assigning = true;
    try {
        work();
    } catch (...) {
        m_assigning = outer;
        throw;
    }
    m_assigning = outer;
}

bool RecordBinding::isActive() const
{
    return m_source.isEnabled();
}

bool RecordBinding::isEntering() const
{
    return isActive() && m_table.state() == Dataset::State::Insert;
}

void RecordBinding::bindText(FieldEdit* edit, const QString& field)
{
    m_bindings.append({Kind::Text, edit, nullptr, field, {}});
    const Binding binding = m_bindings.last();
    connect(edit, &QLineEdit::textEdited, this, [this, binding] {
        if (!m_loading && isEntering())
            platform::guard([&] { take(binding); });
    });
}

void RecordBinding::bindNumber(FieldEdit* edit, const QString& field)
{
    m_bindings.append({Kind::Number, edit, nullptr, field, {}});
}

void RecordBinding::bindDate(platform::DateBox* box, const QString& field)
{
    m_bindings.append({Kind::Date, box, nullptr, field, {}});
    const Binding binding = m_bindings.last();
    connect(box, &platform::DateBox::textChanged, this, [this, binding] {
        if (!m_loading && isEntering())
            platform::guard([&] { take(binding); });
    });
}

void RecordBinding::bindLookup(QComboBox* combo, const QString& field)
{
    m_bindings.append({Kind::Lookup, combo, nullptr, field, {}});
    const Binding binding = m_bindings.last();
    connect(combo, &QComboBox::currentIndexChanged, this, [this, binding] {
        if (!m_loading && isEntering())
            platform::guard([&] { take(binding); });
    });
}

void RecordBinding::bindChoice(QButtonGroup* group, const QString& field, const QStringList& values)
{
    m_bindings.append({Kind::Choice, nullptr, group, field, values});
    const Binding binding = m_bindings.last();
    connect(group, &QButtonGroup::idClicked, this, [this, binding] {
        if (!m_loading && isEntering())
            platform::guard([&] { take(binding); });
    });
}

void RecordBinding::setActive(bool active)
{
    m_source.setEnabled(active);
    showRecord();
}

FieldEdit* RecordBinding::numberBox(const QString& field) const
{
    for (const Binding& b : m_bindings)
        if (b.kind == Kind::Number && b.field.compare(field, Qt::CaseInsensitive) == 0)
            return static_cast<FieldEdit*>(b.control);
    return nullptr;
}

void RecordBinding::take(const Binding& b)
{
    assigning([&] {
        switch (b.kind) {
        case Kind::Text:
            m_table.setText(b.field, static_cast<FieldEdit*>(b.control)->text());
            break;
        case Kind::Number: {
            auto* edit = static_cast<FieldEdit*>(b.control);
            const auto value = readAmount(edit->text());
            if (!value)
                m_table.setBlank(b.field);
            else if (m_table.fieldType(b.field) == FieldType::SmallInt)
                m_table.setInteger(b.field, int(*value));
            else
                m_table.setFloat(b.field, *value);
            edit->setModified(false);
            break;
        }
        case Kind::Date: {
            const QDate date = static_cast<platform::DateBox*>(b.control)->date();
            if (date.isValid())
                m_table.setDate(b.field, date);
            else
                m_table.setBlank(b.field);
            break;
        }
        case Kind::Lookup: {
            auto* combo = static_cast<QComboBox*>(b.control);
            m_table.setText(b.field, combo->currentIndex() < 0 ? QString() : combo->currentText());
            break;
        }
        case Kind::Choice: {
            const int id = b.group->checkedId();
            m_table.setText(b.field, id >= 0 && id < b.values.size() ? b.values.at(id) : QString());
            break;
        }
        }
    });
}

void RecordBinding::takeNumber(FieldEdit* edit)
{
    for (const Binding& b : m_bindings) {
        if (b.control == edit) {
            if (isEntering())
                take(b);
            break;
        }
    }
    showRecord();
}

void RecordBinding::takeAll()
{
    if (!isEntering())
        return;
    for (const Binding& b : m_bindings) {
        // A number box the user has not changed holds what its field holds
        // (computed values included): taking its shown text back could only
        // round it.
        if (b.kind == Kind::Number && !static_cast<FieldEdit*>(b.control)->isModified())
            continue;
        take(b);
    }
}

void RecordBinding::showRecord()
{
    const bool outer = m_loading;
    m_loading = true;
    for (const Binding& b : m_bindings)
        show(b);
    m_loading = outer;
    // Only a record being entered takes input: a blank box of an idle form,
    // or a stored record on show, cannot be typed into.
    const bool editable = isEntering();
    for (const Binding& b : m_bindings) {
        switch (b.kind) {
        case Kind::Text:
        case Kind::Number: {
            auto* edit = static_cast<FieldEdit*>(b.control);
            if (!edit->isComputed())
                edit->setReadOnly(!editable);
            break;
        }
        case Kind::Date:
            static_cast<platform::DateBox*>(b.control)->setReadOnly(!editable);
            break;
        case Kind::Lookup:
            b.control->setEnabled(editable);
            break;
        case Kind::Choice:
            for (QAbstractButton* button : b.group->buttons())
                button->setEnabled(editable);
            break;
        }
    }
}

void RecordBinding::show(const Binding& b)
{
    const bool shown = isActive() && m_table.isOpen() &&
                       (m_table.state() == Dataset::State::Insert || m_table.hasCurrentRow());
    const bool blank = !shown || m_table.isBlank(b.field);
    switch (b.kind) {
    case Kind::Text: {
        auto* edit = static_cast<FieldEdit*>(b.control);
        const QString text = blank ? QString() : m_table.asText(b.field);
        if (edit->text() != text)
            edit->setText(text);
        break;
    }
    case Kind::Number: {
        auto* edit = static_cast<FieldEdit*>(b.control);
        // A box still being edited keeps what the user typed.
        if (shown && edit->isModified() && edit->hasFocus())
            break;
        QString text;
        if (!blank)
            text = m_table.fieldType(b.field) == FieldType::SmallInt
                       ? QString::number(m_table.asInteger(b.field))
                       : formatAmount(m_table.asFloat(b.field));
        if (edit->text() != text)
            edit->setText(text);
        edit->setModified(false);
        break;
    }
    case Kind::Date: {
        auto* box = static_cast<platform::DateBox*>(b.control);
        const QDate date = blank ? QDate() : m_table.asDate(b.field);
        // A half-typed date stays as typed while its field is blank.
        if (shown && !date.isValid() && !box->isEmptyDate() && !box->date().isValid())
            break;
        if (box->date() != date || (!date.isValid() && !box->isEmptyDate()))
            box->setDate(date);
        break;
    }
    case Kind::Lookup: {
        auto* combo = static_cast<QComboBox*>(b.control);
        const QString text = blank ? QString() : m_table.asText(b.field);
        combo->setCurrentIndex(text.isEmpty() ? -1 : combo->findText(text, Qt::MatchExactly));
        break;
    }
    case Kind::Choice: {
        const QString text = blank ? QString() : m_table.asText(b.field);
        const int id = int(b.values.indexOf(text));
        b.group->setExclusive(false);
        for (QAbstractButton* button : b.group->buttons())
            button->setChecked(b.group->id(button) == id);
        b.group->setExclusive(true);
        break;
    }
    }
}

void detachControls(QObject& page, QWidget& tab)
{
    for (QWidget* control : tab.findChildren<QWidget*>())
        control->blockSignals(true);
    page.blockSignals(true);
}

} // namespace tevrak::records
