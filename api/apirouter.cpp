// SPDX-License-Identifier: MIT
#include "api/apirouter.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <map>

#include <nlohmann/json.hpp>

#include "api/registeraccess.h"
#include "engine/slaveset.h"
#include "engine/valuecodec.h"

namespace quorlin
{

using json = nlohmann::json;

namespace
{

constexpr const char *Prefix = "/api/v1";

// The tables by their names in a path, with their type codes.
constexpr std::pair<const char *, int32_t> Tables[] = {
    {"coils", RegTypeCoil},
    {"discrete-inputs", RegTypeDiscreteInput},
    {"input-registers", RegTypeInputReg},
    {"holding-registers", RegTypeHoldingReg},
};

std::optional<int32_t> tableOf(std::string_view Name)
{
    for (const auto &[name, type] : Tables)
        if (Name == name)
            return type;
    return std::nullopt;
}

bool isBitTable(int32_t RegType)
{
    return RegType == RegTypeCoil || RegType == RegTypeDiscreteInput;
}

std::string lower(std::string_view Text)
{
    std::string s(Text);
    for (char &c : s)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    return s;
}

THttpResponse jsonResponse(const json &Body, int Status = 200)
{
    THttpResponse r;
    r.Status = Status;
    // Replace, not throw, on text that is not UTF-8 (a script's name).
    r.Body = Body.dump(-1, ' ', false, json::error_handler_t::replace);
    return r;
}

THttpResponse outcomeError(const TApiOutcome &Outcome)
{
    return ApiError(Outcome.Status, Outcome.Message);
}

THttpResponse silent()
{
    return ApiError(503, "the program did not answer in time");
}

// A decimal number without sign, within Max; nothing for anything else.
std::optional<int64_t> parseNumber(std::string_view Text, int64_t Max)
{
    if (Text.empty() || Text.size() > 18)
        return std::nullopt;
    int64_t v = 0;
    const auto [end, ec] = std::from_chars(Text.data(), Text.data() + Text.size(), v);
    if (ec != std::errc() || end != Text.data() + Text.size() || v < 0 || v > Max)
        return std::nullopt;
    return v;
}

// A request's query, checked member by member. The first problem wins.
class TQuery
{
  public:
    explicit TQuery(const THttpRequest &R) : m_request(R) {}

    std::optional<std::string> text(std::string_view Name)
    {
        m_known.emplace_back(Name);
        for (const auto &[k, v] : m_request.Query)
            if (k == Name)
                return v;
        return std::nullopt;
    }
    // Absent: Default. Present but not a number in Min..Max: an error.
    int64_t number(std::string_view Name, int64_t Default, int64_t Min, int64_t Max)
    {
        const auto t = text(Name);
        if (!t)
            return Default;
        const auto v = parseNumber(*t, Max);
        if (!v || *v < Min) {
            fail("query parameter \"" + std::string(Name) + "\" must be a whole number from " +
                 std::to_string(Min) + " to " + std::to_string(Max));
            return Default;
        }
        return *v;
    }
    void fail(std::string Message)
    {
        if (m_error.empty())
            m_error = std::move(Message);
    }
    // Call after the last read: an unknown parameter is a mistake worth naming.
    const std::string &error()
    {
        for (const auto &[k, v] : m_request.Query)
            if (std::find(m_known.begin(), m_known.end(), k) == m_known.end())
                fail("unknown query parameter \"" + k + "\"");
        return m_error;
    }

