// SPDX-License-Identifier: MIT
#include "serial/ui/designfit.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAbstractScrollArea>
#include <QAbstractSlider>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QEvent>
#include <QFont>
#include <QFontMetrics>
#include <QFontMetricsF>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QStringList>
#include <QTabBar>

#include <algorithm>
#include <cmath>
#include <vector>

namespace quorlin
{

namespace
{

// The 52 letters of the design font add up to 304 pixels; its lines are 13.
constexpr double DesignLetterWidth = 304.0 / 52.0;
constexpr double DesignLineHeight = 13.0;
const char *const Letters = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";

// Set on a client once it has been fitted.
constexpr const char *FittedProperty = "quorlinDesignFitted";

// Controls that arrange their own insides; only their own place is scaled.
bool arrangesItsInside(const QWidget *Widget)
{
    return qobject_cast<const QComboBox *>(Widget) ||
           qobject_cast<const QAbstractSpinBox *>(Widget) ||
           qobject_cast<const QAbstractScrollArea *>(Widget) ||
           qobject_cast<const QLineEdit *>(Widget) ||
           qobject_cast<const QAbstractButton *>(Widget) ||
           qobject_cast<const QAbstractSlider *>(Widget) || qobject_cast<const QLabel *>(Widget);
}

// The controls placed on Container by hand. A tab strip is placed by the tab
// control it belongs to.
std::vector<QWidget *> placedChildren(const QWidget &Container)
{
    std::vector<QWidget *> placed;
    for (QObject *child : Container.children()) {
        auto *widget = qobject_cast<QWidget *>(child);
        if (widget && !widget->isWindow() && !qobject_cast<QTabBar *>(widget))
            placed.push_back(widget);
    }
    return placed;
}

// Lamps and pictures: what they show does not grow with the font.
bool keepsItsSize(const QWidget *Widget)
{
    if (const auto *label = qobject_cast<const QLabel *>(Widget))
        return !label->pixmap().isNull();
    return Widget->minimumSize() == Widget->maximumSize() && !Widget->minimumSize().isEmpty();
}

// A label whose own font is larger than the window's (a heading) may need
// more room than the scaled design gives it: a one-line label grows across,
// as its alignment reads, but never past its parent's edges, and any label
// grows down by the height returned, which moves down what stands below it.
int fitLabelToText(const QLabel &Label, QRect &Place, int ParentWidth)
{
    if (Label.text().isEmpty() || !Label.pixmap().isNull())
        return 0;
    const QFontMetrics metrics = Label.fontMetrics();
    const QStringList lines = Label.text().split(QLatin1Char('\n'));
    const int across = Label.width() - Label.contentsRect().width() + 2 * Label.margin();
    const int down = Label.height() - Label.contentsRect().height() + 2 * Label.margin();
    // A block of lines keeps its box across; only a caption of one line grows.
    if (!Label.wordWrap() && lines.size() == 1) {
        const int needed = metrics.horizontalAdvance(Label.text()) + across;
        const int missing = needed - Place.width();
        if (missing > 0) {
            const Qt::Alignment align = Label.alignment();
            int left = Place.left();
            if (align & Qt::AlignHCenter)
                left -= missing / 2;
            else if (align & Qt::AlignRight)
                left -= missing;
            left = std::clamp(left, 0, std::max(0, ParentWidth - needed));
            Place.moveLeft(left);
            Place.setWidth(std::min(needed, ParentWidth - left));
        }
    }
    const int height = metrics.height() + int(lines.size() - 1) * metrics.lineSpacing() + down;
    return std::max(0, height - Place.height());
}

// A drop-down list opens as wide as its widest item, however narrow its box
// (a device path such as /dev/serial/by-id/usb-...), whenever items change.
void widenListToItems(QComboBox &Box)
{
    const auto fit = [&Box] {
        QAbstractItemView *list = Box.view();
        list->setMinimumWidth(list->sizeHintForColumn(0) + 2 * list->frameWidth());
    };
    fit();
    QAbstractItemModel *items = Box.model();
    QObject::connect(items, &QAbstractItemModel::rowsInserted, &Box, fit);
    QObject::connect(items, &QAbstractItemModel::rowsRemoved, &Box, fit);
    QObject::connect(items, &QAbstractItemModel::modelReset, &Box, fit);
    QObject::connect(items, &QAbstractItemModel::dataChanged, &Box, fit);
}

bool overlapsHorizontally(const QRect &A, const QRect &B)
{
    return A.left() <= B.right() && B.left() <= A.right();
}

// Scales the controls on Container, keeps them clear of a group box's title,
// and moves down what stands below a control that grew. Returns how much
// taller Container must become to keep its margin below its lowest control.
int fitChildren(QWidget &Container, const TDesignScale &Scale)
{
    struct Placed {
        QWidget *Widget;
        QRect Scaled;
        int Growth;
    };
    std::vector<Placed> placed;
    for (QWidget *widget : placedChildren(Container)) {
        QRect scaled = Scale.Rect(widget->geometry());
        if (keepsItsSize(widget)) {
            const QPoint centre = scaled.center();
            scaled.setSize(widget->size());
            scaled.moveCenter(centre);
        }
        int growth = 0;
        if (const auto *label = qobject_cast<QLabel *>(widget))
            growth = fitLabelToText(*label, scaled, Container.width());
        widget->setGeometry(scaled);
        if (!arrangesItsInside(widget))
            growth = fitChildren(*widget, Scale);
        placed.push_back({widget, scaled, growth});
    }
    if (placed.empty())
        return 0;

    // A group box's title is taller than the design's, and its frame line
    // lower: its controls start where the box's own contents start.
    int drop = 0;
    if (qobject_cast<QGroupBox *>(&Container)) {
        int top = placed.front().Scaled.top();
        for (const Placed &p : placed)
            top = std::min(top, p.Scaled.top());
        drop = std::max(0, Container.contentsRect().top() - top);
    }

    int lowestBefore = 0;
    int lowestAfter = 0;
    for (const Placed &p : placed) {
        int shift = drop;
        for (const Placed &above : placed)
            if (above.Growth > 0 && above.Scaled.bottom() < p.Scaled.top() &&
                overlapsHorizontally(above.Scaled, p.Scaled))
                shift += above.Growth;
        const QRect fitted = p.Scaled.translated(0, shift).adjusted(0, 0, 0, p.Growth);
        p.Widget->setGeometry(fitted);
        lowestBefore = std::max(lowestBefore, p.Scaled.bottom());
        lowestAfter = std::max(lowestAfter, fitted.bottom());
    }
    return std::max(0, lowestAfter - lowestBefore);
}

// Keeps a window wide enough for its caption whenever the caption changes,
// with its controls centred in whatever it adds to the fitted width.
class TCaptionFit : public QObject
{
  public:
    TCaptionFit(QWidget &Window, int FittedWidth)
        : QObject(&Window), m_window(Window), m_fittedWidth(FittedWidth)
    {
        Window.installEventFilter(this);
        apply();
    }

