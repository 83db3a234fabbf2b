// SPDX-License-Identifier: MIT
// Adding and removing the slaves of the line. The main window owns the set
// and the bindings; the "Slaves" dialog and the tab strip's menu call here.
#pragma once

#include <functional>
#include <optional>

#include <QString>

#include "engine/slaveset.h"
#include "scripts/scriptbinding.h"

class QWidget;

namespace quorlin
{

inline constexpr const char *SlaveIdUsedText = "Slave id %1 is already used.";
inline constexpr const char *NoFreeSlaveIdText = "Every slave id from 1 to 255 is in use.";
inline constexpr const char *NoSuchSlaveText = "There is no slave %1.";
inline constexpr const char *LastSlaveText =
    "The last slave cannot be removed: a line always has one.";
inline constexpr const char *SlaveIdRangeText = "A slave id is a number from 1 to 255.";

// Why a change of the slaves was refused; None when it was made.
enum class TSlaveRefusal { None, Unknown, Taken, OutOfRange, LastSlave };
struct TSlaveChange {
    TSlaveRefusal Refusal = TSlaveRefusal::None;
    QString Message; // the refusal as the window words it
    bool ok() const { return Refusal == TSlaveRefusal::None; }
};

// "Remove slave 17?" and, when it has any, how many bindings go with it.
QString RemoveSlaveQuestion(int Id, int Bindings);
// The lowest id no slave has, or 0 when all 255 are taken.
int LowestFreeSlaveId(const TSlaveSet &Slaves);

// Every modal step, so that tests can answer without a person.
struct TSlavePrompts {
    // The id for a new slave, Suggested filled in; none when cancelled.
    std::function<std::optional<int>(QWidget *Parent, int Suggested)> askId;
    std::function<bool(QWidget *Parent, const QString &Question)> confirm; // true on Yes
    std::function<void(QWidget *Parent, const QString &Message)> warn;

    static TSlavePrompts standard();
};

class TSlaveCommands
{
  public:
    // Changed(Id) runs after every change, Id naming the slave to show (0:
    // the one shown before, or the first when that one went).
    TSlaveCommands(TSlaveSet &Slaves, TBindingList &BindingList, std::function<void(int)> Changed,
                   QWidget *Parent = nullptr);

    void setPrompts(TSlavePrompts Prompts) { m_prompts = std::move(Prompts); }
    const TSlaveSet &Slaves() const { return m_slaves; }
    const TBindingList &Bindings() const { return m_bindings; }

    // Asks for a free id until one is given or the question is cancelled;
    // the new slave's id, 0 when none was added.
    int AddSlave();
    // Asks first; the last slave is never removed.
    bool RemoveSlave(int Id);

    // The same changes for a caller that has already chosen (the remote
    // control API): no question, the dialog's refusals as the answer.
    TSlaveChange AddSlaveId(int Id);
    TSlaveChange RemoveSlaveId(int Id);
    // The slave keeps its image and bindings under its new id.
    TSlaveChange ChangeSlaveId(int From, int To);
    // Takes the slave off the line (silent to every request, its registers
    // kept and still shown) or puts it back.
    TSlaveChange SetOffline(int Id, bool Offline);
    bool IsOffline(int Id) const;

  private:
    TSlaveSet &m_slaves;
    TBindingList &m_bindings;
    std::function<void(int)> m_changed;
    QWidget *m_parent;
    TSlavePrompts m_prompts;
};

} // namespace quorlin
