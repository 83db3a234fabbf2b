// SPDX-License-Identifier: MIT
// The remote-control API as a function from a request to a response: access
// rules, routes, query and JSON checks, and the JSON the answers carry. It
// knows no socket and no window; what it reads and changes it asks of an
// IApiBackend, so the same routing runs in the program, in tests and under
// the fuzzer.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/faultplan.h"
#include "engine/frameobserver.h"
#include "monitor/traffic.h"

namespace quorlin
{

inline constexpr size_t MaxApiBody = 1024 * 1024; // larger bodies get 413
inline constexpr int MaxApiWaitMs = 30000;        // longest long poll
inline constexpr int DefaultApiWaitMs = 10000;    // a wait for a write without "timeout"
inline constexpr size_t MaxTrafficRowsPerCall = 1000;

struct THttpRequest {
    std::string Method;                                     // "GET", "PUT" ...
    std::string Path;                                       // without the query
    std::vector<std::pair<std::string, std::string>> Query; // decoded
    std::vector<std::pair<std::string, std::string>> Headers;
    std::string Body;
    // Set by the transport when the body went over MaxApiBody before it was read.
    bool BodyTooLarge = false;

    // The first header of that name (any case), or nothing.
    std::optional<std::string> Header(std::string_view Name) const;
};

struct THttpResponse {
    int Status = 200;
    std::string ContentType = "application/json";
    std::string Body;
    std::vector<std::pair<std::string, std::string>> Headers;
};

// Who may call: the token (empty: none needed), and whether the server
// listens on a loopback address, where a foreign Host is refused.
struct TApiAccess {
    std::string Token;
    bool Loopback = true;
};

// What an action that may be refused came to.
struct TApiOutcome {
    int Status = 200;    // 200 done; 400, 404, 409 refused; 503 the program did not answer
    std::string Message; // the refusal, in the words the window would use
    static TApiOutcome Ok() { return {}; }
    static TApiOutcome Refused(int Status, std::string Message)
    {
        return {Status, std::move(Message)};
    }
    bool ok() const { return Status == 200; }
};

struct TApiSlave {
    int Id = 1;
    int Scripts = 0; // bindings that drive it
    bool Offline = false;
};

struct TApiListener {
    std::string Kind;   // "serial", "tcp" ...
    std::string Name;   // "COM2", "0.0.0.0:502"
    std::string Device; // "/dev/ttyUSB0"; empty when none
    bool Open = false;
    std::string Settings;             // "9600 8E1"; empty when closed
    std::string Reason;               // why it is closed; empty when open
    // Network listeners: clients connected now, and those refused at the limit.
    int Clients = 0;
    int MaxClients = 0;
    uint64_t Refused = 0;
};

struct TApiStatus {
    std::string Version;
    std::string Profile; // path; empty for an unnamed profile
    bool ProfileSaved = true;
    std::vector<TApiListener> Lines;
    TLineCounters Counters;
    uint64_t LostFrames = 0;
    int64_t SinceLastRequestMs = -1;
};

struct TBoundRegister {
    int Register = 0;
    std::string Script;
};

struct TWaitResult {
    TApiOutcome Outcome;
    bool Reached = false;
    uint16_t Value = 0;
};

struct TTrafficPage {
    std::vector<std::pair<uint64_t, TTrafficRow>> Rows; // sequence number, row
    uint64_t Next = 0;                                  // the cursor for the next call
    uint64_t Dropped = 0; // rows after Since that left the ring before they were read
};

class IApiBackend
{
  public:
    virtual ~IApiBackend() = default;

    // Nothing (for these four) when the program did not answer in time: 503.
    virtual std::optional<TApiStatus> Status() = 0;
    virtual TApiOutcome ResetCounters() = 0;

    virtual std::optional<std::vector<TApiSlave>> Slaves() = 0;
    virtual TApiOutcome AddSlave(int Id) = 0;
    virtual TApiOutcome RemoveSlave(int Id) = 0;
    virtual TApiOutcome ChangeSlaveId(int From, int To) = 0;

    // How many registers the slave's table holds (2048 or 256 unless the
    // slave serves more, up to 65536); nothing for an unknown slave.
    virtual std::optional<int> SlaveTableSize(int Slave, int RegType) = 0;
    // Registers Start .. Start + Count - 1 (1-based, within the table); 404
    // for an unknown slave.
    virtual TApiOutcome ReadRegisters(int Slave, int RegType, int Start, int Count,
                                      std::vector<uint16_t> &Values) = 0;
    // In the image before it returns; Bound lists the written registers a
    // script drives.
    virtual TApiOutcome WriteRegisters(int Slave, int RegType, int Start,
                                       std::span<const uint16_t> Values,
                                       std::vector<TBoundRegister> &Bound) = 0;
    // Until set: until the register holds it. Else: until a master writes it.
    virtual TWaitResult WaitRegister(int Slave, int RegType, int Register,
                                     std::optional<uint16_t> Until, int TimeoutMs) = 0;

    virtual std::optional<std::string> ExportValues() = 0;
    virtual TApiOutcome ImportValues(std::string_view Csv) = 0;

    virtual std::optional<TFaultSettings> Faults() = 0;
    virtual TFaultCounts FaultCounts() = 0;
    virtual TApiOutcome SetFaults(const TFaultSettings &Faults) = 0;
    // Fails the next Order.Count requests (Count 0 cancels the order running).
    virtual TApiOutcome FailNext(const TFailNext &Order) = 0;
    virtual TFailNext FailNextLeft() = 0;
    // Takes a slave off the line or puts it back; 404 for an unknown slave.
    virtual TApiOutcome SetSlaveOffline(int Id, bool Offline) = 0;

    // Rows from sequence number Since on, at most Limit, waiting up to
    // WaitMs for the first one.
    virtual TTrafficPage Traffic(uint64_t Since, int WaitMs, size_t Limit) = 0;
};

struct TApiRoute {
    std::string Path;                 // "/api/v1/slaves/{id}"
    std::vector<std::string> Methods; // "GET", "PUT" ...
};
// Every route the API serves: what its description must list.
const std::vector<TApiRoute> &ApiRoutes();

// The OpenAPI description served at /api/v1/openapi.json: docs/api.yaml as
// JSON, built in.
const std::string &ApiDescription();

THttpResponse HandleApiRequest(const THttpRequest &Request, IApiBackend &Backend,
                               const TApiAccess &Access);

// A JSON error body: {"error": Message}.
THttpResponse ApiError(int Status, std::string_view Message);

// Whether a Host header (with or without its port) names this machine:
// "localhost", "*.localhost", 127.0.0.0/8, "[::1]".
bool IsLoopbackHost(std::string_view Host);
// Whether an Origin header ("http://localhost:8080") names this machine.
bool IsLoopbackOrigin(std::string_view Origin);

} // namespace quorlin
