// SPDX-License-Identifier: MIT
// The serial device: owns one port, keeps the line settings as typed
// properties, and turns the watcher's line events into handler calls on the
// user-interface thread. Every failure is silent: IsOpen, and Read/Write
// returning -1, are the only reports.
//
// Public surface fixed for the layers above; the serial layer may add to it.
#pragma once

#include <QObject>
#include <cstdint>
#include <functional>
#include <string>

#include "engine/serialline.h"

namespace quorlin {

enum TBaudrate : uint8_t {
    br110, br300, br600, br1200, br2400, br4800, br9600, br14400, br19200,
    br38400, br56000, br57600, br115200, br128000, br256000
};
enum TParity : uint8_t { paNone, paOdd, paEven, paMark, paSpace };
enum TStopbits : uint8_t { sb10, sb15, sb20 };
enum TDatabits : uint8_t { da4, da5, da6, da7, da8 };
enum TFlowControl : uint8_t { fcNone, fcCTS, fcDTR, fcSoftware, fcDefault };

enum TCommEventType : uint8_t {
    evBreak, evCts, evDsr, evError, evRing, evRlsd, evRxChar, evRxFlag, evTxEmpty
};
using TCommEventTypes = uint16_t; // bit (1 << TCommEventType)
inline constexpr TCommEventTypes commEvents(std::initializer_list<TCommEventType> l)
{
    TCommEventTypes s = 0;
    for (auto e : l)
        s = TCommEventTypes(s | (1u << e));
    return s;
}
inline constexpr TCommEventTypes AllCommEvents = 0x1FF;

enum TCommOption : uint8_t {
    coParityCheck, coDsrSensitivity, coIgnoreXOff, coErrorChar, coNullStrip
};
using TCommOptions = uint8_t; // bit (1 << TCommOption)

class TCustomComm;
using TNotifyEvent = std::function<void(TCustomComm *Sender)>;
using TCommRxCharEvent = std::function<void(TCustomComm *Sender, int Count)>;
using TCommErrorEvent = std::function<void(TCustomComm *Sender, int Errors)>;

} // namespace quorlin
