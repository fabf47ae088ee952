#pragma once

#include "NzbgetEnvironment.h"

#include <QJsonArray>
#include <QJsonValue>
#include <QNetworkAccessManager>

#include <variant>

// NZBGet's JSON-RPC on its control address: HTTP POST to /jsonrpc with Basic authentication.
class NzbgetRpc
{
public:
    explicit NzbgetRpc(const NzbgetControl &control);

    // The call's result, or why there is none: no answer in time, an HTTP status, NZBGet's error.
    std::variant<QJsonValue, QString> call(const QString &method, const QJsonArray &parameters);
    // HOST:PORT, as the warnings name it.
    QString address() const;

private:
    NzbgetControl m_control;
    QNetworkAccessManager m_manager;
};
