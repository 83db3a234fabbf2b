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
    }
    return "unknown";
}

std::string ReportText(const TFrameReport &Report)
{
    std::string text;
    switch (Report.Injected) {
    case TFaultKind::None:
        text = VerdictText(Report.Verdict, Report.ExceptionCode);
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
    }
    if (Report.DelayMs > 0)
        text += ", delayed " + std::to_string(Report.DelayMs) + " ms";
    if (Report.SplitMs > 0)
        text += ", split " + std::to_string(Report.SplitMs) + " ms";
    if (Report.Replaced)
        text += ", replaced a held-back reply";
    return text;
}

void TLineCounters::Count(const TFrameReport &Report)
{
    if (Report.Injected != TFaultKind::None)
        ++Injected;
    BytesIn += Report.Rx.size() + uint64_t(Report.Unread > 0 ? Report.Unread : 0);
    switch (Report.Verdict) {
    case TVerdict::Answered:
    case TVerdict::Exception:
        ++Requests;
        if (!Report.ReplyFailed && !Report.Reply.empty()) {
            ++Replies;
            if (Report.Verdict == TVerdict::Exception)
                ++Exceptions;
            BytesOut += Report.Reply.size();
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
    }
}

} // namespace quorlin
