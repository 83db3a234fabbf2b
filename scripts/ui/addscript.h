// SPDX-License-Identifier: MIT
// The script dialog: one register, one script and its three parameters, used
// both to add a binding and to edit one. Created once, after the script list
// is complete, and kept for the whole run so it remembers its last entries.
#pragma once

#include <QDialog>
#include <QString>

#include <functional>

#include "scripts/scriptbinding.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;

namespace quorlin
{

// A name or text from the script library as the dialogs show it: UTF-8, or
// byte for byte when it is not valid UTF-8.
QString scriptText(const std::string &Text);

class TAddSForm : public QDialog
{
    Q_OBJECT
  public:
    // ScriptList must outlive the dialog; it is read when the dialog is
    // created and again whenever a script is chosen or read back.
    explicit TAddSForm(const TScriptList &ScriptList, QWidget *parent = nullptr);

    // Index of ComboBox1 for a register type, -1 for a type without a table.
    static int typeIndex(uint8_t RegType);
    // Highest address of the table a ComboBox1 index names, in a slave of
    // the usual sizes.
    static int maxAddress(int typeIndex);
    // The sizes of the tables of the slave whose scripts the dialog binds
    // (1..65536 by register type); without them, the usual sizes. Read
    // again whenever the type changes or the dialog is prepared.
    void setTableSizes(std::function<int(int RegType)> Size);
    // Highest address the dialog takes for a ComboBox1 index.
    int addressLimit(int typeIndex) const;

    // What "Add" needs before showing the dialog: a register type chosen.
    void prepareForAdd();
    // Shows Binding as it stands. A RegType without a table leaves the type
    // unselected, and OK then waits for a choice.
    void loadBinding(const TScriptBinding &Binding);

    // The register type and address the dialog shows (type -1 when none).
    int selectedRegType() const;
    int selectedAddress() const;

    // Reads the dialog into a binding. Empty parameter fields become "0" in
    // the dialog itself. On a field that holds no 32-bit decimal number this
    // returns false and sets error to "'<text>' is not a valid integer value".
    bool readBinding(TScriptBinding &Binding, QString &error);

    void accept() override;

    // Handlers named after the controls.
    void FormCreate();
    void ComboBox1Change();
    void ComboBox2Change();

    QComboBox *ComboBox1 = nullptr;
    QSpinBox *SpinEdit1 = nullptr;
    QComboBox *ComboBox2 = nullptr;
    QLineEdit *Edit1 = nullptr;
    QLineEdit *Edit2 = nullptr;
    QLineEdit *Edit3 = nullptr;
    QLabel *D1L = nullptr;
    QLabel *D2L = nullptr;
    QLabel *D3L = nullptr;
    QLabel *DL = nullptr;
    QPushButton *Button1 = nullptr;
    QPushButton *Button2 = nullptr;

  protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void showEvent(QShowEvent *event) override;

  private:
    void updateOkButton();

    const TScriptList &m_scriptList;
    std::function<int(int RegType)> m_tableSize;
};

} // namespace quorlin
