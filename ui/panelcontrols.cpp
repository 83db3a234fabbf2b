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

TTabControl::TTabControl(QWidget *Parent) : QWidget(Parent), m_tabs(new QTabBar(this))
{
    m_tabs->setObjectName(QStringLiteral("Tabs"));
    m_tabs->setDrawBase(false);
    m_tabs->setExpanding(false);
    m_tabs->move(2, 0);
}

void TTabControl::resizeEvent(QResizeEvent *Event)
{
    QWidget::resizeEvent(Event);
    m_tabs->resize(m_tabs->sizeHint().boundedTo(QSize(width() - 4, height())));
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
