#include "localservices/LocalServer.h"

#include "localservices/AdminPage.h"

#include <QJsonDocument>
#include <QUrl>
#include <QUrlQuery>

#include <chrono>
#include <cstdio>
#include <thread>

namespace {

const char* const kJsonType = "application/json; charset=utf-8";

void sendJson(httplib::Response& res, const QJsonObject& body, int status = 200)
{
    res.status = status;
    res.set_content(QJsonDocument(body).toJson(QJsonDocument::Compact).toStdString(), kJsonType);
}

void sendJsonArray(httplib::Response& res, const QJsonArray& body)
{
    res.status = 200;
    res.set_content(QJsonDocument(body).toJson(QJsonDocument::Compact).toStdString(), kJsonType);
}

// Decoded items of a query or form text, in their order; "+" stays "+" as the assistant sends it.
QuerySignature::Items itemsOf(const std::string& text)
{
    QuerySignature::Items items;
    const QUrlQuery query(QString::fromStdString(text));
    for (const auto& item : query.queryItems(QUrl::FullyDecoded))
        items.append(item);
    return items;
}

std::string rawQuery(const httplib::Request& req)
{
    const auto mark = req.target.find('?');
    return mark == std::string::npos ? std::string() : req.target.substr(mark + 1);
}

QJsonArray itemsJson(const QuerySignature::Items& items)
{
    QJsonArray list;
    for (const auto& item : items)
        list.append(QJsonArray{item.first, item.second});
    return list;
}

// An admin parameter from the query, a form body or a JSON object body.
QString param(const httplib::Request& req, const char* name)
{
    if (req.has_param(name))
        return QString::fromStdString(req.get_param_value(name));
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(req.body));
    const QJsonValue v = doc.object().value(QLatin1String(name));
    if (v.isString())
        return v.toString();
    if (v.isBool())
        return v.toBool() ? QStringLiteral("1") : QStringLiteral("0");
    if (v.isDouble())
        return QString::number(v.toDouble(), 'f', 0);
    return QString();
}

bool flag(const QString& text)
{
    return text == QLatin1String("1") || text == QLatin1String("true") || text == QLatin1String("on");
}

} // namespace

LocalServer::LocalServer(ServiceState& state) : m_state(state)
{
    // An idle keep-alive connection holds a worker until this runs out, and stopping waits for the
    // workers: keep it short so that a signal stops the program at once.
    m_server.set_keep_alive_timeout(1);
    // The headers and the body go out in two writes: without this the body waits for the
    // client's delayed acknowledgement, about 40 ms per request.
    m_server.set_tcp_nodelay(true);
    setupRoutes();
}

int LocalServer::bind(const std::string& host, int port)
{
    if (port == 0)
        return m_server.bind_to_any_port(host);
    return m_server.bind_to_port(host, port) ? port : -1;
}

bool LocalServer::serve()
{
    return m_server.listen_after_bind();
}

void LocalServer::stop()
{
    m_server.stop();
}

bool LocalServer::isRunning() const
{
    return m_server.is_running();
}

