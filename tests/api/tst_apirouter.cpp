// SPDX-License-Identifier: MIT
// The API's routing without sockets: every refusal with its status and
// headers, typed values against libmodbus's own float layouts, the Host and
// Origin rules, and the description agreeing with the routes served.
#include <gtest/gtest.h>

#include <modbus.h>
#include <nlohmann/json.hpp>

#include <set>

#include "tests/api/fakebackend.h"

using namespace quorlin;
using namespace quorlin::testing;
using json = nlohmann::json;

namespace
{

THttpRequest request(std::string Method, std::string Target, std::string Body = {},
                     std::vector<std::pair<std::string, std::string>> Headers = {})
{
    THttpRequest r;
    r.Method = std::move(Method);
    const size_t q = Target.find('?');
    r.Path = Target.substr(0, q);
    if (q != std::string::npos) {
        std::string rest = Target.substr(q + 1);
        while (!rest.empty()) {
            const size_t amp = rest.find('&');
            const std::string item = rest.substr(0, amp);
            const size_t eq = item.find('=');
            r.Query.emplace_back(item.substr(0, eq),
                                 eq == std::string::npos ? "" : item.substr(eq + 1));
            rest = amp == std::string::npos ? "" : rest.substr(amp + 1);
        }
    }
    r.Body = std::move(Body);
    r.Headers = std::move(Headers);
    r.Headers.emplace_back("Host", "127.0.0.1:8502");
    return r;
}

std::string header(const THttpResponse &R, const std::string &Name)
{
    for (const auto &[k, v] : R.Headers)
        if (k == Name)
            return v;
    return {};
}

struct Refusal {
    const char *Name;
    const char *Method;
    const char *Target;
    const char *Body;
    int Status;
    const char *InMessage; // part of the message a person needs
    const char *Header = nullptr;
    const char *HeaderValue = nullptr;
};

class Refusals : public ::testing::TestWithParam<Refusal>
{
};

TEST_P(Refusals, AnswerWithStatusMessageAndHeaders)
{
    const Refusal &row = GetParam();
    FakeBackend backend;
    backend.AddSlave(2);
    backend.find(2)->SetRegisterCount(MaxTableRegisters);
    const THttpResponse r =
        HandleApiRequest(request(row.Method, row.Target, row.Body), backend, {});
    EXPECT_EQ(r.Status, row.Status) << r.Body;
    const json body = json::parse(r.Body, nullptr, false);
    ASSERT_TRUE(body.is_object()) << r.Body;
    ASSERT_TRUE(body.contains("error")) << r.Body;
    EXPECT_NE(body["error"].get<std::string>().find(row.InMessage), std::string::npos) << r.Body;
    if (row.Header) {
        EXPECT_EQ(header(r, row.Header), row.HeaderValue);
    }
}

// clang-format off
const Refusal refusals[] = {
    {"UnknownPath", "GET", "/api/v1/nothing", "", 404, "no such resource"},
    {"UnknownSlave", "GET", "/api/v1/slaves/9/coils?start=1", "", 404, "no slave"},
    {"SlaveZeroIsNoSlave", "GET", "/api/v1/slaves/0", "", 404, "no slave 0"},
    {"UnknownTable", "GET", "/api/v1/slaves/1/outputs", "", 404, "no table"},
    {"RegisterPastTheTable", "GET", "/api/v1/slaves/1/input-registers/257", "", 404, "1 to 256"},
    {"CoilZero", "PUT", "/api/v1/slaves/1/coils/0", R"({"value":1})", 404, "no register 0"},
    // Slave 1 has the usual sizes, slave 2 the whole space.
    {"PastTheWholeSpace", "GET", "/api/v1/slaves/2/holding-registers/65537", "", 404, "1 to 65536"},
    {"LargeAddressOfUsualSlave", "PUT", "/api/v1/slaves/1/holding-registers/40001", R"({"value":1})", 404, "of slave 1 (1 to 256; a master gets exception 2"},
    {"WaitPastTheBits", "GET", "/api/v1/slaves/1/coils/2049?until=1", "", 404, "1 to 2048"},
    {"RangeStartPastTheTable", "GET", "/api/v1/slaves/1/input-registers?start=300", "", 404, "slave 1's input-registers end at 3x0256"},
    {"RangeRunsPastTheWholeSpace", "GET", "/api/v1/slaves/2/input-registers?start=65530&count=10", "", 404, "3x65536"},
    {"CountPastTheWholeSpace", "GET", "/api/v1/slaves/2/coils?count=65537", "", 400, "\"count\""},
    {"WritesRunPastTheWholeSpace", "PUT", "/api/v1/slaves/2/holding-registers", R"({"start":65536,"values":[1,2]})", 400, "4x65536"},
    {"WriteStartPastTheTable", "PUT", "/api/v1/slaves/1/coils", R"({"start":2049,"values":[1]})", 400, "0x2048"},
    {"DoubleAtTheLastRegisters", "PUT", "/api/v1/slaves/2/input-registers/65534", R"({"value":1,"type":"float64"})", 400, "3x65536"},
    {"UnknownSlaveBeforeRegister", "GET", "/api/v1/slaves/9/coils/99999", "", 404, "no slave 9"},
    {"RangeRunsPastTheEnd", "GET", "/api/v1/slaves/1/holding-registers?start=250&count=10", "", 404, "4x0256"},
    {"CountZero", "GET", "/api/v1/slaves/1/coils?count=0", "", 400, "\"count\""},
    {"CountNotANumber", "GET", "/api/v1/slaves/1/coils?count=ten", "", 400, "\"count\""},
    {"UnknownQuery", "GET", "/api/v1/slaves/1/coils?strat=1", "", 400, "\"strat\""},
    {"StatusTakesNoPut", "PUT", "/api/v1/status", "{}", 405, "GET", "Allow", "GET"},
    {"SlavesTakeNoPatch", "PATCH", "/api/v1/slaves", "{}", 405, "use GET, POST", "Allow", "GET, POST"},
    {"RegisterTakesNoDelete", "DELETE", "/api/v1/slaves/1/coils/1", "", 405, "", "Allow", "GET, PUT"},
    {"DuplicateSlave", "POST", "/api/v1/slaves", R"({"id":2})", 409, "already used"},
    {"RenameOntoAnother", "PUT", "/api/v1/slaves/1", R"({"id":2})", 409, "already used"},
    {"SlaveIdOutOfRange", "POST", "/api/v1/slaves", R"({"id":256})", 400, "1 to 255"},
    {"SlaveIdAsText", "POST", "/api/v1/slaves", R"({"id":"3"})", 400, "\"id\""},
    {"SlaveWithoutId", "POST", "/api/v1/slaves", R"({})", 400, "\"id\" is required"},
    {"NotJson", "POST", "/api/v1/slaves", "id=3", 400, "not valid JSON"},
    {"NoBody", "PUT", "/api/v1/slaves/1/coils/1", "", 400, "JSON body is required"},
    {"JsonArray", "PUT", "/api/v1/slaves/1/coils/1", "[1]", 400, "JSON object"},
    {"MisspeltMember", "PUT", "/api/v1/slaves/1/holding-registers/1", R"({"valeu":1})", 400, "\"valeu\""},
    {"ValueAndValues", "PUT", "/api/v1/slaves/1/holding-registers/1", R"({"value":1,"values":[1]})", 400, "either"},
    {"WordTooLarge", "PUT", "/api/v1/slaves/1/holding-registers/1", R"({"value":65536})", 400, "65536"},
    {"BitTwo", "PUT", "/api/v1/slaves/1/coils/1", R"({"value":2})", 400, "a bit is"},
    {"TypedBit", "PUT", "/api/v1/slaves/1/coils/1", R"({"value":1,"type":"uint16"})", 400, "no type"},
    {"UnknownType", "PUT", "/api/v1/slaves/1/holding-registers/1", R"({"value":1,"type":"float16"})", 400, "float16"},
    {"UnknownOrder", "PUT", "/api/v1/slaves/1/holding-registers/1", R"({"value":1,"type":"float32","order":"AC BD"})", 400, "AC BD"},
    {"FloatPastTheEnd", "PUT", "/api/v1/slaves/1/holding-registers/256", R"({"value":1.5,"type":"float32"})", 400, "4x0256"},
    {"FloatNotANumber", "PUT", "/api/v1/slaves/1/input-registers/1", R"({"value":"warm","type":"float32"})", 400, "warm"},
    {"ObjectAsValue", "PUT", "/api/v1/slaves/1/input-registers/1", R"({"value":{}})", 400, "not {}"},
    {"RangeWithoutStart", "PUT", "/api/v1/slaves/1/coils", R"({"values":[1]})", 400, "\"start\""},
    {"UntilOutOfBits", "GET", "/api/v1/slaves/1/coils/17?until=2", "", 400, "0 or 1"},
    {"TimeoutTooLong", "GET", "/api/v1/slaves/1/coils/17?until=1&timeout=30001", "", 400, "\"timeout\""},
    {"TrafficWaitTooLong", "GET", "/api/v1/traffic?wait=60000", "", 400, "\"wait\""},
    {"FaultOutOfRange", "PUT", "/api/v1/faults", R"({"on":true,"NoReplyPercent":101})", 400, "NoReplyPercent"},
    {"FaultUnknownKey", "PUT", "/api/v1/faults", R"({"NoReplyEvry":2})", 400, "NoReplyEvry"},
    {"FaultSwitchAsNumber", "PUT", "/api/v1/faults", R"({"on":1})", 400, "\"on\""},
    {"RemoveUnknownSlave", "DELETE", "/api/v1/slaves/77", "", 404, "no slave"},
    {"FaultFunctionsUnreadable", "PUT", "/api/v1/faults", R"({"Functions":"3x"})", 400, "\"Functions\""},
    {"FaultRegistersUnreadable", "PUT", "/api/v1/faults", R"({"Registers":"4x0200-4x0100"})", 400, "\"Registers\""},
    {"FaultFunctionsAsNumber", "PUT", "/api/v1/faults", R"({"Functions":3})", 400, "must be a string"},
    {"OfflineAsNumber", "PUT", "/api/v1/slaves/2", R"({"offline":1})", 400, "\"offline\""},
    {"OfflineUnknownSlave", "PUT", "/api/v1/slaves/7", R"({"offline":true})", 404, "no slave 7"},
    {"FailNextWithoutKind", "POST", "/api/v1/faults/next", R"({"count":1})", 400, "\"kind\" is required"},
    {"FailNextUnknownKind", "POST", "/api/v1/faults/next", R"({"kind":"noise","count":1})", 400, "no_reply"},
    {"FailNextWithoutCount", "POST", "/api/v1/faults/next", R"({"kind":"bad_crc"})", 400, "\"count\" is required"},
    {"FailNextCountTooLarge", "POST", "/api/v1/faults/next", R"({"kind":"bad_crc","count":1000001})", 400, "\"count\""},
    {"FailNextDelayWithoutTime", "POST", "/api/v1/faults/next", R"({"kind":"delay","count":2})", 400, "\"delay_ms\""},
    {"FailNextSlaveOutOfRange", "POST", "/api/v1/faults/next", R"({"kind":"wrong_id","count":2,"slave":256})", 400, "\"slave\""},
    {"FailNextCodeZero", "POST", "/api/v1/faults/next", R"({"kind":"exception","count":2,"code":0})", 400, "\"code\""},
    {"FailNextMisspelt", "POST", "/api/v1/faults/next", R"({"kind":"no_reply","count":2,"slaves":1})", 400, "\"slaves\""},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Api, Refusals, ::testing::ValuesIn(refusals),
                         [](const auto &Info) { return std::string(Info.param.Name); });

TEST(ApiAccess, TokenHostAndOriginRules)
{
    FakeBackend backend;
    const TApiAccess token{"s3cret", false};
    struct Row {
        const char *Name;
        TApiAccess Access;
        std::vector<std::pair<std::string, std::string>> Headers;
        int Status;
    };
    const Row rows[] = {
        {"NoTokenNeededOnLoopback", {}, {}, 200},
        {"TokenMissing", token, {}, 401},
        {"TokenWrong", token, {{"Authorization", "Bearer s3cres"}}, 401},
        {"TokenPrefixOnly", token, {{"Authorization", "Bearer s3cre"}}, 401},
        {"TokenLonger", token, {{"Authorization", "Bearer s3cret1"}}, 401},
        {"BasicScheme", token, {{"Authorization", "Basic s3cret"}}, 401},
        {"TokenRight", token, {{"Authorization", "Bearer s3cret"}}, 200},
        {"SchemeAnyCase", token, {{"authorization", "bearer s3cret"}}, 200},
        {"ForeignHostOffLoopbackWithToken",
         token,
         {{"Authorization", "Bearer s3cret"}, {"Host", "plant.example:8502"}},
         200},
        {"ForeignHostOnLoopback", {}, {{"Host", "rebind.example:8502"}}, 403},
        {"LocalhostName", {}, {{"Host", "localhost:8502"}}, 200},
        {"IPv6Loopback", {}, {{"Host", "[::1]:8502"}}, 200},
        {"LoopbackPrefixTrick", {}, {{"Host", "127.0.0.1.rebind.example"}}, 403},
        {"ForeignOrigin", {}, {{"Origin", "http://evil.example"}}, 403},
        {"LocalOrigin", {}, {{"Origin", "http://localhost:3000"}}, 200},
        {"NullOrigin", {}, {{"Origin", "null"}}, 403},
    };
    for (const Row &row : rows) {
        THttpRequest r = request("GET", "/api/v1/slaves");
        // The row's Host replaces the default one.
        for (const auto &h : row.Headers)
            if (h.first == "Host")
                r.Headers.erase(std::remove_if(r.Headers.begin(), r.Headers.end(),
                                               [](const auto &x) { return x.first == "Host"; }),
                                r.Headers.end());
        r.Headers.insert(r.Headers.end(), row.Headers.begin(), row.Headers.end());
        const THttpResponse out = HandleApiRequest(r, backend, row.Access);
        EXPECT_EQ(out.Status, row.Status) << row.Name << ": " << out.Body;
        if (row.Status == 401) {
            EXPECT_EQ(header(out, "WWW-Authenticate").rfind("Bearer", 0), 0u) << row.Name;
        }
        EXPECT_TRUE(header(out, "Access-Control-Allow-Origin").empty()) << row.Name;
    }
}

TEST(ApiAccess, OversizedBodyIsRefusedBeforeAnythingElse)
{
    FakeBackend backend;
    THttpRequest r = request("PUT", "/api/v1/values", std::string(MaxApiBody + 1, 'x'));
    EXPECT_EQ(HandleApiRequest(r, backend, {"token", false}).Status, 413);
    r.Body.resize(MaxApiBody);
    EXPECT_EQ(HandleApiRequest(r, backend, {}).Status, 200);
    EXPECT_EQ(backend.m_lastImport.size(), MaxApiBody);
}

// Typed writes land as libmodbus, an independent implementation, reads the
// value back for each order; the API's own typed read agrees.
TEST(ApiValues, TypedWritesMatchLibmodbusLayouts)
{
    struct Row {
        const char *Order;
        float (*Get)(const uint16_t *);
    };
    const Row rows[] = {{"AB CD", modbus_get_float_abcd},
                        {"CD AB", modbus_get_float_cdab},
                        {"BA DC", modbus_get_float_badc},
                        {"DC BA", modbus_get_float_dcba}};
    for (const Row &row : rows) {
        FakeBackend backend;
        const json body = {{"type", "float32"}, {"order", row.Order}, {"value", 21.5}};
        const THttpResponse w = HandleApiRequest(
            request("PUT", "/api/v1/slaves/1/input-registers/5", body.dump()), backend, {});
        ASSERT_EQ(w.Status, 200) << w.Body;
        const uint16_t words[2] = {backend.find(1)->InputRegs[5], backend.find(1)->InputRegs[6]};
        EXPECT_EQ(row.Get(words), 21.5f) << row.Order;
        std::string order = row.Order;
        order.erase(order.find(' '), 1);
        const THttpResponse r = HandleApiRequest(
            request("GET", "/api/v1/slaves/1/input-registers/5?type=float32&order=" + order),
            backend, {});
        EXPECT_EQ(json::parse(r.Body)["value"], 21.5) << row.Order << r.Body;
    }
}

TEST(ApiValues, ManyValuesSignedAndBitsLandInOrder)
{
    FakeBackend backend;
    backend.m_bound.push_back({1, RegTypeHoldingReg, 11, "Ramp"});
    THttpResponse r =
        HandleApiRequest(request("PUT", "/api/v1/slaves/1/holding-registers",
                                 R"({"start":10,"values":[1,-2,"-32768"],"type":"int16"})"),
                         backend, {});
    ASSERT_EQ(r.Status, 200) << r.Body;
    const TRegisterTables &t = *backend.find(1);
    EXPECT_EQ(t.HoldingRegs[10], 1);
    EXPECT_EQ(t.HoldingRegs[11], 0xFFFE);
    EXPECT_EQ(t.HoldingRegs[12], 0x8000);
    const json answer = json::parse(r.Body);
    ASSERT_TRUE(answer.contains("bound")) << r.Body;
    EXPECT_EQ(answer["bound"][0]["script"], "Ramp");
    EXPECT_EQ(answer["bound"][0]["register"], 11);

    r = HandleApiRequest(request("PUT", "/api/v1/slaves/1/coils/2048", R"({"value":true})"),
                         backend, {});
    ASSERT_EQ(r.Status, 200) << r.Body;
    EXPECT_EQ(t.Coils[2048], 1);
    r = HandleApiRequest(request("GET", "/api/v1/slaves/1/coils?start=2047&count=2"), backend, {});
    EXPECT_EQ(json::parse(r.Body)["values"], json::array({0, 1}));
}

// A slave serving the whole space is reached at the addresses real maps use
// and at its very last register, through every route that names registers.
TEST(ApiValues, WholeSpaceSlaveIsReachedToItsLastRegister)
{
    FakeBackend backend;
    backend.AddSlave(7);
    TRegisterTables &t = *backend.find(7);
    t.SetRegisterCount(MaxTableRegisters);
    struct Row {
        const char *Method, *Target, *Body, *Answer;
    };
    const Row rows[] = {
        {"PUT", "/api/v1/slaves/7/holding-registers/40001", R"({"value":4660})",
         R"({"start":40001,"values":[4660]})"},
        {"GET", "/api/v1/slaves/7/holding-registers/40001", "",
         R"({"register":40001,"value":4660})"},
        {"PUT", "/api/v1/slaves/7/input-registers", R"({"start":65533,"values":[1,2,3,65535]})",
         R"({"start":65533,"values":[1,2,3,65535]})"},
        {"GET", "/api/v1/slaves/7/input-registers?start=65535&count=2", "",
         R"({"start":65535,"values":[3,65535]})"},
        {"PUT", "/api/v1/slaves/7/holding-registers/65535", R"({"value":-2,"type":"int32"})",
         R"({"start":65535,"values":[65535,65534]})"},
        {"GET", "/api/v1/slaves/7/holding-registers/65535?type=int32", "",
         R"({"register":65535,"value":-2})"},
        {"PUT", "/api/v1/slaves/7/coils/65536", R"({"value":true})",
         R"({"start":65536,"values":[1]})"},
        {"GET", "/api/v1/slaves/7/coils/65536?until=1&timeout=0", "",
         R"({"reached":true,"register":65536,"value":1})"},
        {"GET", "/api/v1/slaves/7/discrete-inputs?start=1&count=65536", "", nullptr},
    };
    for (const Row &row : rows) {
        const THttpResponse r =
            HandleApiRequest(request(row.Method, row.Target, row.Body), backend, {});
        ASSERT_EQ(r.Status, 200) << row.Target << ": " << r.Body;
        if (row.Answer)
            EXPECT_EQ(json::parse(r.Body), json::parse(row.Answer)) << row.Target;
        else
            EXPECT_EQ(json::parse(r.Body)["values"].size(), 65536u) << row.Target;
    }
    EXPECT_EQ(t.HoldingRegs[40001], 0x1234);
    EXPECT_EQ(t.InputRegs[65536], 65535);
    EXPECT_EQ(t.Coils[65536], 1);
    // The usual slave beside it keeps its usual end and is not written.
    EXPECT_EQ(
        HandleApiRequest(request("PUT", "/api/v1/slaves/1/holding-registers/257", R"({"value":1})"),
                         backend, {})
            .Status,
        404);
}

TEST(ApiValues, FaultsReplaceEveryKey)
{
    FakeBackend backend;
    backend.m_faults.DelayMs = 300;
    const THttpResponse r = HandleApiRequest(
        request("PUT", "/api/v1/faults", R"({"on":true,"NoReplyEvery":3})"), backend, {});
    ASSERT_EQ(r.Status, 200) << r.Body;
    EXPECT_EQ(backend.m_faults.Enabled, 1);
    EXPECT_EQ(backend.m_faults.NoReplyEvery, 3);
    EXPECT_EQ(backend.m_faults.DelayMs, 0) << "a key not given is 0, as in a profile";
    // What a GET gives can be sent back unchanged.
    const THttpResponse again =
        HandleApiRequest(request("PUT", "/api/v1/faults", r.Body), backend, {});
    EXPECT_EQ(again.Status, 200) << again.Body;
    EXPECT_EQ(again.Body, r.Body);
}

TEST(ApiValues, FailNextOrderAndAimTravelBothWays)
{
    FakeBackend backend;
    backend.AddSlave(2);
    THttpResponse r = HandleApiRequest(
        request("POST", "/api/v1/faults/next",
                R"({"kind":"exception","count":3,"slave":2,"code":6})"),
        backend, {});
    ASSERT_EQ(r.Status, 200) << r.Body;
    EXPECT_EQ(backend.m_plan.FailNextLeft(), (TFailNext{TFailKind::Exception, 3, 2, 6, 0}));
    EXPECT_EQ(json::parse(r.Body),
              json::parse(R"({"kind":"exception","left":3,"slave":2,"code":6})"));
    r = HandleApiRequest(request("POST", "/api/v1/faults/next", R"({"kind":"delay","count":1,"delay_ms":250})"),
                         backend, {});
    EXPECT_EQ(json::parse(r.Body), json::parse(R"({"kind":"delay","left":1,"slave":0,"delay_ms":250})"));
    r = HandleApiRequest(request("PUT", "/api/v1/faults",
                                 R"({"on":true,"NoReplyEvery":1,"Functions":"3,16","Registers":"4x0100-4x0199"})"),
                         backend, {});
    ASSERT_EQ(r.Status, 200) << r.Body;
    EXPECT_EQ(backend.m_faults.Functions, "3,16");
    EXPECT_EQ(json::parse(r.Body)["Registers"], "4x0100-4x0199");
    r = HandleApiRequest(request("PUT", "/api/v1/slaves/2", R"({"offline":true})"), backend, {});
    ASSERT_EQ(r.Status, 200) << r.Body;
    r = HandleApiRequest(request("GET", "/api/v1/slaves"), backend, {});
    EXPECT_EQ(json::parse(r.Body)["slaves"][1]["offline"], true) << r.Body;
}

// Every route the router serves is in the description with the same
// methods, and the description lists nothing the router does not serve.
TEST(ApiDescription, AgreesWithTheRoutesServed)
{
    FakeBackend backend;
    const THttpResponse r = HandleApiRequest(request("GET", "/api/v1/openapi.json"), backend, {});
    ASSERT_EQ(r.Status, 200);
    const json doc = json::parse(r.Body, nullptr, false);
    ASSERT_TRUE(doc.is_object());
    EXPECT_EQ(doc["openapi"].get<std::string>().rfind("3.", 0), 0u);
    std::set<std::string> documented, served;
    for (const auto &[path, item] : doc["paths"].items())
        for (const auto &[key, op] : item.items())
            if (key != "parameters")
                documented.insert(std::string(key) + " " + path);
    for (const TApiRoute &route : ApiRoutes())
        for (const std::string &m : route.Methods) {
            std::string lowerMethod = m;
            for (char &c : lowerMethod)
                c = char(std::tolower(static_cast<unsigned char>(c)));
            served.insert(lowerMethod + " " + route.Path);
        }
    EXPECT_EQ(documented, served);

    // And each documented operation reaches a handler: no 405, no unknown path.
    for (const std::string &op : documented) {
        std::string method = op.substr(0, op.find(' ')), path = op.substr(op.find(' ') + 1);
        for (char &c : method)
            c = char(std::toupper(static_cast<unsigned char>(c)));
        for (const auto &[param, value] :
             {std::pair{"{id}", "1"}, {"{table}", "coils"}, {"{register}", "1"}})
            if (const size_t at = path.find(param); at != std::string::npos)
                path.replace(at, std::string(param).size(), value);
        const THttpResponse out = HandleApiRequest(request(method, path, "{}"), backend, {});
        EXPECT_NE(out.Status, 405) << op;
        EXPECT_EQ(out.Body.find("no such resource"), std::string::npos) << op;
    }
}

} // namespace
