// SPDX-License-Identifier: MIT
// The seven serial values a profile keeps and the Configuration dialog shows.
// Free of Qt, so the profile file format (and its fuzzer) can use it too.
#pragma once

#include <string>
#include <utility>

namespace quorlin
{

// Named by what they mean: a profile file stores Parity under "StopBits" and
// StopBits under "Parity". The defaults are a new profile's: COM2, 9600 bps,
// 8 data bits, even, 1 stop bit, default handshaking, slave id 1. A list
// without a selection holds -1 (SerialPort 0).
struct TSerialValues {
    TSerialValues() = default;
    // In the order of the members, so "{1, 2, 5, 4, 0, 0, 1}" reads as before.
    TSerialValues(int MBid_, int SerialPort_, int BaudRate_, int DataBits_, int Parity_,
                  int StopBits_, int Handshaking_, std::string Device_ = {})
        : MBid(MBid_), SerialPort(SerialPort_), BaudRate(BaudRate_), DataBits(DataBits_),
          Parity(Parity_), StopBits(StopBits_), Handshaking(Handshaking_),
          Device(std::move(Device_))
    {
    }

    int MBid = 1;        // "MBid", SpinEdit1: slave id 1..255
    int SerialPort = 2;  // "SerialPort", ComboBox1 index + 1: 1 = COM1 .. 4 = COM4
    int BaudRate = 5;    // "BaudRate", ComboBox2: position in 300 .. 38400 bps (5 = 9600)
    int DataBits = 4;    // "DataBits", ComboBox3: position in 4 .. 8 data bits (4 = 8)
    int Parity = 0;      // stored as "StopBits", ComboBox4: Even, Odd, None, Mark, Space
    int StopBits = 0;    // stored as "Parity", ComboBox5: 1, 1.5, 2 stop bits
    int Handshaking = 1; // "Handshaking", ComboBox6: CTS, Default, DTR, None, Software
    // "Device": a device path chosen in ComboBox1 instead of COM1..COM4; when
    // not empty it wins over SerialPort, which keeps the last COM choice.
    std::string Device;
    // "Mode", ComboBox7: 0 = RTU, 1 = ASCII; the key is written only for
    // ASCII (or when the file has it already), so RTU profiles stay as they were.
    int Mode = 0;
    // "Framing", ComboBox8: 0 = by length, 1 = strict (by silence); the key
    // is written only when strict (or when the file has it already).
    int Framing = 0;
    // The adapter, each key written only when it says more than its absence
    // (or the file has it already): "RS485" = 1 lets the kernel drive the
    // transceiver, "RS485RtsOnSend" / "RS485RtsAfterSend" the RTS level while
    // and after sending (1 and 0 when absent), "RS485DelayBefore" /
    // "RS485DelayAfter" in ms (0 when absent); "IgnoreEcho" = 1 drops the
    // echo of our own replies.
    bool Rs485 = false;
    bool Rs485RtsOnSend = true;
    bool Rs485RtsAfterSend = false;
    int Rs485DelayBefore = 0;
    int Rs485DelayAfter = 0;
    bool IgnoreEcho = false;
    bool operator==(const TSerialValues &) const = default;
};

} // namespace quorlin
