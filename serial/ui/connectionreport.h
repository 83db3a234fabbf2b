// SPDX-License-Identifier: MIT
// Keeps the window caption and standard error in step with the port when it
// opens, fails to open or is lost, including when that happens by itself (an
// adapter unplugged, a retry that succeeds) rather than through the dialog.
#pragma once

#include <QObject>
#include <QString>

#include <functional>
#include <string>

class QWidget;

namespace quorlin
{

class TCustomComm;

// TitleText followed by " - Connected to NAME" or " - Disconnected (NAME)".
QString ConnectionCaption(const QString &TitleText, const TCustomComm &Comm);

class TConnectionReport : public QObject
{
    Q_OBJECT
  public:
    using TSink = std::function<void(const std::string &Line)>;

    // TitleText is asked each time (profile commands change it). Sink takes
    // each line for standard error without its newline; by default it writes
    // "quorlin: " + Line to stderr.
    TConnectionReport(TCustomComm &Comm, QWidget &Window, std::function<QString()> TitleText,
                      TSink Sink = {});

  private:
    void changed();

    TCustomComm &m_comm;
    QWidget &m_window;
    std::function<QString()> m_titleText;
    TSink m_sink;
    std::string m_lastSaid; // the failure last reported; empty when none is standing
};

} // namespace quorlin
