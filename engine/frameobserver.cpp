// SPDX-License-Identifier: MIT
#include "engine/frameobserver.h"

namespace quorlin
{

std::string VerdictText(TVerdict Verdict, uint8_t ExceptionCode)
{
    switch (Verdict) {
    case TVerdict::Answered:
        return "answered";
    case TVerdict::Exception:
        return "exception " + std::to_string(ExceptionCode);
    case TVerdict::BadCrc:
        return "bad crc";
    case TVerdict::OtherSlave:
        return "other slave";
    case TVerdict::Broadcast:
        return "broadcast";
    case TVerdict::TimedOut:
        return "timed out";
    case TVerdict::TooLong:
        return "too long";
    case TVerdict::NoReply:
        return "no reply";
    case TVerdict::BadHeader:
        return "bad header";
    case TVerdict::GapInside:
        return "gap inside: discarded";
    }
    return "unknown";
}

std::string BroadcastText(TBroadcastFate Fate)
{
    switch (Fate) {
    case TBroadcastFate::CarriedOut:
        return "broadcast: carried out";
    case TBroadcastFate::Ignored:
        return "broadcast: ignored (setting off)";
    case TBroadcastFate::NotAWrite:
        return "broadcast: not a write";
    case TBroadcastFate::None:
        break;
    }
    return VerdictText(TVerdict::Broadcast);
}

bool IsInjected(const TFrameReport &Report)
{
    return Report.Injected != TFaultKind::None || Report.DelayMs > 0 || Report.SplitMs > 0 ||
           Report.Closes;
}

std::string ReportText(const TFrameReport &Report)
{
    std::string text;
    switch (Report.Injected) {
    case TFaultKind::None:
        text = Report.Verdict == TVerdict::Broadcast
                   ? BroadcastText(Report.Broadcast)
                   : VerdictText(Report.Verdict, Report.ExceptionCode);
        break;
    case TFaultKind::NoReply:
        text = "no reply (injected)";
        break;
    case TFaultKind::Exception:
        text = VerdictText(TVerdict::Exception, Report.ExceptionCode) + " (injected)";
        break;
    case TFaultKind::WrongId:
        text = "wrong id (injected)";
        break;
    case TFaultKind::BadCrc:
        text = "bad crc (injected)";
        break;
    case TFaultKind::Offline:
        text = "no reply: slave offline";
        break;
    case TFaultKind::Reset:
        text = "reset (injected)";
        break;
    case TFaultKind::WrongTid:
        text = "wrong transaction id (injected)";
        break;
    case TFaultKind::BadLength:
        text = "bad length (injected)";
        break;
    case TFaultKind::Truncated:
        text = "truncated (injected)";
        break;
    case TFaultKind::Duplicated:
        text = "duplicated (injected)";
        break;
    case TFaultKind::Noise:
        text = "noise (injected)";
        break;
    case TFaultKind::WrongParity:
        text = "wrong parity (injected)";
        break;
    case TFaultKind::Unsolicited:
        text = "unsolicited (injected)";
        break;
    }
    if (Report.DelayMs > 0)
        text += ", delayed " + std::to_string(Report.DelayMs) + " ms";
    if (Report.SplitMs > 0)
        text += ", split " + std::to_string(Report.SplitMs) + " ms";
    if (Report.Replaced)
        text += ", replaced a held-back reply";
    if (Report.Closes)
        text += ", then the connection closed (injected)";
    return text;
}

void TLineCounters::Count(const TFrameReport &Report)
{
    if (Report.Injected == TFaultKind::Unsolicited)
        ++Injected; // a frame of its own, told once
    if (!Report.HeldReply) {
        if (IsInjected(Report))
            ++Injected;
        BytesIn += Report.Rx.size() + uint64_t(Report.Unread > 0 ? Report.Unread : 0);
        TooSoon += Report.Timing.TooSoon ? 1 : 0;
        // Marked, or dropped for it by framing by silence: once either way.
        GapInside += Report.Timing.GapInside || Report.Verdict == TVerdict::GapInside ? 1 : 0;
    }
    switch (Report.Verdict) {
    case TVerdict::Answered:
    case TVerdict::Exception:
        if (!Report.HeldReply)
            ++Requests;
        if (Report.ReplyCancelled) {
            ++Cancelled;
        } else if (Report.ReplyFailed) {
            if (!Report.Reply.empty())
                ++Failed;
        } else if (!Report.Reply.empty()) {
            BytesOut += Report.Reply.size();
            if (!Report.ReplyHeld) {
                ++Replies;
                if (Report.Verdict == TVerdict::Exception)
                    ++Exceptions;
            }
        }
        break;
    case TVerdict::BadCrc:
        ++BadCrc;
        break;
    case TVerdict::OtherSlave:
        ++OtherSlave;
        break;
    case TVerdict::Broadcast:
        ++Broadcast;
        break;
    case TVerdict::TimedOut:
        ++TimedOut;
        break;
    case TVerdict::TooLong:
        ++TooLong;
        break;
    case TVerdict::NoReply:
        ++NoReply;
        break;
    case TVerdict::BadHeader:
        ++BadHeader;
        break;
    case TVerdict::GapInside:
        break; // counted with the marks
    }
}

} // namespace quorlin
