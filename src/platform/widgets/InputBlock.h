#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>

namespace tevrak::platform {

// Keeps a window from taking input (mouse, keys, drops, closing) while it
// lives; the window still repaints whenever events are processed. The
// window's state and focus come back when it ends, however the work ends.
class InputBlock : public QObject {
public:
    explicit InputBlock(QWidget* window);
    ~InputBlock() override;
    InputBlock(const InputBlock&) = delete;
    InputBlock& operator=(const InputBlock&) = delete;

    // Gives the window its input back now rather than at the end.
    void release();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QPointer<QWidget> m_window;
    QPointer<QWidget> m_focus;
    bool m_wasEnabled = true;
};

} // namespace tevrak::platform
