// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/RealFtpServer.h"

#include "support/TestSupport.h"

#include <QDeadlineTimer>
#include <QDir>

namespace zodaru {

namespace {
// Long enough for a cold python start on a loaded two-core machine; only reached when
// the server cannot start at all.
constexpr int StartTimeoutMs = 30000;
} // namespace

RealFtpServer::RealFtpServer() = default;

RealFtpServer::~RealFtpServer()
{
    stop();
}

bool RealFtpServer::start(const Options &options)
{
    stop();
    m_error.clear();
    if (!m_root.isValid() || !m_logDir.isValid()) {
        m_error = QStringLiteral("cannot create the temporary directories");
        return false;
    }
    // The launcher the demo and the tools use too.
    QStringList args{QStringLiteral(ZODARU_TEST_SUPPORT_DIR "/../../tools/ftp-server.py"),
                     QStringLiteral("--exit-with-stdin"),
                     QStringLiteral("--name"), QStringLiteral("zodaru test server"),
                     QStringLiteral("--root"), m_root.path(),
                     QStringLiteral("--log"), m_logDir.filePath(QStringLiteral("server.log"))};
    if (options.readerAccount)
        args << QStringLiteral("--reader");
    if (!options.anonymous)
        args << QStringLiteral("--no-anonymous");
    if (options.tls != Options::Tls::None) {
        args << QStringLiteral("--tls")
             << (options.tls == Options::Tls::Explicit ? QStringLiteral("explicit") : QStringLiteral("implicit"))
             << QStringLiteral("--cert") << certificatePath();
    }
    if (options.requireSessionReuse)
        args << QStringLiteral("--require-reuse");
    if (options.cutTlsData)
        args << QStringLiteral("--cut-tls-data");
    if (options.otherDataCertificate)
        args << QStringLiteral("--other-data-cert");
    if (options.refuseProt)
        args << QStringLiteral("--refuse-prot");
    if (options.maxConnections > 0)
        args << QStringLiteral("--max-connections") << QString::number(options.maxConnections);
    if (options.dropFirstSessionSeconds > 0)
        args << QStringLiteral("--drop-first-session") << QString::number(options.dropFirstSessionSeconds);
    if (options.throttle > 0)
        args << QStringLiteral("--throttle") << QString::number(options.throttle);
    m_ipv6 = options.ipv6;
    m_tls = options.tls;
    if (m_ipv6)
        args << QStringLiteral("--host") << QStringLiteral("::1");

    // The first python3 on PATH may lack pyftpdlib; the system one has it.
    m_process.setProgram(QStringLiteral("/usr/bin/python3"));
    m_process.setArguments(args);
    m_process.setProcessChannelMode(QProcess::SeparateChannels);
    m_process.start();
    if (!m_process.waitForStarted(StartTimeoutMs)) {
        m_error = QStringLiteral("cannot run /usr/bin/python3: ") + m_process.errorString();
        return false;
    }

    QByteArray out;
    const QDeadlineTimer deadline(StartTimeoutMs);
    while (!out.contains('\n') && m_process.state() == QProcess::Running && !deadline.hasExpired()) {
        m_process.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())));
        out += m_process.readAllStandardOutput();
    }
    bool ok = false;
    const uint port = out.trimmed().toUInt(&ok);
    if (!ok || port == 0 || port > 65535) {
        m_error = QStringLiteral("the server did not report its port (stdout \"%1\", stderr \"%2\")")
                      .arg(QString::fromUtf8(out), QString::fromUtf8(m_process.readAllStandardError()));
        stop();
        return false;
    }
    m_port = quint16(port);
    return true;
}

void RealFtpServer::stop()
{
    m_port = 0;
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(10000)) {
        m_process.kill();
        m_process.waitForFinished(10000);
    }
}

QString RealFtpServer::address() const
{
    static const QString schemes[] = {QStringLiteral("ftp://"), QStringLiteral("ftpes://"), QStringLiteral("ftps://")};
    return schemes[int(m_tls)] + hostAndPort();
}

QString RealFtpServer::hostAndPort() const
{
    return (m_ipv6 ? QStringLiteral("[::1]:%1") : QStringLiteral("127.0.0.1:%1")).arg(m_port);
}

QString RealFtpServer::localPath(const QString &relative) const
{
    return QDir(m_root.path()).filePath(relative);
}

QString RealFtpServer::certificatePath() const
{
    return m_logDir.filePath(QStringLiteral("server.pem"));
}

QByteArray RealFtpServer::serverLog() const
{
    return zodaru::readFile(m_logDir.filePath(QStringLiteral("server.log")));
}

bool RealFtpServer::writeFile(const QString &relative, const QByteArray &content) const
{
    return zodaru::writeFile(localPath(relative), content);
}

QByteArray RealFtpServer::readFile(const QString &relative) const
{
    return zodaru::readFile(localPath(relative));
}

} // namespace zodaru
