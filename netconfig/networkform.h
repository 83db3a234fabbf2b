// SPDX-License-Identifier: MIT
// Settings > Network...: the listeners (kind, address, port, max clients,
// default unit id, a check box each) with Add and Remove, and the choice to
// run with the network alone.
#pragma once

#include <QDialog>
#include <functional>
#include <string>
#include <vector>

#include "engine/listenerconfig.h"

class QCheckBox;
class QLabel;
class QPushButton;
class QTableWidget;

namespace quorlin
{

class TNetworkForm : public QDialog
{
    Q_OBJECT
  public:
    enum Column {
        ColOn,
        ColKind,
        ColAddress,
        ColPort,
        ColMaxClients,
        ColDefaultId,
        ColState,
        ColumnCount
    };

    explicit TNetworkForm(QWidget *Parent = nullptr);

    void LoadSettings(const TNetworkSettings &Settings);
    // The rows as they stand; a row whose address is no IP literal is left
    // out (OK refuses to close while one is there).
    TNetworkSettings Settings() const;
    // What each listener is doing now ("3 clients", "Permission denied"),
    // in the order of the rows; shown read-only.
    std::function<std::vector<std::string>()> StateSource;

    void AddClicked();
    void RemoveClicked();
    void RefreshState();

    QTableWidget *ListenersView = nullptr;
    QPushButton *AddButton = nullptr;
    QPushButton *RemoveButton = nullptr;
    QCheckBox *NoSerialBox = nullptr;
    QLabel *ProblemLabel = nullptr;

    void accept() override;

  private:
    void addRow(const TListenerConfig &Config);
    // The row's address as typed, checked; empty when it is no IP literal.
    std::string rowAddress(int Row) const;
};

} // namespace quorlin
