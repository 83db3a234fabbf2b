// SPDX-License-Identifier: MIT
// Modbus RTU constants as they appear on the wire.
#pragma once

#include <cstdint>

namespace quorlin::modbus
{

// Function codes.
inline constexpr uint8_t FnReadCoils = 0x01;            // read coils, bit-packed reply
inline constexpr uint8_t FnReadDiscreteInputs = 0x02;   // read discrete inputs, bit-packed reply
inline constexpr uint8_t FnReadHoldingRegisters = 0x03; // read holding registers, big-endian words
inline constexpr uint8_t FnReadInputRegisters = 0x04;   // read input registers, big-endian words
inline constexpr uint8_t FnWriteSingleCoil = 0x05;      // write one coil, value FF00 or 0000
inline constexpr uint8_t FnWriteSingleRegister = 0x06;  // write one holding register
inline constexpr uint8_t FnReadExceptionStatus = 0x07;  // one status byte
inline constexpr uint8_t FnDiagnostics = 0x08;          // sub-function and data, echoed
inline constexpr uint8_t FnGetCommEventCounter = 0x0B;  // status word and event count
inline constexpr uint8_t FnGetCommEventLog = 0x0C;      // status, counters and event bytes
inline constexpr uint8_t FnWriteMultipleCoils = 0x0F;   // bit-packed coil values with byte count
inline constexpr uint8_t FnWriteMultipleRegisters = 0x10; // words with byte count
inline constexpr uint8_t FnReportSlaveId = 0x11;          // slave id, run indicator, device bytes
inline constexpr uint8_t FnReadFileRecord = 0x14;         // byte count at offset 2; refused
inline constexpr uint8_t FnWriteFileRecord = 0x15;        // byte count at offset 2; refused
inline constexpr uint8_t FnMaskWriteRegister = 0x16;  // fixed 10-byte request; a slave option
inline constexpr uint8_t FnReadWriteRegisters = 0x17; // byte count at offset 10; a slave option
inline constexpr uint8_t FnReadFifoQueue = 0x18; // fixed 10-byte request (as framed here); refused
inline constexpr uint8_t FnEncapsulatedInterface = 0x2B; // MEI type at offset 2; a slave option

// Exception replies.
inline constexpr uint8_t ExceptionFlag = 0x80;        // OR-ed into the function code
inline constexpr uint8_t ExIllegalFunction = 0x01;    // function code not handled
inline constexpr uint8_t ExIllegalDataAddress = 0x02; // address range outside the table
inline constexpr uint8_t ExIllegalDataValue = 0x03;   // quantity whose reply cannot fit a frame
inline constexpr uint8_t ExGatewayTargetFailed = 0x0B; // gateway: no device answers that unit id

// Frame geometry.
inline constexpr int RxBufferSize = 256;       // longest request the slave collects
inline constexpr int MaxFrameLength = 255;     // longest reply: its length is one byte
inline constexpr int CrcLength = 2;            // CRC trailer, low-order byte first
inline constexpr int MinRequestLength = 4;     // id, function, CRC
inline constexpr int ExceptionReplyLength = 5; // id, function | 0x80, code, CRC
inline constexpr int EchoReplyLength = 8;      // id, function, 4 echoed bytes, CRC
// Bytes after which every request that can complete tells its length (the
// byte count of function 23 is its eleventh).
inline constexpr int LengthKnownAfter = 11;

inline constexpr int MaskWriteReplyLength = 10; // id, 22, address, AND mask, OR mask, CRC

// Mask write register (22): result = (current AND and-mask) OR (or-mask AND NOT and-mask).
inline constexpr int OffAndMask = 4; // AND mask, big-endian
inline constexpr int OffOrMask = 6;  // OR mask, big-endian

// Read/write multiple registers (23): read address and quantity where every
// read has them, then the write's.
inline constexpr int OffRwWriteAddress = 6;   // 0-based write start address
inline constexpr int OffRwWriteQuantity = 8;  // registers written
inline constexpr int OffRwByteCount = 10;     // 2 x write quantity
inline constexpr int OffRwWriteData = 11;     // first data byte of the write
inline constexpr int MaxReadWriteRead = 125;  // 0x7D registers read at most
inline constexpr int MaxReadWriteWrite = 121; // 0x79 registers written at most

// Read device identification (43 / MEI type 14).
inline constexpr int OffMeiType = 2;              // MEI type
inline constexpr int OffReadDevIdCode = 3;        // read device id code
inline constexpr int OffObjectId = 4;             // first object wanted
inline constexpr int DeviceIdRequestLength = 7;   // id, 43, 14, code, object, CRC
inline constexpr uint8_t MeiReadDeviceId = 0x0E;  // MEI type: read device identification
inline constexpr uint8_t ReadDevIdBasic = 0x01;   // stream of the basic objects 0..2
inline constexpr uint8_t ReadDevIdRegular = 0x02; // stream of the regular objects 0..6
inline constexpr uint8_t ReadDevIdExtended = 0x03; // stream of extended objects: none here
inline constexpr uint8_t ReadDevIdOne = 0x04;     // one object
inline constexpr int LastBasicObject = 2;         // vendor name, product code, revision
inline constexpr uint8_t ConformityBasic = 0x01;  // basic objects only
inline constexpr uint8_t ConformityRegular = 0x02; // basic and regular objects
inline constexpr uint8_t ConformityIndividual = 0x80; // objects also read one by one
// The longest object value sent: one object with the reply's 10 other bytes fills a frame.
inline constexpr int MaxDeviceIdObjectLength = 243;
// Modbus ASCII on the serial line: the same frames as hexadecimal text.
inline constexpr uint8_t AsciiStart = ':'; // begins every frame, also inside another
inline constexpr uint8_t AsciiCr = '\r';   // first of the two end characters
inline constexpr uint8_t AsciiLf = '\n';   // ends the frame
// Decoded bytes of a frame, LRC included: RTU's 256 less the CRC's second byte.
inline constexpr int MaxAsciiBytes = 255;
inline constexpr int MaxAsciiFrameLength = 513; // ':', 255 bytes as 510 characters, CR LF
inline constexpr int AsciiCharTimeOutMs = 1000; // longest silence between two characters

// Modbus TCP (MBAP) framing.
inline constexpr int MbapHeaderLength = 7;  // transaction, protocol, length, unit id
inline constexpr int MbapLengthOffset = 4;  // big-endian count of the bytes after it
inline constexpr int MbapMinLength = 2;     // unit id and function code
inline constexpr int MbapMaxLength = 254;   // unit id and the longest PDU, 253 bytes
inline constexpr int MaxAduLength = 260;    // longest MBAP frame: 6 + 254

// Slave id of a request that every slave carries out and none answers.
inline constexpr uint8_t BroadcastId = 0x00;
// Unit id a Modbus TCP client sends to reach the device itself.
inline constexpr uint8_t MaxUnitId = 0xFF;

// Request field offsets.
inline constexpr int OffSlaveId = 0;        // slave id; 0 is broadcast
inline constexpr int OffFunction = 1;       // function code
inline constexpr int OffAddress = 2;        // 0-based start address, big-endian
inline constexpr int OffQuantity = 4;       // quantity or single value, big-endian
inline constexpr int OffByteCount = 6;      // byte count of functions 15 and 16
inline constexpr int OffWriteData = 7;      // first data byte of functions 15 and 16
inline constexpr int OffReplyByteCount = 2; // byte count of a read reply
inline constexpr int OffReplyData = 3;      // first data byte of a read reply

// Largest quantities whose reply fits one frame.
inline constexpr int MaxReadBits = 2000;     // 250 data bytes + 5 = 255
inline constexpr int MaxReadRegisters = 125; // 250 data bytes + 5 = 255
// Largest quantities a write request can carry in one frame.
inline constexpr int MaxWriteCoils = 1968;    // 0x7B0: 246 data bytes
inline constexpr int MaxWriteRegisters = 123; // 0x7B: 246 data bytes

// Single-coil values.
inline constexpr uint16_t CoilOn = 0xFF00;  // sets the coil
inline constexpr uint16_t CoilOff = 0x0000; // clears the coil

} // namespace quorlin::modbus
