// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/ScriptedFtpServer.h"

#include "support/ScriptedFtpServerParts.h"
#include "support/ScriptedTls.h"

#include <arpa/inet.h>
#include <csignal>
#include <pthread.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <exception>
#include <memory>
#include <stdexcept>
#include <thread>
#include <utility>

namespace zodaru {

namespace scripted {

QString errnoText(const char *what)
{
    return QStringLiteral("%1: %2").arg(QString::fromUtf8(what), QString::fromUtf8(std::strerror(errno)));
}

void closeFd(int &fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

void abortiveClose(int &fd)
{
    if (fd < 0)
        return;
    linger lg{};
    lg.l_onoff = 1;
    lg.l_linger = 0;
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &lg, sizeof lg);
    closeFd(fd);
}

} // namespace scripted

using namespace scripted;

namespace {

// Listening socket on 127.0.0.1 with an OS-chosen port; non-blocking, so that an accept()
// after poll() never blocks when the client gave up in between.
int listenLoopback(quint16 &port, int backlog)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        throw ScriptError{errnoText("socket")};
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    socklen_t len = sizeof addr;
    if (::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 || ::listen(fd, backlog) != 0
        || ::getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len) != 0) {
        const QString error = errnoText("bind/listen");
        ::close(fd);
        throw ScriptError{error};
    }
    port = ntohs(addr.sin_port);
    return fd;
}

} // namespace

// ---- Session ----------------------------------------------------------------------------

ScriptedFtpServer::Session::Session(ScriptedFtpServer *server, int index, int fd)
    : m_server(server), m_index(index), m_fd(fd)
{
}

ScriptedFtpServer::Session::~Session()
{
    closeListener();
    closeFd(m_fd);
}

