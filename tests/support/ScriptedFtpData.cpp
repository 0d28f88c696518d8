// SPDX-License-Identifier: GPL-3.0-or-later
// ScriptedFtpServer's data connections, and the session's shortcuts that use one.
#include "support/ScriptedFtpServer.h"

#include "support/ScriptedFtpServerParts.h"
#include "support/ScriptedTls.h"

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <limits>
#include <memory>
#include <utility>

namespace zodaru {

using namespace scripted;

// ---- DataConnection ---------------------------------------------------------------------

ScriptedFtpServer::DataConnection::DataConnection(Session *session, int fd, std::unique_ptr<ScriptedTlsStream> tls)
    : m_session(session), m_fd(fd), m_tls(std::move(tls))
{
}

ScriptedFtpServer::DataConnection::DataConnection(DataConnection &&other) noexcept
    : m_session(other.m_session), m_fd(std::exchange(other.m_fd, -1)), m_tls(std::move(other.m_tls))
{
}

ScriptedFtpServer::DataConnection &ScriptedFtpServer::DataConnection::operator=(DataConnection &&other) noexcept
{
    if (this != &other) {
        m_tls.reset();
        closeFd(m_fd);
        m_session = other.m_session;
        m_fd = std::exchange(other.m_fd, -1);
        m_tls = std::move(other.m_tls);
    }
    return *this;
}

ScriptedFtpServer::DataConnection::~DataConnection()
{
    // No close_notify here: sending one may wait, which a destructor must not.
    m_tls.reset();
    closeFd(m_fd);
}

void ScriptedFtpServer::DataConnection::send(QByteArrayView bytes)
{
    if (m_fd < 0)
        throw ScriptError{QStringLiteral("send on a closed data connection")};
    m_session->sendOn(m_fd, m_tls.get(), bytes);
}

QByteArray ScriptedFtpServer::DataConnection::receive(qsizetype count)
{
    QByteArray out;
    char buf[16384];
    while (m_fd >= 0 && out.size() < count) {
        const qsizetype want = std::min<qsizetype>(qsizetype(sizeof buf), count - out.size());
        const qsizetype n = m_session->receiveOn(m_fd, m_tls.get(), buf, want);
        if (n <= 0)
            break;
        out.append(buf, n);
        m_session->m_server->recordData(m_session->m_index, QByteArrayView(buf, n));
    }
    return out;
}

QByteArray ScriptedFtpServer::DataConnection::receiveAll()
{
    return receive(std::numeric_limits<qsizetype>::max());
}

void ScriptedFtpServer::DataConnection::close()
{
    if (m_tls && m_fd >= 0)
        m_tls->closeNotify();
    cut();
}

void ScriptedFtpServer::DataConnection::cut()
{
    m_tls.reset();
    closeFd(m_fd);
}

void ScriptedFtpServer::DataConnection::finishAndWaitForClose()
{
    if (m_tls && m_fd >= 0)
        m_tls->closeNotify();
    if (m_fd >= 0)
        ::shutdown(m_fd, SHUT_WR);
    receiveAll();
}

void ScriptedFtpServer::DataConnection::reset()
{
    m_tls.reset();
    abortiveClose(m_fd);
}

void ScriptedFtpServer::DataConnection::stall()
{
    m_session->waitForStop();
}

void ScriptedFtpServer::Session::sendReply(QByteArrayView preliminary, QByteArrayView bytes,
                                          QByteArrayView completion)
{
    line(preliminary);
    sendData(bytes);
    line(completion);
}

void ScriptedFtpServer::Session::transferAfterEpsv(QByteArrayView type, QByteArrayView command,
                                                  QByteArrayView bytes)
{
    expect("EPSV");
    openPassive();
    line(epsvReply(passivePort()));
    expect("TYPE " + type.toByteArray());
    line("200 Type set");
    expect(command);
    sendReply("150 Here", bytes, "226 Done");
}

void ScriptedFtpServer::Session::sendData(QByteArrayView bytes)
{
    DataConnection data = acceptData();
    data.send(bytes);
    data.close();
}

QByteArray ScriptedFtpServer::Session::receiveData()
{
    DataConnection data = acceptData();
    QByteArray got = data.receiveAll();
    data.close();
    return got;
}

void ScriptedFtpServer::Session::resetData(QByteArrayView sendFirst)
{
    DataConnection data = acceptData();
    data.send(sendFirst);
    data.reset();
}

void ScriptedFtpServer::Session::resetDataAfterReceiving(qsizetype count)
{
    DataConnection data = acceptData();
    data.receive(count);
    data.reset();
}

void ScriptedFtpServer::Session::sendDataThenWaitForClose(QByteArrayView bytes)
{
    DataConnection data = acceptData();
    data.send(bytes);
    data.finishAndWaitForClose();
}

void ScriptedFtpServer::Session::closeDataEarly()
{
    DataConnection data = acceptData();
    data.close();
}

void ScriptedFtpServer::Session::stallData(QByteArrayView sendFirst)
{
    DataConnection data = acceptData();
    data.send(sendFirst);
    data.stall();
}

} // namespace zodaru
