// SPDX-License-Identifier: MIT
// "Slaves": the list of the slaves on the line, one per id in ascending
// order with the number of its script bindings, and the Add and Remove
// commands. A separate window, resizable, refilled on every change.
#pragma once

#include <QDialog>

#include <functional>

class QListWidget;
class QPushButton;

namespace quorlin
{

class TSlaveCommands;

// "MB id 17 (3 scripts)".
QString SlaveLine(int Id, int Bindings);

class TSlavesForm : public QDialog
{
    Q_OBJECT
  public:
    TSlavesForm(TSlaveCommands &Commands, QWidget *Parent = nullptr);

    // The list as the set now stands; the line of SelectId selected (0: keep).
    void Refill(int SelectId = 0);
    // The id on the selected line, 0 when none.
    int SelectedId() const;

    void AddClick();
    void RemoveClick();

    QListWidget *ListBox1 = nullptr;
    QPushButton *AddButton = nullptr;
    QPushButton *RemoveButton = nullptr;
    QPushButton *OptionsButton = nullptr; // the selected slave's options
    // Opens the options of slave Id; the button is hidden without it.
    std::function<void(int Id)> EditOptions;
    QPushButton *CloseButton = nullptr;

  protected:
    void showEvent(QShowEvent *Event) override;

  private:
    TSlaveCommands &m_commands;
};

} // namespace quorlin