void ScriptedFtpServer::Session::waitFor(int fd, bool forWrite)
{
    pollfd fds[2] = {{fd, short(forWrite ? POLLOUT : POLLIN), 0}, {m_server->m_wakeRead, POLLIN, 0}};
    for (;;) {
        const int n = ::poll(fds, 2, -1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            throw ScriptError{errnoText("poll")};
        if (fds[1].revents)
            throw Stopped{};
        if (fds[0].revents)
            return;
    }
}

[[noreturn]] void ScriptedFtpServer::Session::waitForStop()
{
    pollfd wake{m_server->m_wakeRead, POLLIN, 0};
    while (::poll(&wake, 1, -1) <= 0 || !wake.revents) {
    }
    throw Stopped{};
}

void ScriptedFtpServer::Session::sendOn(int fd, ScriptedTlsStream *tls, QByteArrayView bytes)
{
    if (tls) {
        try {
            tls->write(bytes);
        } catch (const std::runtime_error &e) {
            throw ScriptError{QString::fromUtf8(e.what())};
        }
        return;
    }
    qsizetype done = 0;
    while (done < bytes.size()) {
        waitFor(fd, true);
        const ssize_t n = ::send(fd, bytes.data() + done, size_t(bytes.size() - done), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            continue;
        if (n < 0)
            throw ScriptError{errnoText("send")};
        done += n;
    }
}

qsizetype ScriptedFtpServer::Session::receiveOn(int fd, ScriptedTlsStream *tls, char *buffer, qsizetype size)
{
    if (tls)
        return tls->read(buffer, size);
    for (;;) {
        waitFor(fd, false);
        const ssize_t n = ::recv(fd, buffer, size_t(size), MSG_DONTWAIT);
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            continue;
        return n;
    }
}

void ScriptedFtpServer::Session::startTls()
{
    if (m_fd < 0)
        throw ScriptError{QStringLiteral("TLS on a closed control connection")};
    const int fd = m_fd;
    m_controlTls = std::make_unique<ScriptedTlsStream>(fd, [this, fd](bool forWrite) { waitFor(fd, forWrite); });
    try {
        m_controlTls->accept();
    } catch (const std::runtime_error &e) {
        throw ScriptError{QString::fromUtf8(e.what())};
    }
}

bool ScriptedFtpServer::Session::fillControl()
{
    if (m_fd < 0)
        return false;
    char buf[4096];
    const qsizetype n = receiveOn(m_fd, m_controlTls.get(), buf, sizeof buf);
    if (n <= 0)
        return false;
    m_pending.append(buf, n);
    m_server->recordControl(m_index, QByteArrayView(buf, n));
    return true;
}

void ScriptedFtpServer::Session::send(QByteArrayView raw)
{
    if (m_fd < 0)
        throw ScriptError{QStringLiteral("send after the control connection was reset")};
    if (m_replyDelayMs > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(m_replyDelayMs));
    sendOn(m_fd, m_controlTls.get(), raw);
}

void ScriptedFtpServer::Session::line(QByteArrayView text)
{
    QByteArray bytes = text.toByteArray();
    bytes.append("\r\n");
    send(bytes);
}

bool ScriptedFtpServer::Session::takeLine(QByteArray &out)
{
    const qsizetype end = m_pending.indexOf("\r\n");
    if (end < 0)
        return false;
    out = m_pending.left(end);
    m_pending.remove(0, end + 2);
    if (out.toUpper().startsWith("CWD "))
        m_cwd = out.mid(4);
    return true;
}

QByteArray ScriptedFtpServer::Session::readLine()
{
    for (;;) {
        QByteArray out;
        if (takeLine(out))
            return out;
        if (!fillControl())
            throw ScriptError{QStringLiteral("end of stream while waiting for a line (pending: \"%1\")")
                                  .arg(QString::fromLatin1(m_pending))};
    }
}

bool ScriptedFtpServer::Session::readLineOrEof(QByteArray &out)
{
    while (!takeLine(out)) {
        if (!fillControl())
            return false;
    }
    return true;
}

QByteArray ScriptedFtpServer::Session::expect(QByteArrayView prefix)
{
    QByteArray got = readLine();
    // The feature exchange after login is answered here unless the script waits for it.
    while (!prefix.startsWith("FEAT") && !prefix.startsWith("OPTS") && (got == "FEAT" || got.startsWith("OPTS UTF8"))) {
        if (got == "FEAT" && !m_features.isEmpty())
            send("211-Features:\r\n " + m_features.join("\r\n ") + "\r\n211 End\r\n");
        else
            line(got == "FEAT" ? "502 No features" : "200 Always in UTF8 mode");
        got = readLine();
    }
    if (!got.startsWith(prefix))
        throw ScriptError{QStringLiteral("expected a line starting with \"%1\", got \"%2\"")
                              .arg(QString::fromLatin1(prefix.toByteArray()), QString::fromLatin1(got))};
    return got;
}

void ScriptedFtpServer::Session::skipLines(int count)
{
    for (int i = 0; i < count; ++i)
        readLine();
}

bool ScriptedFtpServer::Session::waitForEof()
{
    while (fillControl()) {
    }
    return true;
}

void ScriptedFtpServer::Session::greetAndLogin()
{
    line("220 Scripted server ready");
    expect("USER ");
    line("331 Password required");
    expect("PASS ");
    line("230 Logged in");
}

void ScriptedFtpServer::Session::answerRest()
{
    for (;;) {
        QByteArray got;
        if (!readLineOrEof(got))
            return;
        if (got.toUpper().startsWith("QUIT")) {
            line("221 Bye");
            closeControl();
            return;
        }
        line("200 OK");
    }
}

void ScriptedFtpServer::Session::mark(QByteArrayView name)
{
    {
        std::lock_guard lock(m_server->m_mutex);
        m_server->m_records[size_t(m_index)].marks.append(name.toByteArray());
    }
    m_server->m_changed.notify_all();
}

void ScriptedFtpServer::Session::awaitRelease(QByteArrayView name)
{
    for (;;) {
        {
            std::unique_lock lock(m_server->m_mutex);
            if (m_server->m_changed.wait_for(lock, std::chrono::milliseconds(20),
                                             [&] { return m_server->m_released.contains(name); }))
                return;
        }
        // The server stops meanwhile: the script ends.
        pollfd wake{m_server->m_wakeRead, POLLIN, 0};
        if (::poll(&wake, 1, 0) > 0 && wake.revents)
            throw Stopped{};
    }
}

void ScriptedFtpServer::Session::closeControl()
{
    // Half-close: the client reads what was sent, then end of stream; whatever it still
    // writes is recorded rather than answered with an RST.
    if (m_fd >= 0)
        ::shutdown(m_fd, SHUT_WR);
}

void ScriptedFtpServer::Session::resetControl()
{
    m_controlTls.reset();
    abortiveClose(m_fd);
}

void ScriptedFtpServer::Session::stall()
{
    while (fillControl()) {
    }
    waitForStop();
}

void ScriptedFtpServer::Session::closeListener()
{
    closeFd(m_listenFd);
}

QByteArray ScriptedFtpServer::Session::openPassive()
{
    closeListener();
    m_listenFd = listenLoopback(m_passivePort, 1);
    return QByteArrayLiteral("227 Entering Passive Mode (127,0,0,1,") + QByteArray::number(m_passivePort / 256)
        + ',' + QByteArray::number(m_passivePort % 256) + ").";
}

ScriptedFtpServer::DataConnection ScriptedFtpServer::Session::acceptData()
{
    if (m_listenFd < 0)
        throw ScriptError{QStringLiteral("acceptData() without openPassive()")};
    for (;;) {
        waitFor(m_listenFd, false);
        const int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0 && (errno == EAGAIN || errno == EINTR || errno == ECONNABORTED))
            continue;
        if (fd < 0)
            throw ScriptError{errnoText("accept")};
        // One data connection per PASV, as real servers do: a second connect is refused.
        closeListener();
        {
            std::lock_guard lock(m_server->m_mutex);
            ++m_server->m_records[size_t(m_index)].dataConnections;
        }
        m_server->m_changed.notify_all();
        std::unique_ptr<ScriptedTlsStream> tls;
        if (m_protectData) {
            tls = std::make_unique<ScriptedTlsStream>(fd, [this, fd](bool forWrite) { waitFor(fd, forWrite); });
            try {
                tls->accept();
            } catch (const std::runtime_error &e) {
                int closing = fd;
                closeFd(closing);
                throw ScriptError{QString::fromUtf8(e.what())};
            }
        }
        return DataConnection(this, fd, std::move(tls));
    }
}

// ---- ScriptedFtpServer -------------------------------------------------------------------

ScriptedFtpServer::ScriptedFtpServer(Script script)
    : m_script(std::move(script))
{
    int wake[2];
    if (::pipe2(wake, O_CLOEXEC) != 0)
        qFatal("ScriptedFtpServer: pipe2 failed: %s", std::strerror(errno));
    m_wakeRead = wake[0];
    m_wakeWrite = wake[1];
    try {
        m_listenFd = listenLoopback(m_port, 16);
    } catch (const ScriptError &e) {
        qFatal("ScriptedFtpServer: %s", qPrintable(e.what));
    }
    m_acceptThread = std::thread([this] { acceptLoop(); });
}

ScriptedFtpServer::~ScriptedFtpServer()
{
    // The pipe stays readable from now on, so every poll() of every thread returns.
    const char byte = 0;
    while (::write(m_wakeWrite, &byte, 1) < 0 && errno == EINTR) {
    }
    m_acceptThread.join();
    for (std::thread &t : m_sessionThreads)
        t.join();
    closeFd(m_listenFd);
    closeFd(m_wakeRead);
    closeFd(m_wakeWrite);
}

QString ScriptedFtpServer::address() const
{
    return QStringLiteral("ftp://127.0.0.1:%1").arg(m_port);
}

void ScriptedFtpServer::acceptLoop()
{
    pollfd fds[2] = {{m_listenFd, POLLIN, 0}, {m_wakeRead, POLLIN, 0}};
    for (;;) {
        const int n = ::poll(fds, 2, -1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 || fds[1].revents)
            return;
        const int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        int index;
        {
            std::lock_guard lock(m_mutex);
            index = int(m_records.size());
            m_records.emplace_back();
        }
        m_changed.notify_all();
        m_sessionThreads.emplace_back([this, index, fd] { runSession(index, fd); });
    }
}

void ScriptedFtpServer::runSession(int index, int fd)
{
    // OpenSSL writes with write(), which raises SIGPIPE towards a peer that has gone: on this
    // thread it stays blocked, so such a write only fails.
    sigset_t pipe;
    sigemptyset(&pipe);
    sigaddset(&pipe, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
    Session session(this, index, fd);
    bool stopped = false;
    try {
        if (m_script)
            m_script(session);
    } catch (const Stopped &) {
        stopped = true;
    } catch (const ScriptError &e) {
        recordFailure(index, e.what);
    } catch (const std::exception &e) {
        recordFailure(index, QString::fromUtf8(e.what()));
    } catch (...) {
        recordFailure(index, QStringLiteral("unknown exception"));
    }
    session.closeListener();
    session.closeControl();
    {
        std::lock_guard lock(m_mutex);
        m_records[size_t(index)].finished = true;
    }
    m_changed.notify_all();
    if (stopped)
        return;
    // The client sees end of stream; keep recording whatever it still sends (a QUIT, say)
    // until it closes or the server stops, so that it never meets an RST.
    try {
        session.waitForEof();
    } catch (...) {
    }
}

void ScriptedFtpServer::recordControl(int index, QByteArrayView bytes)
{
    {
        std::lock_guard lock(m_mutex);
        m_records[size_t(index)].control.append(bytes);
    }
    m_changed.notify_all();
}

void ScriptedFtpServer::recordData(int index, QByteArrayView bytes)
{
    {
        std::lock_guard lock(m_mutex);
        m_records[size_t(index)].data.append(bytes);
    }
    m_changed.notify_all();
}

void ScriptedFtpServer::recordFailure(int index, const QString &what)
{
    {
        std::lock_guard lock(m_mutex);
        m_failures.append(QStringLiteral("connection %1: %2").arg(index).arg(what));
    }
    m_changed.notify_all();
}

template <typename Pred>
bool ScriptedFtpServer::waitUntil(int timeoutMs, Pred pred) const
{
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), pred);
}

