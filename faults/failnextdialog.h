// SPDX-License-Identifier: MIT
// "Fail next...": an order to fail the next N requests in one chosen way,
// whatever the fault sections say. A separate, resizable window.
#pragma once

#include <QDialog>

#include "engine/faultplan.h"

class QComboBox;
class QSpinBox;

namespace quorlin
{

class TFailNextDialog : public QDialog
{
    Q_OBJECT
  public:
    // SlaveId: the slave whose requests fail, 0 for those of every slave.
    explicit TFailNextDialog(int SlaveId, QWidget *Parent = nullptr);

    TFailNext Order() const;

    QComboBox *KindBox = nullptr; // in the order of TFailKind
    QSpinBox *CountEdit = nullptr;
    QSpinBox *CodeEdit = nullptr;
    QSpinBox *DelayEdit = nullptr;

  private:
    void kindChanged();
    int m_slaveId;
};

// "no reply", "exception 4", "delay 500 ms" ...
QString FailKindText(const TFailNext &Order);
// "Failing the next 3 requests of slave 2: no reply" or that none is running.
QString DescribeFailNext(const TFailNext &Left);

} // namespace quorlin
