// The local services' push-stream request handling: the query as received, the signature check
// and the operations. The first byte picks the operation; its high bit signs the query correctly,
// so the operations behind the check are reached too.
#include "FuzzSupport.h"

#include "localservices/QuerySignature.h"
#include "localservices/ServiceState.h"

#include <QUrlQuery>

namespace {

ServiceState* g_state = nullptr;

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    FuzzSupport::setUp(argc, argv);
    g_state = new ServiceState(ServiceState::Options());
    QString error;
    g_state->loadAccounts(error);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const char* const operations[] = {
        "login", "checkEnterRoom", "changeLiveStatus", "checkLiveStatus", "mute", "unknown", "", "login/x"};
    if (size == 0)
        return 0;
    const QString operation = QString::fromLatin1(operations[data[0] & 7]);
    const QUrlQuery query(QString::fromUtf8(reinterpret_cast<const char*>(data + 1), int(size - 1)));
    QuerySignature::Items items;
    for (const auto& item : query.queryItems(QUrl::FullyDecoded))
        if (!(data[0] & 0x80) || item.first != QLatin1String("sign"))
            items.append(item);
    if (data[0] & 0x80)
        items.append({QStringLiteral("sign"),
                      QuerySignature::digest(items, QString::fromLatin1(ServiceState::signKey()))});
    const QJsonObject answer = g_state->pushOperation(operation, items);
    if (!answer.value(QStringLiteral("code")).isDouble())
        __builtin_trap();
    if (data[0] & 0x40)
        g_state->adminReset();
    return 0;
}
