// SPDX-License-Identifier: MIT
// The list dialog: every binding on one line, to choose the one to remove or
// to edit. Refilled from the binding list on every use.
#pragma once

#include <QDialog>
#include <QString>

#include "scripts/scriptbinding.h"

class QListWidget;
class QPushButton;

namespace quorlin
{

// "4x0017 = (Empty Script) (0, 0, 0)": type digit, "x", the address padded to
// four digits, the script name and the three parameters.
QString BindingLine(const TScriptBinding &Binding);

class TDelSForm : public QDialog
{
    Q_OBJECT
  public:
    explicit TDelSForm(QWidget *parent = nullptr);

    // One line per binding in list order, the first one selected.
    void FillBindingList(const TBindingList &BindingList);

    // The selected line's position, -1 when none is selected.
    int selectedIndex() const;

    void ListBox1DblClick();

    QListWidget *ListBox1 = nullptr;
    QPushButton *Button1 = nullptr;
    QPushButton *Button2 = nullptr;

  protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void showEvent(QShowEvent *event) override;
};

} // namespace quorlin
