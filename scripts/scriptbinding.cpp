// SPDX-License-Identifier: MIT
#include "scripts/scriptbinding.h"

namespace quorlin
{

namespace
{

constexpr size_t MaxBindingName = 255;

} // namespace

uint32_t EmptyScript(uint32_t, uint32_t, uint32_t, TScriptContext *)
{
    return 0;
}

TScriptFunc FindScriptEntry(const TScriptList &ScriptList, const std::string &Name)
{
    for (const TScriptItem &item : ScriptList)
        if (item.Name == Name)
            return item.Entry;
    return nullptr;
}

void RunScripts(TBindingList &BindingList, TRegisterImage &Image)
{
    for (TScriptBinding &binding : BindingList) {
        const uint32_t result = binding.Entry ? binding.Entry(binding.Param1, binding.Param2,
                                                              binding.Param3, &binding.Context)
                                              : EmptyScript(0, 0, 0, &binding.Context);
        // A register outside its table, or a type with no table, is queued like
        // any other; ApplyPendingWrites drops such records.
        Image.QueueWrite(int32_t(binding.RegType), int32_t(binding.RegAdr), result & 0xFFFF);
    }
}

int BindingSlaveId(const TScriptBinding &Binding, const TSlaveSet &Slaves)
{
    return Binding.SlaveId.value_or(Slaves.First().MBid);
}

void RunScripts(TBindingList &BindingList, TSlaveSet &Slaves)
{
    TRegisterImage &first = Slaves.First();
    for (TScriptBinding &binding : BindingList) {
        const uint32_t result = binding.Entry ? binding.Entry(binding.Param1, binding.Param2,
                                                              binding.Param3, &binding.Context)
                                              : EmptyScript(0, 0, 0, &binding.Context);
        TRegisterImage *image = binding.SlaveId ? Slaves.Find(*binding.SlaveId) : &first;
        if (image != nullptr)
            image->QueueWrite(int32_t(binding.RegType), int32_t(binding.RegAdr), result & 0xFFFF);
    }
}

bool ChangeSlaveId(TSlaveSet &Slaves, TBindingList &BindingList, int From, int To)
{
    if (!Slaves.ChangeId(From, To))
        return false;
    for (TScriptBinding &b : BindingList)
        if (b.SlaveId == From)
            b.SlaveId = To;
    return true;
}

int CountSlaveBindings(const TBindingList &BindingList, const TSlaveSet &Slaves, int Id)
{
    int n = 0;
    for (const TScriptBinding &b : BindingList)
        n += BindingSlaveId(b, Slaves) == Id ? 1 : 0;
    return n;
}

bool RemoveSlave(TSlaveSet &Slaves, TBindingList &BindingList, int Id)
{
    if (Slaves.Find(Id) == nullptr || Slaves.Count() <= 1)
        return false;
    std::erase_if(BindingList,
                  [&](const TScriptBinding &b) { return BindingSlaveId(b, Slaves) == Id; });
    return Slaves.Remove(Id);
}

TScriptBinding MakeBinding(const TScriptList &ScriptList, const std::string &Name, int64_t RegType,
                           int64_t RegAdr, int64_t Param1, int64_t Param2, int64_t Param3)
{
    TScriptBinding binding;
    binding.Name = Name.substr(0, MaxBindingName);
    binding.Entry = FindScriptEntry(ScriptList, binding.Name);
    binding.Param1 = uint16_t(Param1 & 0xFFFF);
    binding.Param2 = uint16_t(Param2 & 0xFFFF);
    binding.Param3 = uint16_t(Param3 & 0xFFFF);
    binding.Context = TScriptContext{};
    binding.RegType = uint8_t(RegType & 0xFF);
    binding.RegAdr = uint32_t(uint64_t(RegAdr) & 0xFFFFFFFFu);
    return binding;
}

} // namespace quorlin
