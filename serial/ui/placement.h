// SPDX-License-Identifier: MIT
// Window placement shared by every window of the program.
#pragma once

#include <QGuiApplication>

#include <algorithm>
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

// Where a window of its own goes beside its owner: inside the work area
// Available, beside Owner rather than over it (right, left, below or above:
// whichever holds most of it), as large as Wanted where there is room.
// Owner, Wanted and the result are frames, title bar included.
inline QRect PlaceBeside(const QRect &Owner, const QSize &Wanted, const QRect &Available)
{
    const QRect sides[] = {
        QRect(QPoint(Owner.right() + 1, Available.top()), Available.bottomRight()),
        QRect(Available.topLeft(), QPoint(Owner.left() - 1, Available.bottom())),
        QRect(QPoint(Available.left(), Owner.bottom() + 1), Available.bottomRight()),
        QRect(Available.topLeft(), QPoint(Available.right(), Owner.top() - 1)),
    };
    QRect best;
    long long bestArea = -1;
    for (const QRect &side : sides) {
        const QRect room = side.intersected(Available);
        if (room.isEmpty())
            continue;
        const QSize size = Wanted.boundedTo(room.size());
        const long long area = 1LL * size.width() * size.height();
        if (area <= bestArea)
            continue;
        // Level with the owner where the room allows, so the two read together.
        const int x = std::clamp(Owner.left(), room.left(), room.right() - size.width() + 1);
        const int y = std::clamp(Owner.top(), room.top(), room.bottom() - size.height() + 1);
        best = QRect(QPoint(x, y), size);
        bestArea = area;
    }
    // Too little room on every side: over the owner, but on the screen.
    const QSize least(std::min(Wanted.width(), 400), std::min(Wanted.height(), 240));
    if (best.width() < least.width() || best.height() < least.height()) {
        const QSize size = Wanted.boundedTo(Available.size());
        best = QRect(QPoint(Available.right() - size.width() + 1,
                            Available.bottom() - size.height() + 1),
                     size);
    }
    return best;
}

// A window manager's frame, for a window it has not framed yet.
inline constexpr int UsualFrameSide = 4;
inline constexpr int UsualTitleBar = 28;

// Places Window (not yet shown, or shown) beside Owner on Owner's screen.
inline void PlaceBesideOwner(QWidget &Window, const QWidget &Owner)
{
    const QScreen *screen = Owner.screen();
    if (screen == nullptr)
        return;
    // The window manager frames the new window as it framed its owner; move
    // places a window's frame, resize sizes what is inside it.
    QSize decoration = Owner.frameGeometry().size() - Owner.geometry().size();
    QRect owner = Owner.frameGeometry();
    if (decoration.isNull()) {
        // Not framed yet (just shown): allow for a usual frame all the same.
        decoration = QSize(2 * UsualFrameSide, UsualFrameSide + UsualTitleBar);
        owner.adjust(-UsualFrameSide, -UsualTitleBar, UsualFrameSide, UsualFrameSide);
    }
    const QRect frame = PlaceBeside(owner, Window.size() + decoration, screen->availableGeometry());
    Window.resize(frame.size() - decoration);
    Window.move(frame.topLeft());
}

} // namespace quorlin
