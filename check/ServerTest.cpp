#include "check/ServerTest.h"

#include "check/NntpText.h"
#include "nzb/LogText.h"
#include "servers/ServerEditorRules.h"

#include <algorithm>

namespace {

using Awaiting = NntpConnection::Awaiting;

// A reply shown in the test's report: one character per byte, no control characters, and
// short enough for a message box, however long a line the server sent.
QString shown(const QByteArray &line)
{
    constexpr qsizetype longest = 200;
    QString text = singleLogLine(QString::fromLatin1(line.left(longest)));
    return line.size() > longest ? text + QStringLiteral("...") : text;
}

QString tlsName(QSsl::SslProtocol protocol)
{
    switch (protocol) {
    case QSsl::TlsV1_2:
        return QStringLiteral("TLS 1.2");
    case QSsl::TlsV1_3:
        return QStringLiteral("TLS 1.3");
    default:
        return QStringLiteral("TLS");
    }
}

const QString kClosed = QStringLiteral("the server closed the connection.");

} // namespace

ServerTest::ServerTest(CheckServer server, bool login, ConnectionOptions options, QObject *parent)
    : QObject(parent)
    , m_server(std::move(server))
    , m_login(login)
    , m_options(std::move(options))
{
    m_bound.setSingleShot(true);
    connect(&m_bound, &QTimer::timeout, this, &ServerTest::timedOut);
}

int ServerTest::boundSeconds() const
{
    const int seconds = std::clamp(m_options.idleTimeoutSeconds, 0, NntpConnection::kLongestIdleTimeout);
    return seconds == 0 ? kBoundWithoutTimeout : seconds;
}

void ServerTest::start()
{
    if (std::exchange(m_started, true))
        return;
    // Even the editor's checks report from the event loop, so the caller may connect to the
    // signals and show its progress first.
    QMetaObject::invokeMethod(this, &ServerTest::begin, Qt::QueuedConnection);
}

void ServerTest::cancel()
{
    m_over = m_cancelled = true;
    m_bound.stop();
    for (const Attempt &attempt : m_attempts) {
        if (attempt.connection)
            attempt.connection->close();
    }
}

// The values the editor asks for, and the port after its rules. The test needs no nickname; a
// password that is asked for when the server wants one counts as given. Control characters are
// tried as a check would try them: the editor refuses them only because Settings.dat cannot hold them.
QString ServerTest::inputProblem()
{
    m_server.address = m_server.address.trimmed();
    if (!m_login)
        m_server.username = m_server.password = QString();
    editor::EditorInput input;
    input.address = input.nickname = m_server.address;
    input.authentication = m_login;
    input.username = m_server.username;
    input.password = m_server.password.isEmpty() && m_server.askPassword ? QStringLiteral("asked") : m_server.password;
    if (QString problem = editor::missingValueProblem(input); !problem.isEmpty())
        return problem;
    if (holdsLineBreakOrNul(m_server.username) || holdsLineBreakOrNul(m_server.password))
        return QStringLiteral("The user name or the password holds a line break.");
    const bool portOnlyAsNumber = m_server.portText.isEmpty() && m_server.port > 0;
    const editor::PortText port = editor::applyPortRules(portOnlyAsNumber ? QString::number(m_server.port) : m_server.portText);
    if (port.tooHigh)
        return editor::kPortTooHigh;
    m_port = port.text.toUShort();
    return {};
}

void ServerTest::begin()
{
    if (m_over)
        return;
    if (const QString problem = inputProblem(); !problem.isEmpty()) {
        add(problem);
        end(false);
        return;
    }
    m_bound.start(std::chrono::seconds(boundSeconds()));
    m_attempts.resize(size_t(std::clamp(m_server.connections, 1, 10)));
    open(0);
}

// The first connection is logged in before the others open, so that it is the server's first
// whatever order the others reach it in, and a limit shows on the others.
void ServerTest::openTheOthers()
{
    for (size_t index = 1; index < m_attempts.size() && !m_over; ++index)
        open(index);
}

void ServerTest::open(size_t index)
{
    ConnectionOptions options = m_options;
    options.tls = m_server.tls;
    options.idleTimeoutSeconds = 0; // the test's own bound covers every connection
    auto *connection = new NntpConnection(this);
    m_attempts[index].connection = connection;
    connect(connection, &NntpConnection::established, this, [this, index] { reached(index); });
    connect(connection, &NntpConnection::replyReceived, this,
            [this, index](const QByteArray &line, NntpConnection::Owed owed) { replied(index, line, owed.reply); });
    connect(connection, &NntpConnection::unexpectedLine, this, [this, index](const QByteArray &line) { ended(index, shown(line)); });
    connect(connection, &NntpConnection::closedByServer, this, [this, index] { ended(index, kClosed); });
    connect(connection, &NntpConnection::failed, this, [this, index](int, const QString &description) { ended(index, description); });
    connection->open(m_server.address, m_port, options);
}

void ServerTest::reached(size_t index)
{
    Attempt &attempt = m_attempts[index];
    if (m_over || std::exchange(attempt.reached, true) || index != 0)
        return;
    if (m_server.tls)
        add(QStringLiteral("Connected to %1 with %2.").arg(where(), tlsName(attempt.connection->tlsProtocol())));
    else
        add(QStringLiteral("Connected to %1.").arg(where()));
}

