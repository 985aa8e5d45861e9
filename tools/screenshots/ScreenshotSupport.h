#pragma once

// What the documentation's screenshot tools share.

#include <QApplication>
#include <QElapsedTimer>
#include <QString>
#include <QWidget>
#include <cstdio>

namespace tevrak::screenshots {

// Lets the windows paint and settle for ms milliseconds.
inline void settle(int ms)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
}

// The window as it is on screen, into file; its name and size on standard output.
inline void save(QWidget& window, const QString& file)
{
    window.grab().save(file);
    std::printf("%s: \"%s\" %dx%d\n", qPrintable(file), qPrintable(window.windowTitle()), window.width(),
                window.height());
}

} // namespace tevrak::screenshots
