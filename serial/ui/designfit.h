// SPDX-License-Identifier: MIT
// Fitting the windows' pixel layouts to the font they really get.
//
// Every window is laid out in pixels for an 8-point bitmap sans-serif whose
// letters average 5.85 pixels and whose lines are 13 pixels high. No Linux
// desktop has that font; the one that stands in for it (DejaVu Sans on
// Debian) is about a sixth wider, so captions and list items would be cut.
// Each window therefore places its controls at their design positions and
// then calls FitDesignToFont once, which scales that geometry by how much
// wider and taller the real font is, keeping the arrangement.
#pragma once

#include <QRect>
#include <QSize>

class QFont;
class QString;
class QWidget;

namespace quorlin
{

// Factors from design pixels to screen pixels for a window's font. Never
// below 1: a font that is no wider than the design's keeps the design as is.
struct TDesignScale {
    double X = 1.0;
    double Y = 1.0;

    static TDesignScale ForFont(const QFont &Font);
    // Edges are scaled, not sizes, so controls that touch stay touching.
    QRect Rect(const QRect &Design) const;
    QSize Size(const QSize &Design) const;
};

// The smallest window width at which a window manager's title bar shows
// Caption whole beside its buttons.
int CaptionWidth(const QString &Caption);

// Scales the geometry of Client and of the controls placed on it, and on the
// group boxes and panels within it, by the scale of Client's font:
// - controls of a fixed size (lamps, pictures) keep it, centred where the
//   scaled control would be;
// - the controls of a group box start below its title and frame line, and
//   what stands below a group box that had to grow for that moves down;
// - Client keeps a fixed size: the scaled design size, plus what the group
//   boxes grew;
// - every drop-down list opens as wide as its widest item.
// A Client that is a window also stays wide enough for its caption, whenever
// the caption changes, with its controls centred in the extra width.
// Fits once; later calls do nothing.
void FitDesignToFont(QWidget &Client);

} // namespace quorlin
