// SPDX-License-Identifier: MIT
// Any request must get an answer with a known status, a JSON body that
// parses (unless it is the CSV export), Allow on a 405 and WWW-Authenticate
// on a 401, and the backend is never asked for a register outside its table
// (the fake aborts on that).
//
// Input: the method, the path with its query, and the headers ("Name: value"),
// one per line; an empty line; then the body.
#include <cstdint>
#include <cstdlib>
#include <string>

#include <nlohmann/json.hpp>

#include "tests/api/fakebackend.h"

using namespace quorlin;

namespace
{

void require(bool Condition)
{
    if (!Condition)
        std::abort();
}

std::string takeLine(std::string &Rest)
{
    const size_t nl = Rest.find('\n');
    std::string line = Rest.substr(0, nl);
    Rest = nl == std::string::npos ? std::string() : Rest.substr(nl + 1);
    return line;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size)
{
    std::string rest(reinterpret_cast<const char *>(Data), Size);
    THttpRequest r;
    r.Method = takeLine(rest);
    const std::string target = takeLine(rest);
    const size_t q = target.find('?');
    r.Path = target.substr(0, q);
    for (std::string query = q == std::string::npos ? "" : target.substr(q + 1); !query.empty();) {
        const size_t amp = query.find('&');
        const std::string item = query.substr(0, amp);
        const size_t eq = item.find('=');
        r.Query.emplace_back(item.substr(0, eq),
                             eq == std::string::npos ? "" : item.substr(eq + 1));
        query = amp == std::string::npos ? "" : query.substr(amp + 1);
    }
    for (std::string line = takeLine(rest); !line.empty(); line = takeLine(rest)) {
        const size_t colon = line.find(": ");
        r.Headers.emplace_back(line.substr(0, colon),
                               colon == std::string::npos ? "" : line.substr(colon + 2));
    }
    r.Body = rest;

    testing::FakeBackend backend;
    backend.AddSlave(2);
    backend.find(2)->SetRegisterCount(MaxTableRegisters); // the whole space beside the usual
    const TApiAccess access{Size % 2 == 0 ? "" : "tok", Size % 3 != 0};
    const THttpResponse out = HandleApiRequest(r, backend, access);
    const int known[] = {200, 201, 400, 401, 403, 404, 405, 409, 413, 503};
    require(std::find(std::begin(known), std::end(known), out.Status) != std::end(known));
    if (out.ContentType == "application/json")
        require(!nlohmann::json::parse(out.Body, nullptr, false).is_discarded());
    auto has = [&out](const char *Name) {
        for (const auto &h : out.Headers)
            if (h.first == Name && !h.second.empty())
                return true;
        return false;
    };
    if (out.Status == 405)
        require(has("Allow"));
    if (out.Status == 401)
        require(has("WWW-Authenticate"));
    return 0;
}
