// SPDX-License-Identifier: MIT
// A two-wire RS-485 adapter hears itself: every byte the slave sends comes
// back on its own receive line. The filter learns what was just sent and
// drops the bytes that come back equal to it, right after it, before any
// framing sees them. Whatever does not match is input like any other and
// is delivered in order, nothing lost: a matching prefix is held back only
// until the next byte tells echo from request.
//
// Times are microseconds of any steady clock; the caller passes them in, so
// the rules can be tested and fuzzed without waiting.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <vector>

namespace quorlin
{

class TEchoFilter
{
  public:
    // The most bytes one echo may be expected to hold; more sent before the
    // echo of the earlier ones came back are not looked for.
    static constexpr size_t MaxExpected = 1024;

    // Count bytes have just been handed to the line at NowUs. Their echo
    // must begin within WindowUs (the time they take to leave the line and
    // the adapter's own delay), and each later part of it within WindowUs of
    // the part before. Bytes sent while an earlier echo is still awaited are
    // expected after it.
    void Sent(const uint8_t *Data, size_t Count, int64_t NowUs, int64_t WindowUs);
    // Count bytes read from the line at NowUs. What is not echo goes to the
    // output, in the order received.
    void Received(const uint8_t *Data, size_t Count, int64_t NowUs);
    // Moves up to Max bytes of output to Out; the number moved.
    size_t Take(uint8_t *Out, size_t Max);
    // Output bytes not yet taken.
    size_t Pending() const { return m_output.size(); }
    // Bytes of a possible echo held back, waiting for the next byte.
    size_t Held() const { return m_matched; }
    // No echo is awaited any more: a prefix held back is input after all.
    void Disarm();
    // Forgets all (an input purge, the port closed): no echo is awaited and
    // nothing is pending.
    void Reset();

    // Echoes dropped whole, and echoes cut short (a prefix of what was sent,
    // then silence longer than the window), since construction.
    uint64_t EchoesDropped() const { return m_echoes; }
    uint64_t EchoesCut() const { return m_cut; }
    uint64_t BytesDropped() const { return m_bytesDropped; }

  private:
    void expire(int64_t NowUs);
    void release();

    std::vector<uint8_t> m_expected;
    size_t m_matched = 0; // m_expected[0 .. m_matched) came back so far
    int64_t m_windowUs = 0;
    int64_t m_dueUs = 0; // by when the echo, or its next part, must come back
    std::deque<uint8_t> m_output;
    uint64_t m_echoes = 0;
    uint64_t m_cut = 0;
    uint64_t m_bytesDropped = 0;
};

} // namespace quorlin
