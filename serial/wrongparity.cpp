// SPDX-License-Identifier: MIT
// A reply sent with the wrong parity: a master's UART flags every byte of it
// (a parity error, or a framing error where it expects no parity bit and
// finds a space where the stop bit belongs), as it would on a line with
// noise or a slave configured wrongly.
#include "serial/commint.h"

#include <mutex>

namespace quorlin
{

namespace
{

uint8_t wrongParity(uint8_t Parity)
{
    switch (Parity) {
    case ODDPARITY:
        return EVENPARITY;
    case EVENPARITY:
        return ODDPARITY;
    case SPACEPARITY:
        return MARKPARITY;
    default: // none, mark
        return SPACEPARITY;
    }
}

} // namespace

int TCustomComm::WriteWrongParity(const void *Buffer, int Count)
{
    {
        std::lock_guard<std::mutex> guard(m_lock);
        // The state last set, not the one read back: a pseudo-terminal
        // reports no parity whatever it was given.
        const TDcb line = m_dcb;
        if (IsOpen()) {
            TDcb wrong = line;
            wrong.Parity = wrongParity(line.Parity);
            // What is queued leaves with the line's own parity; the change
            // takes effect between bytes on a UART that has drained.
            m_port->WaitSent(m_writeTimeout);
            if (!m_port->SetCommState(wrong)) {
                const int n = m_port->Write(Buffer, Count, m_writeTimeout);
                m_port->WaitSent(m_writeTimeout);
                // The line's parity comes back whatever became of the write.
                m_port->SetCommState(line);
                return n;
            }
        }
    }
    // A line whose parity cannot be changed sends the reply as it is.
    return Write(Buffer, Count);
}

} // namespace quorlin
