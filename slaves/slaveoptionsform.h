// SPDX-License-Identifier: MIT
// "Slave Options": everything one slave does beyond the usual, in one
// resizable dialog: the size of its tables, its map and strict addressing,
// device identification, functions 22 and 23, and its address offset.
#pragma once

#include <QDialog>

#include <array>
#include <functional>

#include "engine/slaveoptions.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPushButton;
class QSpinBox;

namespace quorlin
{

class IProfileDialogs;

class TSlaveOptionsForm : public QDialog
{
    Q_OBJECT
  public:
    TSlaveOptionsForm(int Id, const TSlaveOptions &Options, IProfileDialogs &Dialogs,
                      QWidget *Parent = nullptr);

    TSlaveOptions Options() const;
    // Asked by OK: empty lets the dialog close, anything else is shown and
    // keeps it open (a map that cannot be read).
    std::function<QString(const TSlaveOptions &)> Check;
    // Where Browse starts.
    QString MapDirectory;

    QSpinBox *RegistersEdit = nullptr; // 0: the usual sizes
    QLineEdit *MapEdit = nullptr;
    QPushButton *BrowseButton = nullptr;
    QCheckBox *MappedOnlyBox = nullptr;
    QCheckBox *DeviceIdBox = nullptr;
    std::array<QLineEdit *, DeviceIdObjectCount> IdentityEdits{};
    QCheckBox *Functions22And23Box = nullptr;
    QCheckBox *StrictBox = nullptr; // exceptions 1 and 3 where a lenient slave is silent
    QComboBox *OffsetBox = nullptr; // -1, 0, +1
    QPushButton *OkButton = nullptr;
    QPushButton *CancelButton = nullptr;

    void accept() override;

  private:
    void browse();

    IProfileDialogs &m_dialogs;
    // What the slave had: options this dialog does not show (offline, ...) stay as they were.
    TSlaveOptions m_base;
};

} // namespace quorlin
