#include "NzbgetRpc.h"

#include <QEventLoop>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QUrl>

namespace {

// NZBGet answers on loopback within milliseconds; one that is busy still answers in seconds.
constexpr int kAnswerTimeoutMs = 15000;

} // namespace

NzbgetRpc::NzbgetRpc(const NzbgetControl &control)
    : m_control(control)
{
    m_manager.setProxy(QNetworkProxy::NoProxy); // a proxy of the environment has no business with loopback
}

QString NzbgetRpc::address() const
{
    return (m_control.host.contains(u':') ? u'[' + m_control.host + u']' : m_control.host) + u':' + QString::number(m_control.port);
}

std::variant<QJsonValue, QString> NzbgetRpc::call(const QString &method, const QJsonArray &parameters)
{
    QUrl url;
    url.setScheme(QStringLiteral("http"));
    url.setHost(m_control.host);
    url.setPort(m_control.port);
    url.setPath(QStringLiteral("/jsonrpc"));
    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    request.setRawHeader("Authorization", "Basic " + (m_control.username + u':' + m_control.password).toUtf8().toBase64());
    request.setTransferTimeout(kAnswerTimeoutMs);
    const QJsonObject body{{QStringLiteral("method"), method}, {QStringLiteral("params"), parameters}};
    QNetworkReply *reply = m_manager.post(request, QJsonDocument(body).toJson(QJsonDocument::Compact));
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    loop.exec();
    reply->deleteLater();
    if (reply->error() != QNetworkReply::NoError)
        return reply->errorString();
    const QJsonObject answer = QJsonDocument::fromJson(reply->readAll()).object();
    if (!answer.contains(QStringLiteral("result")))
        return QStringLiteral("NZBGet answered no result: ")
               + answer.value(QStringLiteral("error")).toObject().value(QStringLiteral("message")).toString();
    return answer.value(QStringLiteral("result"));
}
