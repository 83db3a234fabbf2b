// SPDX-License-Identifier: MIT
// "Adapter" options of the serial line, opened from the Configuration
// dialog: RS-485 mode driven by the kernel, with its RTS levels and delays,
// and ignoring the echo a two-wire adapter returns of our own replies.
#pragma once

#include <QDialog>

#include "serial/serialvalues.h"

class QCheckBox;
class QComboBox;
class QSpinBox;

namespace quorlin
{

class TAdapterDialog : public QDialog
{
    Q_OBJECT
  public:
    explicit TAdapterDialog(QWidget *Parent = nullptr);

    // The adapter fields of Values into the controls, and back.
    void Load(const TSerialValues &Values);
    void Store(TSerialValues &Values) const;

    QCheckBox *Rs485Box;
    QComboBox *RtsOnSendBox;    // "High" / "Low" while sending
    QComboBox *RtsAfterSendBox; // "Low" / "High" after sending
    QSpinBox *DelayBeforeBox;
    QSpinBox *DelayAfterBox;
    QCheckBox *IgnoreEchoBox;

  private:
    void enableRs485Controls();
};

} // namespace quorlin
