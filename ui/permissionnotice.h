// SPDX-License-Identifier: MIT
// A port refused for want of permission is said in a message of its own, not
// only in the status bar that cuts it short: which group to join and that it
// takes a new login. Once per device in a run, and without waiting for an
// answer, so the retries once a second neither repeat it nor stop the window.
#pragma once

#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QString>

#include <set>
#include <string>

class QWidget;

namespace quorlin
{

class TCustomComm;

class TPermissionNotice : public QObject
{
    Q_OBJECT
  public:
    TPermissionNotice(TCustomComm &Comm, QWidget &Window);
    // The message on show, null when none is.
    QMessageBox *Shown() const { return m_box.data(); }

  private:
    void changed();

    TCustomComm &m_comm;
    QWidget &m_window;
    std::set<std::string> m_told; // devices already said to be refused
    QPointer<QMessageBox> m_box;
};

} // namespace quorlin
