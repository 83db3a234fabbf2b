// SPDX-License-Identifier: MIT
#include "slaves/slavecommands.h"

#include <QInputDialog>
#include <QMessageBox>
#include <QPushButton>

namespace quorlin
{

QString RemoveSlaveQuestion(int Id, int Bindings)
{
    QString text = QStringLiteral("Remove slave %1?").arg(Id);
    if (Bindings == 1)
        text += QStringLiteral(" Its script binding is removed with it.");
    else if (Bindings > 1)
        text += QStringLiteral(" Its %1 script bindings are removed with it.").arg(Bindings);
    return text;
}

int LowestFreeSlaveId(const TSlaveSet &Slaves)
{
    for (int id = MinSlaveId; id <= MaxSlaveId; ++id)
        if (Slaves.Find(id) == nullptr)
            return id;
    return 0;
}

TSlavePrompts TSlavePrompts::standard()
{
    TSlavePrompts p;
    p.askId = [](QWidget *parent, int suggested) -> std::optional<int> {
        bool ok = false;
        const int id = QInputDialog::getInt(parent, QStringLiteral("Add Slave"),
                                            QStringLiteral("MB id of the new slave:"), suggested,
                                            MinSlaveId, MaxSlaveId, 1, &ok);
        return ok ? std::optional<int>(id) : std::nullopt;
    };
    p.confirm = [](QWidget *parent, const QString &question) {
        QMessageBox box(QMessageBox::Question, QStringLiteral("Confirm"), question,
                        QMessageBox::NoButton, parent);
        QPushButton *yes = box.addButton(QStringLiteral("&Yes"), QMessageBox::YesRole);
        QPushButton *no = box.addButton(QStringLiteral("&No"), QMessageBox::NoRole);
        box.setDefaultButton(no);
        box.setEscapeButton(no);
        box.exec();
        return box.clickedButton() == yes;
    };
    p.warn = [](QWidget *parent, const QString &message) {
        QMessageBox box(QMessageBox::Warning, QStringLiteral("Slaves"), message, QMessageBox::Ok,
                        parent);
        box.exec();
    };
    return p;
}

TSlaveCommands::TSlaveCommands(TSlaveSet &Slaves, TBindingList &BindingList,
                               std::function<void(int)> Changed, QWidget *Parent)
    : m_slaves(Slaves), m_bindings(BindingList), m_changed(std::move(Changed)), m_parent(Parent),
      m_prompts(TSlavePrompts::standard())
{
}

int TSlaveCommands::AddSlave()
{
    const int suggested = LowestFreeSlaveId(m_slaves);
    if (suggested == 0) {
        m_prompts.warn(m_parent, QString::fromLatin1(NoFreeSlaveIdText));
        return 0;
    }
    for (;;) {
        const std::optional<int> id = m_prompts.askId(m_parent, suggested);
        if (!id)
            return 0;
        const TSlaveChange change = AddSlaveId(*id);
        if (change.ok())
            return *id;
        // Taken (or, from a seam, out of range): say so and ask again.
        m_prompts.warn(m_parent, change.Message);
    }
}

TSlaveChange TSlaveCommands::AddSlaveId(int Id)
{
    if (Id < MinSlaveId || Id > MaxSlaveId)
        return {TSlaveRefusal::OutOfRange, QString::fromLatin1(SlaveIdRangeText)};
    if (m_slaves.Add(Id) == nullptr)
        return {TSlaveRefusal::Taken, QString::fromLatin1(SlaveIdUsedText).arg(Id)};
    if (m_changed)
        m_changed(Id);
    return {};
}

TSlaveChange TSlaveCommands::RemoveSlaveId(int Id)
{
    if (m_slaves.Find(Id) == nullptr)
        return {TSlaveRefusal::Unknown, QString::fromLatin1(NoSuchSlaveText).arg(Id)};
    if (!quorlin::RemoveSlave(m_slaves, m_bindings, Id))
        return {TSlaveRefusal::LastSlave, QString::fromLatin1(LastSlaveText)};
    if (m_changed)
        m_changed(0);
    return {};
}

TSlaveChange TSlaveCommands::ChangeSlaveId(int From, int To)
{
    if (m_slaves.Find(From) == nullptr)
        return {TSlaveRefusal::Unknown, QString::fromLatin1(NoSuchSlaveText).arg(From)};
    if (To < MinSlaveId || To > MaxSlaveId)
        return {TSlaveRefusal::OutOfRange, QString::fromLatin1(SlaveIdRangeText)};
    if (From != To && !quorlin::ChangeSlaveId(m_slaves, m_bindings, From, To))
        return {TSlaveRefusal::Taken, QString::fromLatin1(SlaveIdUsedText).arg(To)};
    if (m_changed)
        m_changed(To);
    return {};
}

TSlaveChange TSlaveCommands::SetOffline(int Id, bool Offline)
{
    TRegisterImage *image = m_slaves.Find(Id);
    if (image == nullptr)
        return {TSlaveRefusal::Unknown, QString::fromLatin1(NoSuchSlaveText).arg(Id)};
    if (image->Options.Offline == Offline)
        return {};
    {
        std::lock_guard<std::mutex> lock(m_slaves.Lock());
        image->Options.Offline = Offline;
    }
    if (m_changed)
        m_changed(0);
    return {};
}

bool TSlaveCommands::IsOffline(int Id) const
{
    // Only this thread changes the options: no lock to read them.
    const TRegisterImage *image = m_slaves.Find(Id);
    return image != nullptr && image->Options.Offline;
}

bool TSlaveCommands::RemoveSlave(int Id)
{
    if (m_slaves.Find(Id) == nullptr || m_slaves.Count() <= 1)
        return false;
    const int bindings = CountSlaveBindings(m_bindings, m_slaves, Id);
    if (!m_prompts.confirm(m_parent, RemoveSlaveQuestion(Id, bindings)))
        return false;
    return RemoveSlaveId(Id).ok();
}

} // namespace quorlin