  private:
    const THttpRequest &m_request;
    std::vector<std::string> m_known;
    std::string m_error;
};

// The request's JSON body, or why it is none.
std::optional<json> parseBody(const THttpRequest &R, std::string &Error)
{
    json body = json::parse(R.Body, nullptr, false);
    if (body.is_discarded()) {
        Error = R.Body.empty() ? "a JSON body is required" : "the body is not valid JSON";
        return std::nullopt;
    }
    if (!body.is_object()) {
        Error = "the body must be a JSON object";
        return std::nullopt;
    }
    return body;
}

// Members other than Known: a misspelt key must not be ignored quietly.
std::string unknownMember(const json &Body, std::initializer_list<const char *> Known)
{
    for (const auto &item : Body.items()) {
        bool known = false;
        for (const char *k : Known)
            known = known || item.key() == k;
        if (!known)
            return "unknown member \"" + item.key() + "\"";
    }
    return {};
}

std::optional<int> intMember(const json &Body, const char *Name, int Min, int Max,
                             std::string &Error)
{
    const auto it = Body.find(Name);
    if (it == Body.end())
        return std::nullopt;
    if (it->is_number_integer()) {
        const int64_t v =
            it->is_number_unsigned()
                ? int64_t(std::min<uint64_t>(it->get<uint64_t>(), uint64_t(INT64_MAX)))
                : it->get<int64_t>();
        if (v >= Min && v <= Max)
            return int(v);
    }
    Error = std::string("\"") + Name + "\" must be a whole number from " + std::to_string(Min) +
            " to " + std::to_string(Max);
    return std::nullopt;
}

// ---- typed values: the register table's formats ----

const std::pair<const char *, TValueKind> Kinds[] = {
    {"uint16", TValueKind::Unsigned}, {"unsigned", TValueKind::Unsigned},
    {"int16", TValueKind::Signed},    {"signed", TValueKind::Signed},
    {"hex", TValueKind::Hex},         {"binary", TValueKind::Binary},
    {"ascii", TValueKind::Ascii},     {"uint32", TValueKind::U32},
    {"int32", TValueKind::S32},       {"float32", TValueKind::F32},
    {"float64", TValueKind::F64},
};

std::optional<TWordOrder> orderOf(std::string_view Text)
{
    std::string letters;
    for (char c : Text)
        if (c != ' ')
            letters += char(c >= 'a' && c <= 'z' ? c - 32 : c);
    const std::pair<const char *, TWordOrder> orders[] = {
        {"ABCD", TWordOrder::ABCD},     {"CDAB", TWordOrder::CDAB},
        {"BADC", TWordOrder::BADC},     {"DCBA", TWordOrder::DCBA},
        {"ABCDEFGH", TWordOrder::ABCD}, {"GHEFCDAB", TWordOrder::CDAB},
        {"BADCFEHG", TWordOrder::BADC}, {"HGFEDCBA", TWordOrder::DCBA},
    };
    for (const auto &[name, order] : orders)
        if (letters == name)
            return order;
    return std::nullopt;
}

// "type" and "order" from a body or a query; Unsigned AB CD when absent.
std::optional<TValueFormat> formatOf(const std::optional<std::string> &Type,
                                     const std::optional<std::string> &Order, std::string &Error)
{
    TValueFormat f;
    if (Type) {
        const std::string t = lower(*Type);
        const auto it = std::find_if(std::begin(Kinds), std::end(Kinds),
                                     [&t](const auto &k) { return t == k.first; });
        if (it == std::end(Kinds)) {
            Error = "unknown type \"" + *Type +
                    "\" (uint16, int16, hex, binary, ascii, uint32, int32, float32, float64)";
            return std::nullopt;
        }
        f.Kind = it->second;
    }
    if (Order) {
        const auto o = orderOf(*Order);
        if (!o) {
            Error = "unknown order \"" + *Order + "\" (AB CD, CD AB, BA DC, DC BA)";
            return std::nullopt;
        }
        f.Order = *o;
    }
    return f;
}

// A JSON value as the text a user would type in the register table, so the
// table's own parser judges it.
std::optional<std::string> valueText(const json &Value)
{
    if (Value.is_string())
        return Value.get<std::string>();
    if (Value.is_boolean())
        return Value.get<bool>() ? "1" : "0";
    if (Value.is_number_integer())
        return Value.is_number_unsigned() ? std::to_string(Value.get<uint64_t>())
                                          : std::to_string(Value.get<int64_t>());
    if (Value.is_number_float()) {
        char buf[64];
        const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, Value.get<double>());
        if (ec != std::errc())
            return std::nullopt;
        return std::string(buf, end);
    }
    return std::nullopt;
}

// The registers' value in the format: a number where it is one, else the
// text the table shows.
json typedValue(TValueFormat Format, std::span<const uint16_t> Words)
{
    const uint64_t bits = DecodeBits(Words, Format.Kind, Format.Order);
    switch (Format.Kind) {
    case TValueKind::Unsigned:
    case TValueKind::U32:
        return bits;
    case TValueKind::Signed:
        return int16_t(uint16_t(bits));
    case TValueKind::S32:
        return int32_t(uint32_t(bits));
    case TValueKind::F32: {
        const double v = std::bit_cast<float>(uint32_t(bits));
        return std::isfinite(v) ? json(v) : json(FormatValue(Format, Words));
    }
    case TValueKind::F64: {
        const double v = std::bit_cast<double>(bits);
        return std::isfinite(v) ? json(v) : json(FormatValue(Format, Words));
    }
    default:
        return FormatValue(Format, Words);
    }
}

std::string registerLabel(int32_t RegType, int N)
{
    return RegisterName({RegType, N});
}

// ---- JSON of the answers ----

json countersJson(const TLineCounters &C)
{
    return {{"requests", C.Requests},  {"replies", C.Replies},        {"exceptions", C.Exceptions},
            {"bad_crc", C.BadCrc},     {"other_slave", C.OtherSlave}, {"broadcast", C.Broadcast},
            {"timed_out", C.TimedOut}, {"too_long", C.TooLong},       {"no_reply", C.NoReply},
            {"bytes_in", C.BytesIn},   {"bytes_out", C.BytesOut},     {"injected", C.Injected},
            {"too_soon", C.TooSoon},   {"gap_inside", C.GapInside}};
}

// The [Faults] keys as JSON members; Enabled travels as "on".
using TFaultKey = TFaultSettingsKey;
static_assert(std::string_view(FaultSettingsKeys[0].Name) == "Enabled");
constexpr std::span<const TFaultKey> FaultKeys(std::begin(FaultSettingsKeys) + 1,
                                               std::end(FaultSettingsKeys));

json faultsJson(const TFaultSettings &F, const TFaultCounts &C)
{
    json j = {{"on", F.Enabled != 0}};
    for (const TFaultKey &k : FaultKeys)
        j[k.Name] = F.*(k.Member);
    for (const TFaultSettingsTextKey &k : FaultSettingsTextKeys)
        j[k.Name] = F.*(k.Member);
    j["counts"] = {{"requests", C.Requests}, {"no_reply", C.NoReply},   {"exception", C.Exception},
                   {"wrong_id", C.WrongId},  {"bad_crc", C.BadCrc},     {"delayed", C.Delayed},
                   {"split", C.Split},       {"cancelled", C.Cancelled}};
    j["counts"]["failed_next"] = C.FailedNext;
    return j;
}

// The kinds a "fail next" order may name, as the API spells them.
constexpr std::pair<const char *, TFailKind> FailKinds[] = {
    {"no_reply", TFailKind::NoReply}, {"exception", TFailKind::Exception},
    {"bad_crc", TFailKind::BadCrc},   {"wrong_id", TFailKind::WrongId},
    {"delay", TFailKind::Delay},
};

json failNextJson(const TFailNext &F)
{
    const char *kind = "no_reply";
    for (const auto &[name, k] : FailKinds)
        if (k == F.Kind)
            kind = name;
    json j = {{"kind", kind}, {"left", F.Count}, {"slave", F.SlaveId}};
    if (F.Kind == TFailKind::Exception)
        j["code"] = F.ExceptionCode != 0 ? F.ExceptionCode : DefaultFaultException;
    if (F.Kind == TFailKind::Delay)
        j["delay_ms"] = F.DelayMs;
    return j;
}

json rowJson(uint64_t Seq, const TTrafficRow &Row)
{
    auto orNull = [](int64_t v) { return v < 0 ? json(nullptr) : json(v); };
    return {{"seq", Seq},
            {"time", LocalTimeText(Row.TimeUs)},
            {"time_us", Row.TimeUs},
            {"direction", Row.Direction == TDirection::Rx ? "RX" : "TX"},
            {"slave", orNull(Row.Slave)},
            {"function", orNull(Row.Function)},
            {"address", orNull(Row.Address)},
            {"quantity", orNull(Row.Quantity)},
            {"result", ResultText(Row)},
            {"bytes", HexText(Row.Bytes)},
            {"injected", Row.Injected},
            {"gap_us", orNull(Row.GapUs)},
            {"turnaround_us", orNull(Row.TurnaroundUs)},
            {"too_soon", Row.TooSoon},
            {"gap_inside", Row.GapInside}};
}

// ---- the routes ----

struct TCall {
    const THttpRequest &Request;
    IApiBackend &Backend;
    std::vector<std::string> Params; // the {...} segments, in order
};

using THandler = THttpResponse (*)(TCall &);

std::optional<int> slaveParam(const std::string &Text)
{
    const auto v = parseNumber(Text, 999);
    if (!v || *v < MinSlaveId || *v > MaxSlaveId)
        return std::nullopt;
    return int(*v);
}

THttpResponse noSlave(const std::string &Text)
{
    return ApiError(404, "no slave " + Text);
}

THttpResponse getStatus(TCall &C)
{
    TQuery q(C.Request);
    if (!q.error().empty())
        return ApiError(400, q.error());
    const std::optional<TApiStatus> status = C.Backend.Status();
    if (!status)
        return silent();
    const TApiStatus &s = *status;
    json lines = json::array();
    for (const TApiListener &l : s.Lines) {
        json line = {{"kind", l.Kind}, {"name", l.Name}, {"open", l.Open}};
        if (!l.Device.empty())
            line["device"] = l.Device;
        if (l.Open && !l.Settings.empty())
            line["settings"] = l.Settings;
        if (!l.Open)
            line["reason"] = l.Reason;
        if (l.Kind != "serial") {
            line["clients"] = l.Clients;
            line["max_clients"] = l.MaxClients;
            line["refused"] = l.Refused;
        }
        lines.push_back(std::move(line));
    }
    return jsonResponse({{"version", s.Version},
                         {"profile", s.Profile},
                         {"profile_saved", s.ProfileSaved},
                         {"lines", std::move(lines)},
                         {"counters", countersJson(s.Counters)},
                         {"lost_frames", s.LostFrames},
                         {"since_last_request_ms",
                          s.SinceLastRequestMs < 0 ? json(nullptr) : json(s.SinceLastRequestMs)}});
}

THttpResponse resetCounters(TCall &C)
{
    const TApiOutcome o = C.Backend.ResetCounters();
    return o.ok() ? jsonResponse(json::object({{"reset", true}})) : outcomeError(o);
}

THttpResponse listSlaves(TCall &C)
{
    TQuery q(C.Request);
    if (!q.error().empty())
        return ApiError(400, q.error());
    const auto slaves = C.Backend.Slaves();
    if (!slaves)
        return silent();
    json list = json::array();
    for (const TApiSlave &s : *slaves)
        list.push_back({{"id", s.Id}, {"scripts", s.Scripts}, {"offline", s.Offline}});
    return jsonResponse(json::object({{"slaves", std::move(list)}}));
}

THttpResponse addSlave(TCall &C)
{
    std::string error;
    const auto body = parseBody(C.Request, error);
    if (!body)
        return ApiError(400, error);
    if (error = unknownMember(*body, {"id"}); !error.empty())
        return ApiError(400, error);
    const auto id = intMember(*body, "id", MinSlaveId, MaxSlaveId, error);
    if (!id)
        return ApiError(400, error.empty() ? "\"id\" is required" : error);
    const TApiOutcome o = C.Backend.AddSlave(*id);
    if (!o.ok())
        return outcomeError(o);
    THttpResponse r = jsonResponse(json::object({{"id", *id}}), 201);
    r.Headers.emplace_back("Location", std::string(Prefix) + "/slaves/" + std::to_string(*id));
    return r;
}

THttpResponse getSlave(TCall &C)
{
    const auto id = slaveParam(C.Params[0]);
    if (!id)
        return noSlave(C.Params[0]);
    const auto slaves = C.Backend.Slaves();
    if (!slaves)
        return silent();
    for (const TApiSlave &s : *slaves)
        if (s.Id == *id)
            return jsonResponse({{"id", s.Id}, {"scripts", s.Scripts}, {"offline", s.Offline}});
    return noSlave(C.Params[0]);
}

THttpResponse changeSlave(TCall &C)
{
    const auto from = slaveParam(C.Params[0]);
    if (!from)
        return noSlave(C.Params[0]);
    std::string error;
    const auto body = parseBody(C.Request, error);
    if (!body)
        return ApiError(400, error);
    if (error = unknownMember(*body, {"id", "offline"}); !error.empty())
        return ApiError(400, error);
    const auto offline = body->find("offline");
    if (offline != body->end() && !offline->is_boolean())
        return ApiError(400, "\"offline\" must be true or false");
    const auto to = intMember(*body, "id", MinSlaveId, MaxSlaveId, error);
    if (!to && (!error.empty() || offline == body->end()))
        return ApiError(400, error.empty() ? "\"id\" is required" : error);
    json answer = json::object({{"id", to.value_or(*from)}});
    if (offline != body->end()) {
        // Before a change of id: the slave is found by the id it has now.
        const TApiOutcome o = C.Backend.SetSlaveOffline(*from, offline->get<bool>());
        if (!o.ok())
            return outcomeError(o);
        answer["offline"] = offline->get<bool>();
    }
    if (to) {
        const TApiOutcome o = C.Backend.ChangeSlaveId(*from, *to);
        if (!o.ok())
            return outcomeError(o);
    }
    return jsonResponse(answer);
}

THttpResponse removeSlave(TCall &C)
{
    const auto id = slaveParam(C.Params[0]);
    if (!id)
        return noSlave(C.Params[0]);
    const TApiOutcome o = C.Backend.RemoveSlave(*id);
    return o.ok() ? jsonResponse(json::object({{"removed", *id}})) : outcomeError(o);
}

// What /slaves/{id}/{table}... names: the slave, the table and how many
// registers that slave's table holds.
struct TTarget {
    int Slave = 0;
    int32_t RegType = 0;
    int Size = 0;
};

// The target of the route, or an error response when the slave or table is unknown.
std::optional<THttpResponse> slaveAndTable(TCall &C, TTarget &T)
{
    const auto id = slaveParam(C.Params[0]);
    if (!id)
        return noSlave(C.Params[0]);
    const auto table = tableOf(C.Params[1]);
    if (!table)
        return ApiError(404, "no table \"" + C.Params[1] +
                                 "\" (coils, discrete-inputs, input-registers, holding-registers)");
    const auto size = C.Backend.SlaveTableSize(*id, *table);
    if (!size)
        return noSlave(C.Params[0]);
    T = {*id, *table, *size};
    return std::nullopt;
}

// Where a slave's table ends, said as a master would learn it.
std::string tableEnd(const TCall &C, const TTarget &T)
{
    return "slave " + std::to_string(T.Slave) + "'s " + C.Params[1] + " end at " +
           registerLabel(T.RegType, T.Size) + " (a master gets exception 2 beyond)";
}

THttpResponse readRange(TCall &C)
{
    TTarget t;
    if (auto e = slaveAndTable(C, t))
        return *e;
    TQuery q(C.Request);
    // Any register number may be asked for; past the slave's table is the
    // same refusal as a range that runs over its end.
    const int start = int(q.number("start", 1, 1, MaxTableRegisters));
    const int count = int(q.number("count", 1, 1, MaxTableRegisters));
    if (!q.error().empty())
        return ApiError(400, q.error());
    if (int64_t(start) + count - 1 > t.Size)
        return ApiError(404, tableEnd(C, t));
    std::vector<uint16_t> values;
    const TApiOutcome o = C.Backend.ReadRegisters(t.Slave, t.RegType, start, count, values);
    if (!o.ok())
        return outcomeError(o);
    return jsonResponse({{"start", start}, {"values", values}});
}

// Register {register} of the route, or an error response.
std::optional<THttpResponse> registerParam(TCall &C, const TTarget &T, int &Register)
{
    const auto n = parseNumber(C.Params[2], 99999);
    if (!n || *n < 1 || *n > MaxTableRegisters)
        return ApiError(404, "no register " + C.Params[2] + " in " + C.Params[1] + " (1 to " +
                                 std::to_string(T.Size) + ")");
    if (*n > T.Size)
        return ApiError(404, "no register " + C.Params[2] + " in " + C.Params[1] + " of slave " +
                                 std::to_string(T.Slave) + " (1 to " + std::to_string(T.Size) +
                                 "; a master gets exception 2 beyond)");
    Register = int(*n);
    return std::nullopt;
}

THttpResponse readOne(TCall &C)
{
    TTarget t;
    if (auto e = slaveAndTable(C, t))
        return *e;
    const int slave = t.Slave;
    const int32_t type = t.RegType;
    int n = 0;
    if (auto e = registerParam(C, t, n))
        return *e;
    TQuery q(C.Request);
    const auto untilText = q.text("until");
    const bool waits = untilText || q.text("timeout");
    const int timeout = int(q.number("timeout", DefaultApiWaitMs, 0, MaxApiWaitMs));
    std::string error;
    const auto format = formatOf(q.text("type"), q.text("order"), error);
    if (!format)
        q.fail(error);
    if (!q.error().empty())
        return ApiError(400, q.error());

    if (waits) {
        std::optional<uint16_t> until;
        if (untilText) {
            const auto v = parseNumber(*untilText, isBitTable(type) ? 1 : 65535);
            if (!v)
                return ApiError(400,
                                std::string("\"until\" must be ") +
                                    (isBitTable(type) ? "0 or 1" : "a number from 0 to 65535"));
            until = uint16_t(*v);
        }
        const TWaitResult w = C.Backend.WaitRegister(slave, type, n, until, timeout);
        if (!w.Outcome.ok())
            return outcomeError(w.Outcome);
        return jsonResponse({{"register", n}, {"reached", w.Reached}, {"value", w.Value}});
    }

    const int span = isBitTable(type) ? 1 : RegisterSpan(format->Kind);
    if (n + span - 1 > t.Size)
        return ApiError(400, "a " + FormatName(*format) + " value at " + registerLabel(type, n) +
                                 " runs past the end of the table: " + tableEnd(C, t));
    std::vector<uint16_t> words;
    const TApiOutcome o = C.Backend.ReadRegisters(slave, type, n, span, words);
    if (!o.ok())
        return outcomeError(o);
    json answer = {{"register", n}};
    if (isBitTable(type) || (!q.text("type") && !q.text("order")))
        answer["value"] = words.empty() ? 0 : words[0];
    else
        answer["value"] = typedValue(*format, words);
    return jsonResponse(answer);
}

// The words a write body asks for at register Start of the table:
// {"value": v} with an optional "type" and "order", or {"values": [...]}.
std::optional<std::vector<uint16_t>> wordsOfBody(const TCall &C, const json &Body, const TTarget &T,
                                                 int Start, std::string &Error)
{
    const int32_t RegType = T.RegType;
    Error = unknownMember(Body, {"value", "values", "type", "order"});
    if (!Error.empty())
        return std::nullopt;
    const bool one = Body.contains("value"), many = Body.contains("values");
    if (one == many) {
        Error = "give either \"value\" or \"values\"";
        return std::nullopt;
    }
    auto optString = [&Body](const char *Name) -> std::optional<std::string> {
        const auto it = Body.find(Name);
        if (it == Body.end())
            return std::nullopt;
        return it->is_string() ? it->get<std::string>() : std::string("?");
    };
    const auto format = formatOf(optString("type"), optString("order"), Error);
    if (!format)
        return std::nullopt;
    const bool typed = Body.contains("type") || Body.contains("order");
    if (isBitTable(RegType) && typed) {
        Error = "a bit has no type or order";
        return std::nullopt;
    }
    const json items = many ? Body["values"] : json::array({Body["value"]});
    if (!items.is_array() || items.empty()) {
        Error = "\"values\" must be a non-empty array";
        return std::nullopt;
    }
    if (items.size() > size_t(T.Size)) {
        Error = "more values than the table has registers";
        return std::nullopt;
    }
    std::vector<uint16_t> words;
    for (const json &item : items) {
        if (isBitTable(RegType)) {
            if (item.is_boolean())
                words.push_back(item.get<bool>() ? 1 : 0);
            else if (item.is_number_integer() &&
                     (item.get<int64_t>() == 0 || item.get<int64_t>() == 1))
                words.push_back(uint16_t(item.get<int64_t>()));
            else {
                Error = "a bit is 0, 1, true or false, not " + item.dump();
                return std::nullopt;
            }
            continue;
        }
        const auto text = valueText(item);
        const TParsedValue parsed = text ? ParseValue(*format, *text) : TParsedValue{};
        if (!parsed.Ok) {
            Error = text ? parsed.Error : "a value is a number or a string, not " + item.dump();
            return std::nullopt;
        }
        words.insert(words.end(), parsed.Words.begin(),
                     parsed.Words.begin() + RegisterSpan(format->Kind));
    }
    if (int64_t(Start) + int64_t(words.size()) - 1 > T.Size) {
        Error = "the values run past the end: " + tableEnd(C, T);
        return std::nullopt;
    }
    return words;
}

THttpResponse writeAt(TCall &C, const TTarget &T, int Start, const json &Body)
{
    const int Slave = T.Slave;
    const int32_t RegType = T.RegType;
    std::string error;
    const auto words = wordsOfBody(C, Body, T, Start, error);
    if (!words)
        return ApiError(400, error);
    std::vector<TBoundRegister> bound;
    const TApiOutcome o = C.Backend.WriteRegisters(Slave, RegType, Start, *words, bound);
    if (!o.ok())
        return outcomeError(o);
    json answer = {{"start", Start}, {"values", *words}};
    if (!bound.empty()) {
        json b = json::array();
        for (const TBoundRegister &r : bound)
            b.push_back({{"register", r.Register}, {"script", r.Script}});
        answer["bound"] = std::move(b);
        answer["warning"] = "a script drives these registers and overwrites them at its next tick";
    }
    return jsonResponse(answer);
}

THttpResponse writeOne(TCall &C)
{
    TTarget t;
    if (auto e = slaveAndTable(C, t))
        return *e;
    int n = 0;
    if (auto e = registerParam(C, t, n))
        return *e;
    std::string error;
    const auto body = parseBody(C.Request, error);
    if (!body)
        return ApiError(400, error);
    return writeAt(C, t, n, *body);
}

THttpResponse writeRange(TCall &C)
{
    TTarget t;
    if (auto e = slaveAndTable(C, t))
        return *e;
    std::string error;
    auto body = parseBody(C.Request, error);
    if (!body)
        return ApiError(400, error);
    const auto start = intMember(*body, "start", 1, MaxTableRegisters, error);
    if (!start)
        return ApiError(400, error.empty() ? "\"start\" is required" : error);
    body->erase("start");
    return writeAt(C, t, *start, *body);
}

THttpResponse getValues(TCall &C)
{
    TQuery q(C.Request);
    if (!q.error().empty())
        return ApiError(400, q.error());
    auto csv = C.Backend.ExportValues();
    if (!csv)
        return silent();
    THttpResponse r;
    r.ContentType = "text/csv";
    r.Body = std::move(*csv);
    return r;
}

THttpResponse putValues(TCall &C)
{
    const TApiOutcome o = C.Backend.ImportValues(C.Request.Body);
    return o.ok() ? jsonResponse(json::object({{"imported", true}})) : outcomeError(o);
}

THttpResponse getFaults(TCall &C)
{
    TQuery q(C.Request);
    if (!q.error().empty())
        return ApiError(400, q.error());
    const auto faults = C.Backend.Faults();
    return faults ? jsonResponse(faultsJson(*faults, C.Backend.FaultCounts())) : silent();
}

THttpResponse putFaults(TCall &C)
{
    std::string error;
    const auto body = parseBody(C.Request, error);
    if (!body)
        return ApiError(400, error);
    // Replaces the settings as a profile's section does: a key not given is 0.
    TFaultSettings f;
    for (const auto &item : body->items()) {
        const std::string &key = item.key();
        if (key == "on") {
            if (!item.value().is_boolean())
                return ApiError(400, "\"on\" must be true or false");
            f.Enabled = item.value().get<bool>() ? 1 : 0;
            continue;
        }
        if (key == "counts")
            continue; // what a GET gave may be sent back as it is
        const auto text =
            std::find_if(std::begin(FaultSettingsTextKeys), std::end(FaultSettingsTextKeys),
                         [&key](const TFaultSettingsTextKey &x) { return key == x.Name; });
        if (text != std::end(FaultSettingsTextKeys)) {
            if (!item.value().is_string())
                return ApiError(400, "\"" + key + "\" must be a string");
            f.*(text->Member) = item.value().get<std::string>();
            continue;
        }
        const auto k = std::find_if(FaultKeys.begin(), FaultKeys.end(),
                                    [&key](const TFaultKey &x) { return key == x.Name; });
        if (k == FaultKeys.end())
            return ApiError(400, "unknown member \"" + key + "\"");
        const auto v = intMember(*body, k->Name, 0, INT32_MAX, error);
        if (!v)
            return ApiError(400, error);
        f.*(k->Member) = *v;
    }
    if (!ParseFunctionList(f.Functions).Ok)
        return ApiError(400, "\"Functions\" must list function codes 1 to 255, as in \"3,16\"");
    if (!ParseRegisterList(f.Registers).Ok)
        return ApiError(400, "\"Registers\" must list registers, as in \"4x0100-4x0199,3x0001\"");
    // What the dialog could not hold is refused, not quietly changed.
    const TFaultSettings normal = NormalisedFaults(f);
    for (const TFaultKey &k : FaultKeys)
        if (normal.*(k.Member) != f.*(k.Member))
            return ApiError(400, std::string("\"") + k.Name + "\" is out of its range");
    const TApiOutcome o = C.Backend.SetFaults(normal);
    if (!o.ok())
        return outcomeError(o);
    const auto faults = C.Backend.Faults();
    return faults ? jsonResponse(faultsJson(*faults, C.Backend.FaultCounts())) : silent();
}

THttpResponse getFailNext(TCall &C)
{
    TQuery q(C.Request);
    if (!q.error().empty())
        return ApiError(400, q.error());
    return jsonResponse(failNextJson(C.Backend.FailNextLeft()));
}

THttpResponse postFailNext(TCall &C)
{
    std::string error;
    const auto body = parseBody(C.Request, error);
    if (!body)
        return ApiError(400, error);
    if (error = unknownMember(*body, {"kind", "count", "slave", "code", "delay_ms"});
        !error.empty())
        return ApiError(400, error);
    TFailNext order;
    const auto kind = body->find("kind");
    if (kind == body->end() || !kind->is_string())
        return ApiError(400, "\"kind\" is required: no_reply, exception, bad_crc, wrong_id or delay");
    const auto named = std::find_if(std::begin(FailKinds), std::end(FailKinds),
                                    [&kind](const auto &k) { return *kind == k.first; });
    if (named == std::end(FailKinds))
        return ApiError(400, "\"kind\" must be no_reply, exception, bad_crc, wrong_id or delay");
    order.Kind = named->second;
    const auto count = intMember(*body, "count", 0, MaxFailNextCount, error);
    if (!count)
        return ApiError(400, error.empty() ? "\"count\" is required" : error);
    order.Count = *count;
    if (const auto slave = intMember(*body, "slave", 0, MaxSlaveId, error))
        order.SlaveId = *slave;
    if (const auto code = intMember(*body, "code", 1, 255, error))
        order.ExceptionCode = *code;
    if (const auto delay = intMember(*body, "delay_ms", 1, MaxFaultDelayMs, error))
        order.DelayMs = *delay;
    if (!error.empty())
        return ApiError(400, error);
    if (order.Kind == TFailKind::Delay && order.Count > 0 && order.DelayMs == 0)
        return ApiError(400, "a delay needs \"delay_ms\"");
    const TApiOutcome o = C.Backend.FailNext(order);
    if (!o.ok())
        return outcomeError(o);
    return jsonResponse(failNextJson(C.Backend.FailNextLeft()));
}

THttpResponse getTraffic(TCall &C)
{
    TQuery q(C.Request);
    const auto since = uint64_t(q.number("since", 0, 0, INT64_MAX / 2));
    const int wait = int(q.number("wait", 0, 0, MaxApiWaitMs));
    const auto limit = size_t(q.number("limit", MaxTrafficRowsPerCall, 1, MaxTrafficRowsPerCall));
    if (!q.error().empty())
        return ApiError(400, q.error());
    const TTrafficPage page = C.Backend.Traffic(since, wait, limit);
    json rows = json::array();
    for (const auto &[seq, row] : page.Rows)
        rows.push_back(rowJson(seq, row));
    return jsonResponse(
        {{"rows", std::move(rows)}, {"next", page.Next}, {"dropped", page.Dropped}});
}

THttpResponse getDescription(TCall &)
{
    THttpResponse r;
    r.Body = ApiDescription();
    return r;
}

struct TRouteEntry {
    const char *Path;
    std::vector<std::pair<const char *, THandler>> Methods;
};

const std::vector<TRouteEntry> &routeTable()
{
    static const std::vector<TRouteEntry> routes = {
        {"/api/v1/status", {{"GET", getStatus}}},
        {"/api/v1/counters/reset", {{"POST", resetCounters}}},
        {"/api/v1/slaves", {{"GET", listSlaves}, {"POST", addSlave}}},
        {"/api/v1/slaves/{id}", {{"GET", getSlave}, {"PUT", changeSlave}, {"DELETE", removeSlave}}},
        {"/api/v1/slaves/{id}/{table}", {{"GET", readRange}, {"PUT", writeRange}}},
        {"/api/v1/slaves/{id}/{table}/{register}", {{"GET", readOne}, {"PUT", writeOne}}},
        {"/api/v1/values", {{"GET", getValues}, {"PUT", putValues}}},
        {"/api/v1/faults", {{"GET", getFaults}, {"PUT", putFaults}}},
        {"/api/v1/faults/next", {{"GET", getFailNext}, {"POST", postFailNext}}},
        {"/api/v1/traffic", {{"GET", getTraffic}}},
        {"/api/v1/openapi.json", {{"GET", getDescription}}},
    };
    return routes;
}

std::vector<std::string_view> segments(std::string_view Path)
{
    std::vector<std::string_view> out;
    size_t i = 0;
    while (i < Path.size()) {
        if (Path[i] == '/') {
            ++i;
            continue;
        }
        const size_t j = Path.find('/', i);
        const size_t end = j == std::string_view::npos ? Path.size() : j;
        out.push_back(Path.substr(i, end - i));
        i = end;
    }
    return out;
}

bool matches(std::string_view Template, std::string_view Path, std::vector<std::string> &Params)
{
    const auto t = segments(Template), p = segments(Path);
    if (t.size() != p.size())
        return false;
    Params.clear();
    for (size_t i = 0; i < t.size(); ++i) {
        if (!t[i].empty() && t[i].front() == '{')
            Params.emplace_back(p[i]);
        else if (t[i] != p[i])
            return false;
    }
    return true;
}

bool sameText(std::string_view A, std::string_view B)
{
    if (A.size() != B.size())
        return false;
    for (size_t i = 0; i < A.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(A[i])) !=
            std::tolower(static_cast<unsigned char>(B[i])))
            return false;
    return true;
}

