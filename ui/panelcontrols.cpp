// SPDX-License-Identifier: MIT
#include "ui/panelcontrols.h"

#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionTabWidgetFrame>
#include <QTabBar>

namespace quorlin
{

namespace
{
constexpr const char *TagProperty = "Tag";
}

int Tag(const QObject *Control)
{
    if (!Control)
        return 0;
    const QVariant v = Control->property(TagProperty);
    return v.isValid() ? v.toInt() : 0;
}

void SetTag(QObject *Control, int Tag)
{
    Control->setProperty(TagProperty, Tag);
}

TShape::TShape(QWidget *Parent) : QWidget(Parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
    // A lamp keeps its size whatever the font.
    setFixedSize(10, 10);
}

void TShape::SetBrushColor(const QColor &Color)
{
    if (Color == m_brush)
        return;
    m_brush = Color;
    ++m_brushChanges;
    update();
}

void TShape::paintEvent(QPaintEvent *)
{
    ++m_paintCount;
    QPainter p(this);
    p.setPen(Qt::black);
    p.setBrush(m_brush);
    p.drawRect(rect().adjusted(0, 0, -1, -1));
}

void TShape::mousePressEvent(QMouseEvent *Event)
{
    emit MouseDown(this, Event->button());
    Event->accept();
}

TNumberBox::TNumberBox(QWidget *Parent) : QLineEdit(Parent)
{
    setReadOnly(true);
    setText(QStringLiteral("0"));
    // The look of a box that is changed through a dialog, not typed into.
    QPalette pal = palette();
    pal.setColor(QPalette::Base, pal.color(QPalette::Button));
    setPalette(pal);
    setContextMenuPolicy(Qt::NoContextMenu);
}

void TNumberBox::mouseReleaseEvent(QMouseEvent *Event)
{
    QLineEdit::mouseReleaseEvent(Event);
    if (Event->button() == Qt::LeftButton && rect().contains(Event->position().toPoint()))
        emit Click(this);
}

// A tab bar that is not managed by a layout keeps the size it was given, so a
// longer text ("MB id 100" after "MB id 1") would be cut and scrolled. The bar
// tells its control whenever its tabs are laid out anew, hidden or shown.
class TTabControl::TTabStrip : public QTabBar
{
  public:
    explicit TTabStrip(TTabControl *Control) : QTabBar(Control), m_control(Control) {}

  protected:
    void tabLayoutChange() override
    {
        QTabBar::tabLayoutChange();
        m_control->fitTabs();
    }

  private:
    TTabControl *m_control;
};

TTabControl::TTabControl(QWidget *Parent) : QWidget(Parent), m_tabs(new TTabStrip(this))
{
    m_tabs->setObjectName(QStringLiteral("Tabs"));
    m_tabs->setDrawBase(false);
    m_tabs->setExpanding(false);
    m_tabs->move(2, 0);
}

void TTabControl::resizeEvent(QResizeEvent *Event)
{
    QWidget::resizeEvent(Event);
    fitTabs();
}

void TTabControl::fitTabs()
{
    const QSize fitted = m_tabs->sizeHint().boundedTo(QSize(width() - 4, height()));
    if (m_tabs->size() != fitted) {
        m_tabs->resize(fitted);
        // The client frame is drawn around the selected tab.
        update();
    }
}

void TTabControl::paintEvent(QPaintEvent *)
{
    // The client frame starts where the tabs end, as a tab page's does.
    QPainter p(this);
    QStyleOptionTabWidgetFrame opt;
    opt.initFrom(this);
    const int top =
        m_tabs->height() - style()->pixelMetric(QStyle::PM_TabBarBaseOverlap, nullptr, this);
    opt.rect = QRect(0, top, width(), height() - top);
    opt.shape = QTabBar::RoundedNorth;
    opt.tabBarRect = m_tabs->geometry();
    opt.selectedTabRect = m_tabs->tabRect(m_tabs->currentIndex()).translated(m_tabs->pos());
    style()->drawPrimitive(QStyle::PE_FrameTabWidget, &opt, &p, this);
}

} // namespace quorlin
