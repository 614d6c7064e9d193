// SPDX-License-Identifier: Apache-2.0
#pragma once

// What the screenshot programs share: waiting with the window alive, and saving what the
// screen shows of a window.
#include <QApplication>
#include <QElapsedTimer>
#include <QPixmap>
#include <QScreen>
#include <QThread>
#include <QWidget>
#include <cstdio>
#include <functional>

namespace quorvale::test {

inline bool WaitUntil(const std::function<bool()>& done, int limitMs) {
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < limitMs) {
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(10);
    }
    return done();
}

inline bool Save(QWidget& window, const QString& path) {
    WaitUntil([] { return false; }, 300);  // let the window server draw
    const QPixmap shot = window.screen()->grabWindow(window.winId());
    const bool saved = shot.save(path, "PNG");
    std::printf("%s %s (%dx%d)\n", saved ? "wrote" : "could not write", qPrintable(path),
                shot.width(), shot.height());
    return saved;
}

}  // namespace quorvale::test