// Compares in time that does not depend on where the texts first differ.
bool sameSecret(std::string_view A, std::string_view B)
{
    unsigned char diff = A.size() == B.size() ? 0 : 1;
    for (size_t i = 0; i < A.size(); ++i)
        diff |= static_cast<unsigned char>(A[i] ^ B[i % (B.empty() ? 1 : B.size())]);
    return diff == 0 && !B.empty();
}

bool isLoopbackAddress(std::string_view Host)
{
    if (Host == "::1" || Host == "0:0:0:0:0:0:0:1")
        return true;
    // 127.a.b.c, each part a decimal number up to 255.
    if (Host.substr(0, 4) != "127.")
        return false;
    int parts = 0;
    for (std::string_view rest = Host; !rest.empty(); ++parts) {
        const size_t dot = rest.find('.');
        const std::string_view part = rest.substr(0, dot);
        if (!parseNumber(part, 255) || part.size() > 3)
            return false;
        rest = dot == std::string_view::npos ? std::string_view() : rest.substr(dot + 1);
        if (dot != std::string_view::npos && rest.empty())
            return false;
    }
    return parts == 4;
}

} // namespace

std::optional<std::string> THttpRequest::Header(std::string_view Name) const
{
    for (const auto &[k, v] : Headers)
        if (sameText(k, Name))
            return v;
    return std::nullopt;
}

