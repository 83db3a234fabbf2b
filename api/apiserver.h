// SPDX-License-Identifier: MIT
// The HTTP side of the API: cpp-httplib listening on its own threads, every
// request handed to HandleApiRequest. Nothing here runs on the window's
// thread but Start and Stop.
#pragma once

#include <memory>
#include <string>
#include <thread>

#include "api/apirouter.h"

namespace httplib
{
class Server;
}

namespace quorlin
{

// "8502", "127.0.0.2:8502", "[::1]:8502", "0.0.0.0:8502": the address
// (127.0.0.1 when none is given) and the port (1..65535). False and Error
// set for anything else.
bool ParseApiEndpoint(const std::string &Text, std::string &Address, int &Port, std::string &Error);
// Whether an address to listen on is a loopback one (127.0.0.0/8, ::1, localhost).
bool IsLoopbackListen(const std::string &Address);

class TApiServer
{
  public:
    TApiServer(IApiBackend &Backend, TApiAccess Access);
    ~TApiServer();
    TApiServer(const TApiServer &) = delete;
    TApiServer &operator=(const TApiServer &) = delete;

    // Listens and starts serving; false with the reason ("cannot listen on
    // 127.0.0.1:8502: Address already in use").
    bool Start(const std::string &Address, int Port, std::string &Error);
    // Stops listening and waits for the requests being served to end.
    void Stop();
    bool Running() const { return m_thread.joinable(); }

  private:
    IApiBackend &m_backend;
    TApiAccess m_access;
    std::unique_ptr<httplib::Server> m_server;
    std::thread m_thread;
};

} // namespace quorlin