int ScriptedFtpServer::connectionCount() const
{
    std::lock_guard lock(m_mutex);
    return int(m_records.size());
}

bool ScriptedFtpServer::waitForConnections(int count, int timeoutMs) const
{
    return waitUntil(timeoutMs, [&] { return int(m_records.size()) >= count; });
}

QByteArray ScriptedFtpServer::received(int conn) const
{
    std::lock_guard lock(m_mutex);
    return conn >= 0 && size_t(conn) < m_records.size() ? m_records[size_t(conn)].control : QByteArray();
}

bool ScriptedFtpServer::waitForReceived(int conn, QByteArrayView needle, int timeoutMs) const
{
    return waitUntil(timeoutMs, [&] {
        return conn >= 0 && size_t(conn) < m_records.size() && m_records[size_t(conn)].control.contains(needle);
    });
}

bool ScriptedFtpServer::waitForLines(int conn, int lines, int timeoutMs) const
{
    return waitUntil(timeoutMs, [&] {
        return conn >= 0 && size_t(conn) < m_records.size() && m_records[size_t(conn)].control.count("\r\n") >= lines;
    });
}

QByteArray ScriptedFtpServer::dataReceived(int conn) const
{
    std::lock_guard lock(m_mutex);
    return conn >= 0 && size_t(conn) < m_records.size() ? m_records[size_t(conn)].data : QByteArray();
}

