// SPDX-License-Identifier: MIT
// Any report the engine could make, with any bytes, must become rows whose
// CSV lines parse back (RFC 4180) into the nine columns, with the bytes
// column giving back exactly the frame.
//
// Input: verdict, exception code, flags (bit 0 reply refused), received
// length; then the received bytes and, after them, the reply.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "monitor/traffic.h"

using namespace quorlin;

namespace
{

void require(bool Condition)
{
    if (!Condition)
        std::abort();
}

// Splits one CSV record (with its CRLF) into fields; aborts on a malformed one.
std::vector<std::string> parseRecord(const std::string &Line)
{
    require(Line.size() >= 2 && Line.compare(Line.size() - 2, 2, "\r\n") == 0);
    std::vector<std::string> fields(1);
    bool quoted = false;
    for (size_t i = 0; i + 2 < Line.size() + (quoted ? 2 : 0); ++i) {
        require(i < Line.size());
        const char c = Line[i];
        if (quoted) {
            if (c == '"') {
                if (i + 1 < Line.size() && Line[i + 1] == '"') {
                    fields.back() += '"';
                    ++i;
                } else {
                    quoted = false;
                }
            } else {
                fields.back() += c;
            }
        } else if (c == ',') {
            fields.emplace_back();
        } else if (c == '"') {
            require(fields.back().empty());
            quoted = true;
        } else {
            require(c != '\r' && c != '\n');
            fields.back() += c;
        }
    }
    require(!quoted);
    return fields;
}

std::string unhex(const std::string &Text)
{
    std::string out;
    require(Text.empty() || Text.size() % 3 == 2);
    for (size_t i = 0; i < Text.size(); i += 3) {
        if (i > 0)
            require(Text[i - 1] == ' ');
        out += char(std::stoi(Text.substr(i, 2), nullptr, 16));
    }
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size)
{
    if (Size < 4)
        return 0;
    const auto verdict = TVerdict(Data[0] % 9);
    const size_t rxLen = std::min<size_t>(Data[3], Size - 4);
    const std::vector<uint8_t> rx(Data + 4, Data + 4 + rxLen);
    const std::vector<uint8_t> reply(Data + 4 + rxLen, Data + Size);

    TFrameReport r;
    r.Verdict = verdict;
    r.ExceptionCode = Data[1];
    r.ReplyFailed = (Data[2] & 1) != 0;
    r.HeldReply = (Data[2] & 2) != 0;
    r.ReplyCancelled = (Data[2] & 4) != 0;
    r.Rx = rx;
    r.Reply = reply;
    // A network line, with a comma and a quote to be quoted in the CSV.
    const std::string line = (Data[2] & 8) != 0 ? "tcp 127.0.0.1:1,\"x\"" : "";
    r.Line = line;
    TTrafficRow rows[2];
    const int n = RowsOfReport(r, int64_t(Data[1]) * 1000003 - 500000, rows);
    // A held reply's later report has no RX row; a TX row comes with bytes
    // written or with a reply that never went.
    const bool unsent = r.ReplyCancelled || (r.ReplyFailed && !reply.empty());
    const int txRows = !reply.empty() || unsent ? 1 : 0;
    require(n == (r.HeldReply ? 0 : 1) + txRows);
    TTrafficStore store(3);
    for (int i = 0; i < n; ++i) {
        const bool isRx = i == 0 && !r.HeldReply;
        const std::vector<std::string> f = parseRecord(CsvLine(rows[i]));
        require(f.size() == 11);
        require(f[8] == line);
        require(f[9].empty() && f[10].empty()); // nothing timed the report
        require(f[1] == (isRx ? "RX" : "TX"));
        const std::vector<uint8_t> none;
        const std::vector<uint8_t> &frame = isRx ? rx : unsent ? none : reply;
        const std::string back = unhex(f[7]);
        require(back == std::string(frame.begin(), frame.end()));
        const std::vector<uint8_t> &addressed = isRx || unsent ? rx : reply;
        require(f[2] == (addressed.empty() ? "" : std::to_string(addressed[0])));
        RegisterText(rows[i]);
        FunctionText(rows[i].Function);
        store.Append(rows[i]);
    }
    require(store.Size() == size_t(n));
    return 0;
}
