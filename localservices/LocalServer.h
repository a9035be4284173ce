#pragma once

#include "localservices/ServiceState.h"

#include <httplib.h>

#include <string>

// The HTTP face of the local services on one loopback port: the configuration reply ("/sdkinit"),
// the push-stream service ("/pushStreamHelper/<operation>"), the log collection
// ("/burySite/appClickEvent") and the control interface of the phone side ("/admin/...", and a
// web page at "/" and "/admin").
class LocalServer
{
public:
    explicit LocalServer(ServiceState& state);

    // Binds to the host and port (0 picks a free one); returns the port, or -1.
    int bind(const std::string& host, int port);
    // Serves until stop(); runs on the calling thread.
    bool serve();
    void stop();
    bool isRunning() const;

private:
    void setupRoutes();
    void handlePush(const httplib::Request& req, httplib::Response& res);
    // Answers with the injected fault when one applies to the operation; false: answer normally.
    bool sendFault(const QString& operation, httplib::Response& res);
    void handleClickEvent(const httplib::Request& req, httplib::Response& res);

    ServiceState& m_state;
    httplib::Server m_server;
};