int ScriptedFtpServer::dataConnectionCount(int conn) const
{
    std::lock_guard lock(m_mutex);
    return conn >= 0 && size_t(conn) < m_records.size() ? m_records[size_t(conn)].dataConnections : 0;
}

bool ScriptedFtpServer::waitForDataConnections(int conn, int count, int timeoutMs) const
{
    return waitUntil(timeoutMs, [&] {
        return conn >= 0 && size_t(conn) < m_records.size() && m_records[size_t(conn)].dataConnections >= count;
    });
}

bool ScriptedFtpServer::waitForFinished(int conn, int timeoutMs) const
{
    return waitUntil(timeoutMs, [&] {
        return conn >= 0 && size_t(conn) < m_records.size() && m_records[size_t(conn)].finished;
    });
}

void ScriptedFtpServer::release(QByteArrayView name)
{
    {
        std::lock_guard lock(m_mutex);
        m_released.append(name.toByteArray());
    }
    m_changed.notify_all();
}

bool ScriptedFtpServer::waitForMark(int conn, QByteArrayView name, int timeoutMs) const
{
    return waitUntil(timeoutMs, [&] {
        return conn >= 0 && size_t(conn) < m_records.size() && m_records[size_t(conn)].marks.contains(name);
    });
}

QStringList ScriptedFtpServer::failures() const
{
    std::lock_guard lock(m_mutex);
    return m_failures;
}

} // namespace zodaru
