// SPDX-License-Identifier: MIT
// The small controls the register panels are built from: lamps, clickable
// read-only number boxes, the tab strip, and the integer tag every register
// control carries to name its register.
#pragma once

#include <QColor>
#include <QLineEdit>
#include <QWidget>

class QTabBar;

namespace quorlin
{

// Every register control carries an integer tag naming its register; all
// other controls have tag 0.
int Tag(const QObject *Control);
void SetTag(QObject *Control, int Tag);

inline const QColor LampOnColor(0, 255, 0);  // lime: register holds 1
inline const QColor LampOffColor(255, 0, 0); // red: register holds 0

// A lamp: a rectangle painted with its brush.
class TShape : public QWidget
{
    Q_OBJECT
  public:
    explicit TShape(QWidget *Parent = nullptr);

    QColor BrushColor() const { return m_brush; }
    // Repaints only when the colour differs from the one shown.
    void SetBrushColor(const QColor &Color);

    // How often the lamp was painted and how often its brush was replaced;
    // lets tests tell an idle refresh from a busy one.
    int PaintCount() const { return m_paintCount; }
    int BrushChangeCount() const { return m_brushChanges; }

  signals:
    // Any mouse button.
    void MouseDown(quorlin::TShape *Sender, Qt::MouseButton Button);

  protected:
    void paintEvent(QPaintEvent *Event) override;
    void mousePressEvent(QMouseEvent *Event) override;

  private:
    QColor m_brush = LampOffColor;
    int m_paintCount = 0;
    int m_brushChanges = 0;
};

// A read-only number box that reports clicks.
class TNumberBox : public QLineEdit
{
    Q_OBJECT
  public:
    explicit TNumberBox(QWidget *Parent = nullptr);

  signals:
    void Click(quorlin::TNumberBox *Sender);

  protected:
    void mouseReleaseEvent(QMouseEvent *Event) override;
};

// A tab strip whose client area holds its controls at fixed positions
// measured from the control's own top-left corner, below and beside the tabs.
// The strip is as wide as its tabs need, whenever a tab's text changes.
class TTabControl : public QWidget
{
    Q_OBJECT
  public:
    explicit TTabControl(QWidget *Parent = nullptr);
    QTabBar *Tabs() const { return m_tabs; }

  protected:
    void paintEvent(QPaintEvent *Event) override;
    void resizeEvent(QResizeEvent *Event) override;

  private:
    class TTabStrip;
    void fitTabs();

    QTabBar *m_tabs;
};

} // namespace quorlin
