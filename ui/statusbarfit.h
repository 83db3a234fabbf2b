// SPDX-License-Identifier: MIT
// Shares the status bar's width between the port, the faults warning and the
// counters. The port's state always shows whole; the faults warning keeps at
// least "FAULTS ON"; the device name is shortened in its middle; the counters
// take the short form, then whatever room is left (their tooltip has them all).
#pragma once

#include <QFontMetrics>
#include <QLabel>
#include <QString>

namespace quorlin
{

struct TStatusBarTexts {
    QString PortState;     // "Connected 9600 8E1"
    QString PortName;      // "COM2 /dev/serial/by-id/usb-FTDI_..."
    QString Faults;        // the whole faults summary; empty while faults are off
    QString Counters;      // the full counters
    QString ShortCounters; // their short form
    bool operator==(const TStatusBarTexts &) const = default;
};

struct TStatusBarFit {
    QString Port;          // state, " - ", the name shortened to fit PortWidth
    QString Faults;        // the summary, or "FAULTS ON" alone
    QString Counters;      // the full or the short form
    int CountersWidth = 0; // what the counters may take, margins included
};

// Fits Texts into Width pixels. Metrics measure the port and counters text,
// FaultsMetrics the (bold) warning; the extras are each widget's margins.
TStatusBarFit FitStatusBar(const TStatusBarTexts &Texts, int Width, const QFontMetrics &Metrics,
                           const QFontMetrics &FaultsMetrics, int CountersExtra, int FaultsExtra,
                           int Spacing);

// The room the port text gets once the faults warning and counters are placed.
QString FitPortText(const QString &State, const QString &Name, int Width,
                    const QFontMetrics &Metrics);

// The port's place in the status bar: the state whole, then as much of the
// name as the width it is given holds, shortened in its middle; the tooltip
// and the accessible text carry it whole.
class TPortStatusLabel : public QLabel
{
    Q_OBJECT
  public:
    explicit TPortStatusLabel(QWidget *Parent = nullptr);
    void SetParts(const QString &State, const QString &Name);
    QString State() const { return m_state; }
    QString FullText() const;
    // Lines the tooltip shows below the full text (the adapter's state).
    void SetDetail(const QString &Detail);

  protected:
    void resizeEvent(QResizeEvent *Event) override;

  private:
    void refit();
    void updateToolTip();
    QString m_state;
    QString m_name;
    QString m_detail;
};

} // namespace quorlin
