// SPDX-License-Identifier: MIT
// The register table window: every register of one table of the selected
// slave, each row in a format of its own, values typed in place or bits
// toggled by a click, refreshed by the main window's tick.
#pragma once

#include <QWidget>

#include "engine/valuecodec.h"

class QComboBox;
class QLineEdit;
class QMenu;
class QPushButton;
class QShortcut;
class QTableView;

namespace quorlin
{

class IProfileDialogs;
class IRegisterSource;
class TRegisterModel;

class TRegistersForm : public QWidget
{
    Q_OBJECT
  public:
    TRegistersForm(IRegisterSource &Source, IProfileDialogs &Dialogs, QWidget *Parent = nullptr);

    // From the tick, after it copied the tables: repaints the visible values that
    // changed, and the title when the slave id did. Does nothing while hidden.
    void Refresh();
    // The table (type code) and registers First..Last the window shows, with
    // a few rows' margin; Last < First when it is hidden.
    void VisibleRegisters(int &RegType, int &First, int &Last) const;

    QComboBox *TableBox = nullptr;  // Coils (0x) .. Holding Registers (4x)
    QComboBox *FormatBox = nullptr; // applies to the selected rows
    QPushButton *ExportButton = nullptr;
    QPushButton *ImportButton = nullptr;
    QLineEdit *FilterEdit = nullptr;  // shows the mapped rows whose name holds its text
    QLineEdit *JumpEdit = nullptr;    // "4x40001" and Return: go to that register
    QPushButton *ImportMapButton = nullptr;
    QPushButton *ExportMapButton = nullptr;
    QTableView *View = nullptr;
    TRegisterModel *Model = nullptr;

    // Every format a register row can take, in menu order.
    static const std::vector<TValueFormat> &AllFormats();
    // Gives the selected rows (or the current one) this format.
    void SetSelectedFormat(TValueFormat Format);
    // The menu the table shows on a right click over its rows.
    QMenu *FormatMenu() const { return m_formatMenu; }
    // Shows and selects a register: "4x40001" (any table), or a number of
    // the table shown. Empty on success, else why not.
    QString Jump(const QString &Text);
    // After the selected slave's map changed.
    void MapChanged();

  signals:
    void ExportRequested();
    void ImportRequested();
    void MapImportRequested();
    void MapExportRequested();
    // A row's display format changed: the profile keeps them.
    void FormatsChanged();

  protected:
    void showEvent(QShowEvent *Event) override;

  private:
    void tableChosen(int Index);
    void updateTitle();
    void currentRowChanged();
    void returnToValue();
    std::vector<int> selectedRows() const;

    IRegisterSource &m_source;
    IProfileDialogs &m_dialogs;
    QMenu *m_formatMenu = nullptr;
    QShortcut *m_space = nullptr;
    int m_titleSlave = -1;
};

} // namespace quorlin