// The lines about greeting and login are the first connection's; the others only count.
void ServerTest::replied(size_t index, const QByteArray &line, Awaiting owed)
{
    if (m_over)
        return;
    if (owed == Awaiting::StatReply)
        return statAnswered(line);
    Attempt &attempt = m_attempts[index];
    const bool first = index == 0;
    if (owed == Awaiting::Greeting) {
        attempt.greeted = true;
        if (first)
            add(QStringLiteral("Greeting: ") + shown(line));
    }
    const auto password = [this] { return m_server.passwordWhenAsked(); };
    switch (attempt.connection->takeLoginReply(owed, line.left(4), m_server.username, password)) {
    case NntpConnection::LoginStep::Waiting:
        return;
    case NntpConnection::LoginStep::Done:
        attempt.state = State::Ready;
        if (!first)
            return countWhenAllAnswered();
        add(m_login ? QStringLiteral("Login accepted.") : QStringLiteral("No login."));
        openTheOthers();
        return countWhenAllAnswered();
    case NntpConnection::LoginStep::NotTaken:
        if (first && owed != Awaiting::Greeting)
            add(QStringLiteral("Login refused: ") + shown(line));
        return refuse(index, shown(line));
    }
}

// A connection ends by the server's close, a failure or a line it was not owed.
void ServerTest::ended(size_t index, const QString &reason)
{
    if (m_over)
        return;
    Attempt &attempt = m_attempts[index];
    if (m_counted) {
        // Only the connection that asked STAT is still awaited.
        if (index == 0) {
            add(QStringLiteral("STAT got no reply: ") + reason);
            end(false);
        }
        return;
    }
    if (index == 0 && !attempt.reached)
        add(QStringLiteral("Could not connect to %1: %2").arg(where(), reason));
    else if (index == 0 && !attempt.greeted)
        add(QStringLiteral("No greeting: ") + reason);
    else if (index == 0 && attempt.state == State::Opening)
        add(QStringLiteral("Login refused: ") + reason);
    else if (index == 0)
        add(QStringLiteral("Connection 1 ended: ") + reason);
    refuse(index, reason);
}

// The first connection refused ends the test: the others could only say the same. Another is
// counted once all have answered.
void ServerTest::refuse(size_t index, const QString &reason)
{
    Attempt &attempt = m_attempts[index];
    attempt.state = State::Refused;
    attempt.refusal = reason;
    attempt.connection->quitAndClose();
    if (index == 0)
        end(false);
    else
        countWhenAllAnswered();
}

void ServerTest::countWhenAllAnswered()
{
    const auto opening = [](const Attempt &attempt) { return attempt.state == State::Opening; };
    if (m_over || m_counted || std::any_of(m_attempts.begin(), m_attempts.end(), opening))
        return;
    m_counted = true;
    const auto ready = [](const Attempt &attempt) { return attempt.state == State::Ready; };
    const auto accepted = std::count_if(m_attempts.begin(), m_attempts.end(), ready);
    add(QStringLiteral("%1 of %2 connections accepted.").arg(accepted).arg(m_attempts.size()));
    m_allAccepted = size_t(accepted) == m_attempts.size();
    if (!m_allAccepted) {
        const auto refused = std::find_if_not(m_attempts.begin(), m_attempts.end(), ready);
        add(QStringLiteral("Connection %1 was refused: %2").arg(accepted + 1).arg(refused->refusal));
    }
    // The first connection is ready, or the test would have ended with it.
    m_attempts.front().connection->send(kStatCommand, {Awaiting::StatReply, 0});
}

void ServerTest::statAnswered(const QByteArray &line)
{
    const QByteArray code = line.left(4);
    const bool answered = code == "223 " || code == "430 ";
    if (answered)
        add(QStringLiteral("STAT is answered."));
    else if (code == "500 ")
        add(QStringLiteral("STAT is not supported; the check will ask with HEAD."));
    else
        add(QStringLiteral("STAT got: ") + shown(line));
    end(answered && m_allAccepted);
}

void ServerTest::timedOut()
{
    if (m_over)
        return;
    const int seconds = boundSeconds();
    const QString within = QStringLiteral("within %1 %2.").arg(seconds).arg(seconds == 1 ? QLatin1String("second") : QLatin1String("seconds"));
    if (!m_attempts.empty() && !m_attempts.front().reached)
        add(QStringLiteral("Could not connect to %1: no answer %2").arg(where(), within));
    else
        add(QStringLiteral("No answer ") + within);
    end(false);
}

void ServerTest::add(const QString &line)
{
    m_lines << line;
    Q_EMIT lineAdded(line);
}

// Says QUIT on each connection still open. The end is reported from the event loop, so that
// the caller may delete the test then, with no connection's signal still being handled.
void ServerTest::end(bool allWorked)
{
    m_over = true;
    m_allWorked = allWorked;
    m_bound.stop();
    for (const Attempt &attempt : m_attempts) {
        if (attempt.connection)
            attempt.connection->quitAndClose();
    }
    QMetaObject::invokeMethod(this, [this] {
        if (!m_cancelled)
            Q_EMIT finished(m_allWorked);
    }, Qt::QueuedConnection);
}

QString ServerTest::where() const
{
    const QString address = singleLogLine(m_server.address); // from Settings.dat or a command line, as it is
    const QString host = address.contains(u':') ? u'[' + address + u']' : address;
    return host + u':' + QString::number(m_port);
}
