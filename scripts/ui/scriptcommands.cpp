// SPDX-License-Identifier: MIT
#include "scripts/ui/scriptcommands.h"

#include <QApplication>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>

#include "scripts/ui/addscript.h"
#include "scripts/ui/delscript.h"

namespace quorlin
{

TScriptPrompts TScriptPrompts::standard()
{
    TScriptPrompts prompts;
    prompts.exec = [](QDialog &dialog) { return dialog.exec(); };
    prompts.wrongRegister = [](QWidget *parent) {
        QMessageBox box(QMessageBox::Warning, QString::fromLatin1(WrongRegisterCaption),
                        QString::fromLatin1(WrongRegisterText), QMessageBox::Ok, parent);
        box.exec();
    };
    prompts.confirmRemove = [](QWidget *parent) {
        QMessageBox box(QMessageBox::Question, QString::fromLatin1(ConfirmCaption),
                        QString::fromLatin1(ConfirmRemoveText), QMessageBox::NoButton, parent);
        QPushButton *yes = box.addButton(QStringLiteral("&Yes"), QMessageBox::YesRole);
        QPushButton *no = box.addButton(QStringLiteral("&No"), QMessageBox::NoRole);
        box.setDefaultButton(yes);
        box.setEscapeButton(no);
        box.exec();
        return box.clickedButton() == yes;
    };
    prompts.error = [](QWidget *parent, const QString &message) {
        QString title = QApplication::applicationDisplayName();
        if (title.isEmpty())
            title = QStringLiteral("Quorlin 1.0");
        QMessageBox box(QMessageBox::Critical, title, message, QMessageBox::Ok, parent);
        box.exec();
    };
    return prompts;
}

bool RegisterInUse(const TBindingList &BindingList, int RegType, uint32_t RegAdr, int except)
{
    for (std::size_t i = 0; i < BindingList.size(); ++i) {
        if (int(i) == except)
            continue;
        if (BindingList[i].RegType == RegType && BindingList[i].RegAdr == RegAdr)
            return true;
    }
    return false;
}

TScriptCommands::TScriptCommands(TAddSForm &AddSForm, TDelSForm &DelSForm,
                                 TBindingList &BindingList, std::function<void()> markUnsaved,
                                 QWidget *parent)
    : m_addForm(AddSForm), m_delForm(DelSForm), m_bindings(BindingList),
      m_markUnsaved(std::move(markUnsaved)), m_parent(parent), m_prompts(TScriptPrompts::standard())
{
}

void TScriptCommands::setSlaves(const TSlaveSet *Slaves, std::function<int()> Selected)
{
    m_slaves = Slaves;
    m_selected = std::move(Selected);
    // A slave that serves more registers takes bindings up to its last one.
    m_addForm.setTableSizes([this](int RegType) {
        const TRegisterImage *image =
            m_slaves && m_selected ? m_slaves->Find(m_selected()) : nullptr;
        if (image)
            return image->TableSize(RegType);
        return RegType == RegTypeCoil || RegType == RegTypeDiscreteInput ? BitRegisterCount
                                                                         : WordRegisterCount;
    });
}

bool TScriptCommands::ofSelectedSlave(const TScriptBinding &Binding) const
{
    if (m_slaves == nullptr || !m_selected)
        return true;
    // A binding of a slave that is not emulated is listed with every slave,
    // so that it can still be edited or removed.
    const int id = BindingSlaveId(Binding, *m_slaves);
    return id == m_selected() || m_slaves->Find(id) == nullptr;
}

bool TScriptCommands::runScriptDialog(int except, TScriptBinding &result)
{
    for (;;) {
        if (m_prompts.exec(m_addForm) != QDialog::Accepted)
            return false;
        // The dialog refuses OK without a register type; a prompt seam that
        // reports OK anyway is treated as another round.
        if (m_addForm.selectedRegType() < 0)
            continue;
        bool inUse = false;
        for (std::size_t i = 0; i < m_bindings.size() && !inUse; ++i) {
            const TScriptBinding &b = m_bindings[i];
            inUse = int(i) != except && ofSelectedSlave(b) &&
                    b.RegType == m_addForm.selectedRegType() &&
                    b.RegAdr == uint32_t(m_addForm.selectedAddress());
        }
        if (inUse) {
            m_prompts.wrongRegister(&m_addForm);
            continue;
        }
        QString error;
        if (!m_addForm.readBinding(result, error)) {
            m_prompts.error(m_parent, error);
            return false;
        }
        return true;
    }
}

bool TScriptCommands::AddPLC2Click()
{
    m_addForm.prepareForAdd();
    TScriptBinding binding;
    if (!runScriptDialog(-1, binding))
        return false;
    // The first slave's bindings name no id: they follow it when it changes id.
    if (m_slaves != nullptr && m_selected && m_selected() != m_slaves->First().MBid)
        binding.SlaveId = m_selected();
    m_bindings.push_back(binding);
    if (m_markUnsaved)
        m_markUnsaved();
    return true;
}

int TScriptCommands::chooseBinding(const char *caption, const char *button)
{
    // The lines shown are the selected slave's bindings; each remembers its
    // place in the whole list.
    TBindingList shown;
    std::vector<int> places;
    for (std::size_t i = 0; i < m_bindings.size(); ++i) {
        if (ofSelectedSlave(m_bindings[i])) {
            shown.push_back(m_bindings[i]);
            places.push_back(int(i));
        }
    }
    m_delForm.FillBindingList(shown);
    for (std::size_t i = 0; i < shown.size() && m_slaves != nullptr; ++i) {
        const int id = BindingSlaveId(shown[i], *m_slaves);
        if (m_slaves->Find(id) == nullptr) {
            QListWidgetItem *line = m_delForm.ListBox1->item(int(i));
            line->setText(QStringLiteral("(MB id %1, not emulated) ").arg(id) + line->text());
        }
    }
    m_delForm.Button1->setEnabled(true);
    m_delForm.setWindowTitle(QString::fromLatin1(caption));
    m_delForm.Button1->setText(QString::fromLatin1(button));
    if (shown.empty())
        m_delForm.Button1->setEnabled(false);
    if (m_prompts.exec(m_delForm) != QDialog::Accepted)
        return -1;
    const int index = m_delForm.selectedIndex();
    // The list cannot change while the dialog is open, but the position is
    // checked anyway before it is used.
    return index >= 0 && index < int(places.size()) ? places[std::size_t(index)] : -1;
}

bool TScriptCommands::DeletePLC1Click()
{
    const int index = chooseBinding("Select Script to remove...", "Remove");
    if (index < 0)
        return false;
    if (!m_prompts.confirmRemove(m_parent))
        return false;
    m_bindings.erase(m_bindings.begin() + index);
    if (m_markUnsaved)
        m_markUnsaved();
    return true;
}

bool TScriptCommands::AddScript1Click()
{
    const int index = chooseBinding("Select Script to edit...", "Edit");
    if (index < 0)
        return false;
    m_addForm.loadBinding(m_bindings[std::size_t(index)]);
    m_addForm.setWindowTitle(QStringLiteral("Edit script..."));
    TScriptBinding binding;
    if (!runScriptDialog(index, binding))
        return false;
    binding.SlaveId = m_bindings[std::size_t(index)].SlaveId; // the edit keeps its slave
    m_bindings[std::size_t(index)] = binding;
    if (m_markUnsaved)
        m_markUnsaved();
    return true;
}

} // namespace quorlin