const std::vector<TApiRoute> &ApiRoutes()
{
    static const std::vector<TApiRoute> routes = [] {
        std::vector<TApiRoute> out;
        for (const TRouteEntry &r : routeTable()) {
            TApiRoute route{r.Path, {}};
            for (const auto &m : r.Methods)
                route.Methods.emplace_back(m.first);
            out.push_back(std::move(route));
        }
        return out;
    }();
    return routes;
}

THttpResponse ApiError(int Status, std::string_view Message)
{
    return jsonResponse({{"error", std::string(Message)}}, Status);
}

bool IsLoopbackHost(std::string_view Host)
{
    // "[::1]:8502", "127.0.0.1:8502", "localhost".
    std::string_view name = Host;
    if (!name.empty() && name.front() == '[') {
        const size_t close = name.find(']');
        if (close == std::string_view::npos)
            return false;
        const std::string_view after = name.substr(close + 1);
        if (!after.empty() && (after.front() != ':' || !parseNumber(after.substr(1), 65535)))
            return false;
        return isLoopbackAddress(name.substr(1, close - 1));
    }
    if (const size_t colon = name.rfind(':'); colon != std::string_view::npos) {
        if (!parseNumber(name.substr(colon + 1), 65535))
            return false;
        name = name.substr(0, colon);
    }
    const std::string l = lower(name);
    const std::string_view suffix = ".localhost";
    if (l == "localhost" || l == "localhost." ||
        (l.size() > suffix.size() &&
         l.compare(l.size() - suffix.size(), suffix.size(), suffix) == 0))
        return true;
    return isLoopbackAddress(l);
}

