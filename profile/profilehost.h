// SPDX-License-Identifier: MIT
// What the profile commands and the start-up and shutdown sequences need from
// the main window, which owns the register image, the lists, the
// Configuration dialog, the port and the timer. TMainForm implements it; tests
// use a fake.
#pragma once

#include <map>

#include "engine/faultplan.h"
#include "engine/listenerconfig.h"
#include "engine/registerimage.h"
#include "profile/profileformat.h"
#include "scripts/scriptbinding.h"
#include "scripts/scriptint.h"
#include "serial/serialvalues.h"

class QWidget;

namespace quorlin {

class IProfileHost {
public:
    virtual ~IProfileHost() = default;

    // Parent of the questions, error boxes and file dialogs (may be null).
    virtual QWidget *DialogParent() = 0;

    // Start-up step 2: the image lock, then the pending writes, the bindings
    // and the available scripts, all empty.
    virtual void CreateLists() = 0;
    virtual TRegisterImage &RegisterImage() = 0;
    virtual TBindingList &BindingList() = 0;
    virtual const TScriptList &ScriptList() const = 0;
    // Start-up step 4: load the script library and fill ScriptList.
    virtual void LoadScriptLibrary() = 0;
    // Start-up step 5: the RTU engine's receive buffer emptied (RxCount = 0).
    virtual void ClearReceiveBuffer() = 0;

    // The check mark of "Stay On Top" and the topmost state of the window,
    // set together.
    virtual bool StayOnTop() const = 0;
    virtual void SetStayOnTop(bool On) = 0;

    // Start-up step 8: TConfForm created, owned by the main window.
    virtual void CreateConfigDialog() = 0;
    // The profile's values into the dialog's controls (LoadSerialDialog).
    virtual void LoadSerialDialog(const TSerialValues &Values) = 0;
    // The dialog's controls as a save stores them: SerialPort = index of
    // ComboBox1 + 1 (0 without a selection), the other lists' indexes (-1
    // without a selection; ComboBox4 into Parity, ComboBox5 into StopBits),
    // MBid = value of SpinEdit1.
    virtual TSerialValues ReadSerialDialog() const = 0;
    // Slave id, tab caption, port, caption from the manager's TitleText.
    virtual void ApplySerialSettings() = 0;

    // The slaves a profile emulates besides the first one, whose id is the
    // dialog's, and the broadcast switch. Called by every load, before
    // LoadSerialDialog; NewProfile: every slave starts cleared. A host
    // emulating one slave only may ignore both.
    virtual void LoadSlaves(int FirstId, const TProfileSlaves &Slaves, bool NewProfile)
    {
        (void)FirstId;
        (void)Slaves;
        (void)NewProfile;
    }
    virtual TProfileSlaves ReadSlaves() const { return {}; }

    virtual void StartTimer() = 0; // Timer1 enabled (start-up step 10)
    virtual void StopTimer() = 0;  // Timer1 disabled (shutdown step 1)
    virtual void ClosePort() = 0;  // Comm1 closed, watcher stopped (shutdown step 2)
    // Shutdown step 4: image lock destroyed, pending writes discarded.
    virtual void ReleaseImage() = 0;

    // The profile's faults (all off for a profile without them) handed to
    // the engine, which starts counting afresh.
    virtual void ApplyFaults(const TFaultSettings &) {}
    // The slaves' own fault sections, by slave id; called by every load,
    // after ApplyFaults.
    virtual void ApplySlaveFaults(const std::map<int, TFaultSettings> &) {}
    // The profile's listeners (none for a profile without them) started in
    // place of the ones running; called by every load, after ApplyFaults.
    virtual void ApplyNetwork(const TNetworkSettings &) {}

    // Close the main window as its close box does; the window's close
    // handling then calls FormCloseQuery and FormClose of the manager.
    virtual void CloseMainWindow() = 0;
};

} // namespace quorlin
