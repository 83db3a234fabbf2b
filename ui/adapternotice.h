// SPDX-License-Identifier: MIT
// An adapter that refuses RS-485 mode is said in a message of its own: the
// port stays open, but no reply of ours would reach the bus through a
// transceiver nobody switches. Once per device and request in a run, and
// without waiting for an answer.
#pragma once

#include <QMessageBox>
#include <QObject>
#include <QPointer>

#include <set>
#include <string>

class QWidget;

namespace quorlin
{

class TCustomComm;

class TAdapterNotice : public QObject
{
    Q_OBJECT
  public:
    TAdapterNotice(TCustomComm &Comm, QWidget &Window);
    // The message on show, null when none is.
    QMessageBox *Shown() const { return m_box.data(); }

  private:
    void changed();

    TCustomComm &m_comm;
    QWidget &m_window;
    std::set<std::string> m_told; // refusals already said
    QPointer<QMessageBox> m_box;
};

} // namespace quorlin
