#pragma once

// A client set up to reach its target through a SOCKS proxy on this machine.

#include <string>

#include "net/tcp/IdIOHandlerSocket.h"
#include "net/tcp/IdSocks.h"
#include "net/tcp/IdTCPClient.h"

namespace socks_test {

struct TSocksProxy {
    int32_t port;
    TSocksVersion version;
    std::string user = "";
    std::string password = ""; // not empty: user name and password authentication
    std::string host = "127.0.0.1";
};

// Aims client at host:port through proxy; returns the socket transport it gave the client, which owns it.
inline TIdIOHandlerSocket& ThroughSocks(TIdTCPClient& client, const TSocksProxy& proxy, const std::string& host,
                                        int32_t port)
{
    auto* handler = new TIdIOHandlerSocket(&client);
    client.SetIOHandler(handler);
    TIdSocksInfo& socks = *handler->SocksInfo();
    socks.SetHost(proxy.host);
    socks.SetPort(proxy.port);
    socks.SetVersion(proxy.version);
    socks.SetUsername(proxy.user);
    socks.SetPassword(proxy.password);
    socks.SetAuthentication(proxy.password.empty() ? saNoAuthentication : saUsernamePassword);
    client.SetHost(host);
    client.SetPort(port);
    return *handler;
}

} // namespace socks_test
