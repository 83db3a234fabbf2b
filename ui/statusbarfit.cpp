// SPDX-License-Identifier: MIT
#include "ui/statusbarfit.h"

#include <QResizeEvent>

#include <algorithm>

namespace quorlin
{

namespace
{

const QString Separator = QStringLiteral(" - ");
const QString FaultsOn = QStringLiteral("FAULTS ON");

// A name shortened this far still tells ports apart ("/dev/ser…0-port0").
constexpr int NameKeptChars = 16;

} // namespace

QString FitPortText(const QString &State, const QString &Name, int Width,
                    const QFontMetrics &Metrics)
{
    const QString whole = State + Separator + Name;
    if (Metrics.horizontalAdvance(whole) <= Width)
        return whole;
    const int nameRoom = Width - Metrics.horizontalAdvance(State + Separator);
    const QString name = Metrics.elidedText(Name, Qt::ElideMiddle, std::max(nameRoom, 0));
    // With no room for even a hint of the name, the state stands alone.
    return name.isEmpty() ? State : State + Separator + name;
}

TStatusBarFit FitStatusBar(const TStatusBarTexts &T, int Width, const QFontMetrics &M,
                           const QFontMetrics &FM, int CountersExtra, int FaultsExtra, int Spacing)
{
    TStatusBarFit fit;
    const int stateWidth = M.horizontalAdvance(T.PortState + Separator);
    const int nameWidth = M.horizontalAdvance(T.PortName);
    const int nameMin =
        std::min(nameWidth, M.horizontalAdvance(T.PortName.left(NameKeptChars) + QChar(0x2026)));
    const bool faultsOn = !T.Faults.isEmpty();
    auto faultsWidth = [&](const QString &Text) {
        return faultsOn ? FM.horizontalAdvance(Text) + FaultsExtra + Spacing : 0;
    };
    auto countersWidth = [&](const QString &Text) {
        return M.horizontalAdvance(Text) + CountersExtra + Spacing;
    };

    // Give things up in this order until everything fits: the long counters,
    // the faults' details, the middle of the device name, then the counters.
    fit.Counters = T.Counters;
    fit.Faults = faultsOn ? T.Faults : QString();
    auto used = [&](int Name) {
        return stateWidth + Name + faultsWidth(fit.Faults) + countersWidth(fit.Counters);
    };
    if (used(nameWidth) > Width)
        fit.Counters = T.ShortCounters;
    if (faultsOn && used(nameWidth) > Width)
        fit.Faults = FaultsOn;
    int counters = countersWidth(fit.Counters);
    const int portAndFaults = stateWidth + nameMin + faultsWidth(fit.Faults);
    if (portAndFaults + counters > Width)
        counters = std::max(0, Width - portAndFaults);
    fit.CountersWidth = std::max(0, counters - Spacing);
    const int portRoom = Width - faultsWidth(fit.Faults) - counters;
    fit.Port = FitPortText(T.PortState, T.PortName, portRoom, M);
    return fit;
}

TPortStatusLabel::TPortStatusLabel(QWidget *Parent) : QLabel(Parent)
{
    // The status bar gives it what the others leave; it never asks for more.
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
}

QString TPortStatusLabel::FullText() const
{
    return m_state + Separator + m_name;
}

void TPortStatusLabel::SetParts(const QString &State, const QString &Name)
{
    if (State == m_state && Name == m_name && !text().isEmpty())
        return;
    m_state = State;
    m_name = Name;
    updateToolTip();
    setAccessibleName(FullText());
    // Never less than the state: the bar squeezes the others first.
    setMinimumWidth(fontMetrics().horizontalAdvance(m_state) + 2 * margin() + 2);
    refit();
}

void TPortStatusLabel::SetDetail(const QString &Detail)
{
    if (Detail == m_detail)
        return;
    m_detail = Detail;
    updateToolTip();
}

void TPortStatusLabel::updateToolTip()
{
    setToolTip(m_detail.isEmpty() ? FullText() : FullText() + QLatin1Char('\n') + m_detail);
}

void TPortStatusLabel::resizeEvent(QResizeEvent *Event)
{
    QLabel::resizeEvent(Event);
    refit();
}

void TPortStatusLabel::refit()
{
    const QString fitted =
        FitPortText(m_state, m_name, contentsRect().width() - 2 * margin(), fontMetrics());
    if (fitted != text())
        setText(fitted);
}

} // namespace quorlin
