// SPDX-License-Identifier: MIT
#include "api/apiserver.h"

#include <httplib.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <sys/socket.h>

namespace quorlin
{

bool ParseApiEndpoint(const std::string &Text, std::string &Address, int &Port, std::string &Error)
{
    std::string address = "127.0.0.1", port = Text;
    if (!Text.empty() && Text.front() == '[') {
        const size_t close = Text.find("]:");
        if (close == std::string::npos) {
            Error = "\"" + Text + "\" is not [ADDRESS]:PORT";
            return false;
        }
        address = Text.substr(1, close - 1);
        port = Text.substr(close + 2);
    } else if (const size_t colon = Text.rfind(':'); colon != std::string::npos) {
        address = Text.substr(0, colon);
        port = Text.substr(colon + 1);
    }
    int value = 0;
    bool ok = !port.empty() && port.size() <= 5 && !address.empty();
    for (char c : port)
        ok = ok && c >= '0' && c <= '9';
    if (ok)
        value = std::stoi(port);
    if (!ok || value < 1 || value > 65535) {
        Error = "\"" + Text + "\" is not [ADDRESS:]PORT with a port from 1 to 65535";
        return false;
    }
    Address = address;
    Port = value;
    return true;
}

bool IsLoopbackListen(const std::string &Address)
{
    return Address == "localhost" ||
           IsLoopbackHost(Address.find(':') != std::string::npos ? "[" + Address + "]" : Address);
}

TApiServer::TApiServer(IApiBackend &Backend, TApiAccess Access)
    : m_backend(Backend), m_access(std::move(Access))
{
}

TApiServer::~TApiServer()
{
    Stop();
}

bool TApiServer::Start(const std::string &Address, int Port, std::string &Error)
{
    Stop();
    auto server = std::make_unique<httplib::Server>();
    auto handle = [this](const httplib::Request &Req, httplib::Response &Res) {
        THttpRequest r;
        r.Method = Req.method;
        r.Path = Req.path;
        for (const auto &[k, v] : Req.params)
            r.Query.emplace_back(k, v);
        for (const auto &[k, v] : Req.headers)
            r.Headers.emplace_back(k, v);
        r.Body = Req.body;
        const THttpResponse out = HandleApiRequest(r, m_backend, m_access);
        Res.status = out.Status;
        for (const auto &[k, v] : out.Headers)
            Res.set_header(k, v);
        Res.set_content(out.Body, out.ContentType);
    };
    // Every path and method goes to the router, which answers 404 and 405 itself.
    const std::string any = ".*";
    server->Get(any, handle);
    server->Post(any, handle);
    server->Put(any, handle);
    server->Patch(any, handle);
    server->Delete(any, handle);
    server->Options(any, handle);
    server->set_payload_max_length(MaxApiBody);
    // What the library refuses itself (a body over the limit, a request it
    // cannot parse) still gets a JSON body.
    server->set_error_handler(
        httplib::Server::HandlerWithResponse([](const httplib::Request &, httplib::Response &Res) {
            if (!Res.body.empty())
                return httplib::Server::HandlerResponse::Unhandled;
            const THttpResponse e = Res.status == 413
                                        ? ApiError(413, "the body is larger than 1 MB")
                                        : ApiError(Res.status, "the request could not be served");
            Res.set_content(e.Body, e.ContentType);
            return httplib::Server::HandlerResponse::Handled;
        }));
    server->set_exception_handler(
        [](const httplib::Request &, httplib::Response &Res, std::exception_ptr) {
            const THttpResponse e = ApiError(500, "the request failed inside the program");
            Res.status = 500;
            Res.set_content(e.Body, e.ContentType);
        });
    // A long poll lasts up to 30 s; the client's own time-outs keep it alive.
    // Headers and body go out in separate writes: without this, each answer
    // waits for the client's delayed acknowledgement (about 40 ms).
    server->set_tcp_nodelay(true);
    server->set_keep_alive_timeout(5);
    // A test rig polls on one connection; a new one every 5 requests (the
    // library's default) costs a connection set-up each time.
    server->set_keep_alive_max_count(1000);
    server->set_read_timeout(10);
    server->set_write_timeout(10);
    if (Address.find(':') != std::string::npos)
        server->set_address_family(AF_INET6);
    // The library's default shares the port (SO_REUSEPORT): a second
    // program would then split the requests with the first instead of
    // failing to listen. Only a restart's lingering connections are let by.
    server->set_socket_options([](int Socket) {
        const int yes = 1;
        ::setsockopt(Socket, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    errno = 0;
    if (!server->bind_to_port(Address, Port)) {
        const int code = errno;
        Error = "cannot listen on " +
                (Address.find(':') != std::string::npos ? "[" + Address + "]" : Address) + ":" +
                std::to_string(Port) + ": " +
                (code != 0 ? std::strerror(code) : "the address cannot be used");
        return false;
    }
    m_server = std::move(server);
    m_thread = std::thread([s = m_server.get()] { s->listen_after_bind(); });
    // A stop before the thread runs would be lost (the library only stops
    // a running server): wait, boundedly, until it runs.
    for (int i = 0; i < 500 && !m_server->is_running(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return true;
}

void TApiServer::Stop()
{
    if (!m_server)
        return;
    m_server->stop();
    if (m_thread.joinable())
        m_thread.join();
    m_server.reset();
}

} // namespace quorlin
