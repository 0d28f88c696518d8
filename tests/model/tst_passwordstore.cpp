// SPDX-License-Identifier: GPL-3.0-or-later
#include "model/PasswordStore.h"

#include "support/PrivateKeyring.h"

#include <QTest>

#include <optional>

using namespace zodaru;
using Failure = PasswordStore::Failure;

namespace {

struct ReadResult {
    Failure failure = Failure::Other;
    QString password;
};

// Each call of the store answers on a later pass of the event loop; these wait for it.
std::optional<bool> probe(PasswordStore &store)
{
    std::optional<bool> answer;
    store.probe(&store, [&](bool running) { answer = running; });
    if (!QTest::qWaitFor([&] { return answer.has_value(); }, 30000))
        return std::nullopt;
    return answer;
}

std::optional<Failure> write(PasswordStore &store, const QString &server, const QString &login, const QString &pw)
{
    std::optional<Failure> answer;
    store.write(server, login, pw, &store, [&](Failure f) { answer = f; });
    (void)QTest::qWaitFor([&] { return answer.has_value(); }, 30000);
    return answer;
}

std::optional<Failure> remove(PasswordStore &store, const QString &server, const QString &login)
{
    std::optional<Failure> answer;
    store.remove(server, login, &store, [&](Failure f) { answer = f; });
    (void)QTest::qWaitFor([&] { return answer.has_value(); }, 30000);
    return answer;
}

std::optional<ReadResult> read(PasswordStore &store, const QString &server, const QString &login)
{
    std::optional<ReadResult> answer;
    store.read(server, login, &store, [&](Failure f, const QString &pw) { answer = ReadResult{f, pw}; });
    (void)QTest::qWaitFor([&] { return answer.has_value(); }, 30000);
    return answer;
}

} // namespace

class TestPasswordStore final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY2(keyring_.startBus(), qPrintable(keyring_.errorText()));
    }

    // No Secret Service on the bus: every call answers NoKeyring, and none starts one.
    void withoutKeyring()
    {
        PasswordStore store;
        QCOMPARE(probe(store), std::optional<bool>(false));
        QCOMPARE(write(store, QStringLiteral("ftp.example"), QStringLiteral("alice"), QStringLiteral("pw")),
                 std::optional<Failure>(Failure::NoKeyring));
        const auto r = read(store, QStringLiteral("ftp.example"), QStringLiteral("alice"));
        QVERIFY(r);
        QCOMPARE(r->failure, Failure::NoKeyring);
        QVERIFY(!PrivateKeyring::keyringRunning());
    }

    void keyring_data()
    {
        QTest::addColumn<QString>("server");
        QTest::addColumn<QString>("login");
        QTest::addColumn<QString>("password");
        QTest::newRow("plain") << "ftp.example" << "alice" << "Xq7-secret";
        QTest::newRow("port and scheme") << "ftpes://[::1]:2121" << "bob" << "p w";
        QTest::newRow("at sign in login") << "ftp.example" << "carol@corp" << QString::fromUtf8("m\xC3\xA9t\xC3\xA9o");
    }

    // A real gnome-keyring-daemon: written passwords read back, per account, until removed.
    void keyring()
    {
        QFETCH(QString, server);
        QFETCH(QString, login);
        QFETCH(QString, password);
        if (!PrivateKeyring::keyringRunning())
            QVERIFY2(keyring_.startKeyring(), qPrintable(keyring_.errorText()));
        PasswordStore store;
        QCOMPARE(probe(store), std::optional<bool>(true));
        QCOMPARE(write(store, server, login, password), std::optional<Failure>(Failure::None));
        QCOMPARE(write(store, server, login + QStringLiteral("2"), QStringLiteral("other")),
                 std::optional<Failure>(Failure::None));
        auto r = read(store, server, login);
        QVERIFY(r);
        QCOMPARE(r->failure, Failure::None);
        QCOMPARE(r->password, password);
        QCOMPARE(remove(store, server, login), std::optional<Failure>(Failure::None));
        r = read(store, server, login);
        QVERIFY(r);
        QCOMPARE(r->failure, Failure::NotFound);
        r = read(store, server, login + QStringLiteral("2"));
        QVERIFY(r);
        QCOMPARE(r->password, QStringLiteral("other"));
    }

    // An answer for a context that is gone is dropped, not delivered to it.
    void answerDroppedWithItsContext()
    {
        PasswordStore store;
        bool called = false;
        {
            QObject context;
            store.probe(&context, [&](bool) { called = true; });
        }
        std::optional<bool> later;
        store.probe(&store, [&](bool running) { later = running; });
        QTRY_VERIFY(later.has_value());
        QVERIFY(!called);
    }

private:
    PrivateKeyring keyring_;
};

QTEST_GUILESS_MAIN(TestPasswordStore)
#include "tst_passwordstore.moc"