  protected:
    bool eventFilter(QObject *Watched, QEvent *Event) override
    {
        if (Watched == &m_window && Event->type() == QEvent::WindowTitleChange)
            apply();
        return QObject::eventFilter(Watched, Event);
    }

  private:
    void apply()
    {
        const int width = std::max(m_fittedWidth, CaptionWidth(m_window.windowTitle()));
        const int offset = (width - m_fittedWidth) / 2;
        if (offset != m_offset)
            for (QWidget *widget : placedChildren(m_window))
                widget->move(widget->x() + offset - m_offset, widget->y());
        m_offset = offset;
        if (m_window.width() != width)
            m_window.setFixedWidth(width);
    }

    QWidget &m_window;
    int m_fittedWidth;
    int m_offset = 0;
};

} // namespace

TDesignScale TDesignScale::ForFont(const QFont &Font)
{
    const QFontMetricsF metrics(Font);
    const double letter = metrics.horizontalAdvance(QLatin1String(Letters)) / 52.0;
    return {std::max(1.0, letter / DesignLetterWidth),
            std::max(1.0, metrics.height() / DesignLineHeight)};
}

QRect TDesignScale::Rect(const QRect &Design) const
{
    const int left = int(std::lround(Design.x() * X));
    const int top = int(std::lround(Design.y() * Y));
    const int right = int(std::lround((Design.x() + Design.width()) * X));
    const int bottom = int(std::lround((Design.y() + Design.height()) * Y));
    return {left, top, right - left, bottom - top};
}

QSize TDesignScale::Size(const QSize &Design) const
{
    return Rect(QRect(QPoint(0, 0), Design)).size();
}

int CaptionWidth(const QString &Caption)
{
    // A platform theme that knows the title bar's font gives it for this
    // class; otherwise assume what window managers commonly use: the
    // desktop's font, bold, at no less than 10 points.
    QFont font = QApplication::font("QWorkspaceTitleBar");
    if (font == QApplication::font()) {
        font.setBold(true);
        if (font.pointSizeF() > 0 && font.pointSizeF() < 10)
            font.setPointSizeF(10);
    }
    const QFontMetricsF metrics(font);
    // The caption shares the bar with a window-menu icon and up to three
    // buttons (some window managers show minimise and maximise even on a
    // dialog), each about as wide as the bar is tall, and a margin each side.
    const double bar = metrics.height() + 12;
    return int(std::ceil(metrics.horizontalAdvance(Caption) + 4 * bar + 16));
}

void FitDesignToFont(QWidget &Client)
{
    if (Client.property(FittedProperty).toBool())
        return;
    Client.setProperty(FittedProperty, true);

    const TDesignScale scale = TDesignScale::ForFont(Client.font());
    QSize fitted = scale.Size(Client.size());
    Client.setFixedSize(fitted);
    fitted.rheight() += fitChildren(Client, scale);
    Client.setFixedSize(fitted);
    for (QComboBox *box : Client.findChildren<QComboBox *>())
        widenListToItems(*box);
    if (Client.isWindow())
        new TCaptionFit(Client, fitted.width());
}

} // namespace quorlin
