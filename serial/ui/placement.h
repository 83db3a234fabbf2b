// SPDX-License-Identifier: MIT
// Window placement shared by every window of the program.
#pragma once

#include <QGuiApplication>
#include <QRect>
#include <QScreen>
#include <QWidget>

namespace quorlin
{

// Centres the window, frame included, on the primary screen's work area.
inline void CentreOnScreen(QWidget &Window)
{
    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        QRect frame = Window.frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        Window.move(frame.topLeft());
    }
}

} // namespace quorlin