void LocalServer::setupRoutes()
{
    auto page = [](const httplib::Request&, httplib::Response& res) {
        res.set_content(AdminPage::html(), "text/html; charset=utf-8");
    };
    m_server.Get("/", page);
    m_server.Get("/admin", page);

    m_server.Get("/sdkinit", [this](const httplib::Request&, httplib::Response& res) {
        if (!sendFault(QStringLiteral("sdkinit"), res))
            sendJson(res, m_state.sdkInitReply());
    });

    auto push = [this](const httplib::Request& req, httplib::Response& res) { handlePush(req, res); };
    m_server.Get(R"(/pushStreamHelper/([A-Za-z]+))", push);
    m_server.Post(R"(/pushStreamHelper/([A-Za-z]+))", push);

    // An "ApiLogServer" that ends with a slash gives a path with two slashes: accept both.
    m_server.Post(R"(/+burySite/appClickEvent)", [this](const httplib::Request& req, httplib::Response& res) {
        handleClickEvent(req, res);
    });
    m_server.Get(R"(/+burySite/appClickEvent)", [this](const httplib::Request&, httplib::Response& res) {
        sendJsonArray(res, m_state.clickEvents());
    });

    m_server.Get("/admin/state", [this](const httplib::Request&, httplib::Response& res) {
        sendJson(res, m_state.adminState());
    });
    m_server.Get("/admin/calls", [this](const httplib::Request&, httplib::Response& res) {
        sendJsonArray(res, m_state.calls());
    });
    m_server.Get("/admin/events", [this](const httplib::Request&, httplib::Response& res) {
        sendJsonArray(res, m_state.clickEvents());
    });
    m_server.Post("/admin/room", [this](const httplib::Request& req, httplib::Response& res) {
        sendJson(res, m_state.adminSetRoom(param(req, "userId"), param(req, "roomId")));
    });
    m_server.Post("/admin/mic", [this](const httplib::Request& req, httplib::Response& res) {
        sendJson(res, m_state.adminSetMic(param(req, "userId"), flag(param(req, "on"))));
    });
    m_server.Post("/admin/ban", [this](const httplib::Request& req, httplib::Response& res) {
        sendJson(res, m_state.adminSetBan(param(req, "userId"), flag(param(req, "banned"))));
    });
    m_server.Post("/admin/stream", [this](const httplib::Request& req, httplib::Response& res) {
        sendJson(res, m_state.adminSetStreamUrl(param(req, "userId"), param(req, "url")));
    });
    m_server.Post("/admin/end", [this](const httplib::Request& req, httplib::Response& res) {
        sendJson(res, m_state.adminEndSession(param(req, "userId"), param(req, "code").toInt(),
                                              param(req, "msg")));
    });
    m_server.Post("/admin/fault", [this](const httplib::Request& req, httplib::Response& res) {
        ServiceState::Fault fault;
        fault.mode = param(req, "mode");
        fault.delayMs = param(req, "delayMs").toInt();
        fault.operation = param(req, "operation");
        if (!param(req, "status").isEmpty())
            fault.status = param(req, "status").toInt();
        fault.body = param(req, "body").toUtf8();
        sendJson(res, m_state.adminSetFault(fault));
    });
    m_server.Post("/admin/account", [this](const httplib::Request& req, httplib::Response& res) {
        sendJson(res, m_state.adminAddAccount(param(req, "userId"), param(req, "password")));
    });
    m_server.Post("/admin/reset", [this](const httplib::Request&, httplib::Response& res) {
        sendJson(res, m_state.adminReset());
    });

    // Anything else (unknown path, wrong method) gets a JSON error instead of an empty page.
    m_server.set_error_handler([](const httplib::Request& req, httplib::Response& res) {
        if (!res.body.empty())
            return;
        const int status = res.status;
        sendJson(res,
                 ServiceState::envelope(
                     status, QStringLiteral("%1 %2: no such service here")
                                 .arg(QString::fromStdString(req.method), QString::fromStdString(req.path))),
                 status);
    });
    m_server.set_exception_handler([](const httplib::Request&, httplib::Response& res, std::exception_ptr) {
        sendJson(res, ServiceState::envelope(500, QStringLiteral("internal error")), 500);
    });
    m_server.set_logger([](const httplib::Request& req, const httplib::Response& res) {
        std::printf("%s %s -> %d\n", req.method.c_str(), req.path.c_str(), res.status);
        std::fflush(stdout);
    });
}

void LocalServer::handlePush(const httplib::Request& req, httplib::Response& res)
{
    const QString operation = QString::fromStdString(req.matches[1].str());
    QuerySignature::Items items = itemsOf(rawQuery(req));
    if (req.method == "POST" &&
        req.get_header_value("Content-Type").rfind("application/x-www-form-urlencoded", 0) == 0)
        items += itemsOf(req.body);

    QJsonObject call;
    call.insert(QStringLiteral("method"), QString::fromStdString(req.method));
    call.insert(QStringLiteral("operation"), operation);
    call.insert(QStringLiteral("params"), itemsJson(items));
    call.insert(QStringLiteral("userAgent"), QString::fromStdString(req.get_header_value("User-Agent")));
    call.insert(QStringLiteral("contentType"), QString::fromStdString(req.get_header_value("Content-Type")));
    m_state.recordCall(call);

    if (!sendFault(operation, res))
        sendJson(res, m_state.pushOperation(operation, items));
}

bool LocalServer::sendFault(const QString& operation, httplib::Response& res)
{
    const ServiceState::Fault fault = m_state.fault();
    if (!fault.appliesTo(operation))
        return false;
    // Slept in slices so that stopping does not wait for a long injected delay.
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(fault.delayMs);
    while (std::chrono::steady_clock::now() < until && m_server.is_running())
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (fault.mode == QLatin1String("error500")) {
        sendJson(res, ServiceState::envelope(500, QStringLiteral("injected failure")), 500);
        return true;
    }
    if (fault.mode == QLatin1String("garbage")) {
        res.set_content("<html>this is not the service you are looking for", "text/html");
        return true;
    }
    if (fault.mode == QLatin1String("reply")) {
        res.status = fault.status;
        res.set_content(fault.body.toStdString(), kJsonType);
        return true;
    }
    return false; // slow: the answer itself is the usual one
}

void LocalServer::handleClickEvent(const httplib::Request& req, httplib::Response& res)
{
    QJsonObject event;
    event.insert(QStringLiteral("path"), QString::fromStdString(req.path));
    event.insert(QStringLiteral("contentType"), QString::fromStdString(req.get_header_value("Content-Type")));
    event.insert(QStringLiteral("userAgent"), QString::fromStdString(req.get_header_value("User-Agent")));
    event.insert(QStringLiteral("body"), QString::fromStdString(req.body));
    event.insert(QStringLiteral("params"), itemsJson(itemsOf(req.body)));
    m_state.addClickEvent(event);
    sendJson(res, ServiceState::envelope(1, QStringLiteral("success")));
}
