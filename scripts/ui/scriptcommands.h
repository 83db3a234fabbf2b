// SPDX-License-Identifier: MIT
// The three commands of the "&Scripts" menu. The main window owns the binding
// list and the two dialogs; its menu handlers call into this object.
#pragma once

#include <functional>

#include <QString>

#include "scripts/scriptbinding.h"

class QDialog;
class QWidget;

namespace quorlin
{

class TAddSForm;
class TDelSForm;

// Every modal step of the commands goes through here, so that tests can
// answer them without a person. standard() shows the real dialogs and boxes.
struct TScriptPrompts {
    std::function<int(QDialog &dialog)> exec;           // QDialog::Accepted or Rejected
    std::function<void(QWidget *parent)> wrongRegister; // the clash warning
    std::function<bool(QWidget *parent)> confirmRemove; // true on "&Yes"
    std::function<void(QWidget *parent, const QString &message)> error;

    static TScriptPrompts standard();
};

// The texts of the standard boxes.
inline constexpr const char *WrongRegisterCaption = "Wrong register!";
inline constexpr const char *WrongRegisterText =
    "This register already used by another script!\n         You need to select another one.";
inline constexpr const char *ConfirmCaption = "Confirm";
inline constexpr const char *ConfirmRemoveText = "Are you sure to remove script?";

// True when a binding other than the one at position except (-1: none) uses
// the register RegType/RegAdr.
bool RegisterInUse(const TBindingList &BindingList, int RegType, uint32_t RegAdr, int except);

class TScriptCommands
{
  public:
    // markUnsaved is called after each confirmed change (it clears ProfileSaved).
    // The forms and the list must outlive this object.
    TScriptCommands(TAddSForm &AddSForm, TDelSForm &DelSForm, TBindingList &BindingList,
                    std::function<void()> markUnsaved, QWidget *parent = nullptr);

    void setPrompts(TScriptPrompts prompts) { m_prompts = std::move(prompts); }

    // With several slaves on the line the commands act on one of them: Add
    // binds to Selected(), Remove and Edit list its bindings (and those of
    // ids no slave has, marked), and a register counts as used only by a
    // binding of the same slave. The set must outlive this object.
    void setSlaves(const TSlaveSet *Slaves, std::function<int()> Selected);

    // "&Add Script", "&Remove Script", "Edit S&cript". Each returns true when
    // it changed the binding list; Cancel, "&No" and errors change nothing.
    bool AddPLC2Click();
    bool DeletePLC1Click();
    bool AddScript1Click();

  private:
    // Shows the script dialog until it is cancelled or its register is free
    // (the binding at position except does not count). True with the result.
    bool runScriptDialog(int except, TScriptBinding &result);
    // Fills and shows the list dialog; the chosen position, or -1.
    int chooseBinding(const char *caption, const char *button);
    // Whether the binding belongs to the slave the commands act on.
    bool ofSelectedSlave(const TScriptBinding &Binding) const;

    TAddSForm &m_addForm;
    TDelSForm &m_delForm;
    TBindingList &m_bindings;
    std::function<void()> m_markUnsaved;
    QWidget *m_parent;
    TScriptPrompts m_prompts;
    const TSlaveSet *m_slaves = nullptr;
    std::function<int()> m_selected;
};

} // namespace quorlin
