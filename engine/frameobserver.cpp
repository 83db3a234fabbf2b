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
    }
    return "unknown";
}

void TLineCounters::Count(const TFrameReport &Report)
{
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
    }
}

} // namespace quorlin
