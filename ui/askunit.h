// SPDX-License-Identifier: MIT
// The value dialog: asks for a new value of an input or holding register.
#pragma once

#include <QDialog>

class QKeyEvent;
class QLineEdit;
class QPushButton;

namespace quorlin
{

class TAskForm : public QDialog
{
    Q_OBJECT
  public:
    explicit TAskForm(QWidget *Parent = nullptr);

    QLineEdit *Edit1;
    QPushButton *Button1; // OK, the default button
    QPushButton *Button2; // Cancel (Escape)

    // Only the digits and Backspace get through; true when Key is discarded.
    static bool Edit1KeyPress(const QKeyEvent &Key);
    // Mends the field before the dialog closes with OK.
    void Button1Click();

  protected:
    bool eventFilter(QObject *Watched, QEvent *Event) override;
};

} // namespace quorlin