bool IsLoopbackOrigin(std::string_view Origin)
{
    for (std::string_view scheme : {"http://", "https://"})
        if (Origin.substr(0, scheme.size()) == scheme) {
            std::string_view host = Origin.substr(scheme.size());
            if (!host.empty() && host.back() == '/')
                host.remove_suffix(1);
            return host.find('/') == std::string_view::npos && IsLoopbackHost(host);
        }
    return false;
}

THttpResponse HandleApiRequest(const THttpRequest &Request, IApiBackend &Backend,
                               const TApiAccess &Access)
{
    if (Request.BodyTooLarge || Request.Body.size() > MaxApiBody)
        return ApiError(413, "the body is larger than 1 MB");
    // A web page that a browser shows must not reach the API: through DNS
    // rebinding its requests carry a foreign Host, cross-origin ones an Origin.
    if (Access.Loopback) {
        const auto host = Request.Header("Host");
        if (host && !IsLoopbackHost(*host))
            return ApiError(403, "requests must name this machine in Host, not \"" + *host + "\"");
    }
    if (const auto origin = Request.Header("Origin"); origin && !IsLoopbackOrigin(*origin))
        return ApiError(403, "cross-origin requests are not served");
    if (!Access.Token.empty()) {
        const std::string auth = Request.Header("Authorization").value_or(std::string());
        const std::string_view scheme = "Bearer ";
        const bool ok = auth.size() > scheme.size() &&
                        sameText(auth.substr(0, scheme.size()), scheme) &&
                        sameSecret(std::string_view(auth).substr(scheme.size()), Access.Token);
        if (!ok) {
            THttpResponse r =
                ApiError(401, "a valid \"Authorization: Bearer <token>\" is required");
            r.Headers.push_back({"WWW-Authenticate", "Bearer realm=\"quorlin\""});
            return r;
        }
    }

    std::vector<std::string> params;
    for (const TRouteEntry &route : routeTable()) {
        if (!matches(route.Path, Request.Path, params))
            continue;
        for (const auto &[method, handler] : route.Methods)
            if (Request.Method == method) {
                TCall call{Request, Backend, std::move(params)};
                return handler(call);
            }
        std::string allow;
        for (const auto &m : route.Methods)
            allow += (allow.empty() ? "" : ", ") + std::string(m.first);
        THttpResponse r = ApiError(405, Request.Method + " is not served here; use " + allow);
        r.Headers.push_back({"Allow", allow});
        return r;
    }
    return ApiError(404, "no such resource: " + Request.Path);
}

} // namespace quorlin
