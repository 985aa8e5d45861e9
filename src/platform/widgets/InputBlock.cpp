#include "platform/widgets/InputBlock.h"

#include <QEvent>

namespace tevrak::platform {

InputBlock::InputBlock(QWidget* window) : m_window(window)
{
    if (!m_window)
        return;
    m_focus = m_window->focusWidget();
    m_wasEnabled = m_window->isEnabled();
    m_window->setEnabled(false);
    m_window->installEventFilter(this);
}

InputBlock::~InputBlock()
{
    release();
}

void InputBlock::release()
{
    if (!m_window)
        return;
    m_window->removeEventFilter(this);
    m_window->setEnabled(m_wasEnabled);
    if (m_focus && m_focus->isEnabled())
        m_focus->setFocus();
    m_window = nullptr;
}

bool InputBlock::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_window && event->type() == QEvent::Close) {
        event->ignore();
        return true;
    }
    return false;
}

} // namespace tevrak::platform
