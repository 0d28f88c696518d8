// SPDX-License-Identifier: GPL-3.0-or-later
// What the window says about a session's protection: the question about a certificate that
// did not verify, and the encryption indicator of the status bar.
#include "ui/CertificateDialog.h"
#include "ui/ClearPasswordDialog.h"
#include "ui/MainWindow.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTest>
#include <QTranslator>

using namespace zodaru;

namespace {

// Every text the dialog shows, so that a test need not know its layout.
QString shownText(const QWidget &dialog)
{
    QStringList texts;
    for (const QLabel *label : dialog.findChildren<QLabel *>())
        if (label->isVisibleTo(&dialog))
            texts << label->text();
    return texts.join(QLatin1Char('\n'));
}

TlsPeer peerValid(qint64 fromDays, qint64 toDays, const QString &error)
{
    const QDateTime now = QDateTime::currentDateTimeUtc();
    TlsPeer peer;
    peer.certificate.subject = QStringLiteral("CN=files.example, O=Files");
    peer.certificate.issuer = QStringLiteral("CN=Files Own CA");
    peer.certificate.notBefore = now.addDays(fromDays);
    peer.certificate.notAfter = now.addDays(toDays);
    peer.certificate.sha256 = QByteArray(32, '\xab');
    peer.verifyError = error;
    return peer;
}

} // namespace

class TestSecurity final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void dialogShowsTheCertificate_data()
    {
        QTest::addColumn<bool>("changed");
        QTest::addColumn<qint64>("fromDays");
        QTest::addColumn<qint64>("toDays");
        QTest::addColumn<QString>("error");
        QTest::addColumn<QString>("validity"); // what the validity line ends with
        QTest::newRow("self-signed, valid") << false << qint64(-10) << qint64(300)
                                            << "self-signed certificate" << "UTC";
        QTest::newRow("expired") << false << qint64(-400) << qint64(-35) << "certificate has expired"
                                 << "(expired)";
        QTest::newRow("not yet valid") << false << qint64(3) << qint64(300) << "" << "(not yet valid)";
        QTest::newRow("changed since trusted") << true << qint64(-1) << qint64(90)
                                               << "self-signed certificate" << "UTC";
    }
    void dialogShowsTheCertificate()
    {
        QFETCH(bool, changed);
        QFETCH(qint64, fromDays);
        QFETCH(qint64, toDays);
        QFETCH(QString, error);
        QFETCH(QString, validity);
        const TlsPeer peer = peerValid(fromDays, toDays, error);
        CertificateDialog dialog(QStringLiteral("[::1]:2121"), peer, changed);
        dialog.open();

        const QString text = shownText(dialog);
        for (const QString &part : {QStringLiteral("[::1]:2121"), peer.certificate.subject, peer.certificate.issuer,
                                    peer.certificate.fingerprintText(),
                                    peer.certificate.notBefore.toString(QStringLiteral("yyyy-MM-dd")),
                                    peer.certificate.notAfter.toString(QStringLiteral("yyyy-MM-dd"))})
            QVERIFY2(text.contains(part), qPrintable(part + QStringLiteral(" not in:\n") + text));
        QVERIFY(text.contains(error.isEmpty() ? QStringLiteral("not trusted") : error));
        QVERIFY(CertificateDialog::validityText(peer.certificate, QDateTime::currentDateTimeUtc()).endsWith(validity));
        QCOMPARE(dialog.warning()->isVisibleTo(&dialog), changed);
        if (changed)
            QVERIFY(dialog.warning()->text().contains(QStringLiteral("not the one you trusted before")));
        // The fingerprint trusted before stands beside the new one.
        const QByteArray before(32, '\x5c');
        CertificateInfo trusted;
        trusted.sha256 = before;
        const QString beforeText = trusted.fingerprintText();
        QCOMPARE(shownText(CertificateDialog(QStringLiteral("h:21"), peer, changed, nullptr, before)).contains(beforeText),
                 changed);
        // Return must not trust a certificate by accident.
        QVERIFY(dialog.cancelButton()->isDefault());
    }

    // Each way out gives one answer, and closing the dialog is no trust; neither is Return,
    // whichever button has the focus.
    void dialogAnswersOnce_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<bool>("changed");
        QTest::addColumn<int>("choice");
        using Choice = CertificateDialog::Choice;
        QTest::newRow("cancel") << "cancel" << false << int(Choice::Cancel);
        QTest::newRow("escape") << "escape" << false << int(Choice::Cancel);
        QTest::newRow("window closed") << "close" << false << int(Choice::Cancel);
        QTest::newRow("trust once") << "once" << false << int(Choice::TrustOnce);
        QTest::newRow("always") << "always" << false << int(Choice::TrustAlways);
        QTest::newRow("return") << "return" << false << int(Choice::Cancel);
        QTest::newRow("return, changed") << "return" << true << int(Choice::Cancel);
        QTest::newRow("escape, changed") << "escape" << true << int(Choice::Cancel);
        QTest::newRow("return on trust once") << "tab return" << true << int(Choice::Cancel);
    }
    void dialogAnswersOnce()
    {
        QFETCH(QString, action);
        QFETCH(bool, changed);
        QFETCH(int, choice);
        CertificateDialog dialog(QStringLiteral("127.0.0.1:21"), peerValid(-1, 1, QString()), changed);
        QSignalSpy chosen(&dialog, &CertificateDialog::chosen);
        dialog.open();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        if (action == "tab return") {
            dialog.trustOnceButton()->setFocus();
            QTest::keyClick(dialog.trustOnceButton(), Qt::Key_Return);
        } else if (action == "return") {
            QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : &dialog, Qt::Key_Return);
        } else if (action == "cancel")
            dialog.cancelButton()->click();
        else if (action == "escape")
            QTest::keyClick(&dialog, Qt::Key_Escape);
        else if (action == "close")
            dialog.close();
        else
            (action == "once" ? dialog.trustOnceButton() : dialog.trustAlwaysButton())->click();
        QCoreApplication::processEvents();
        QCOMPARE(chosen.size(), 1);
        QCOMPARE(int(chosen.at(0).at(0).value<CertificateDialog::Choice>()), choice);
        QVERIFY(!dialog.isVisible());
    }

    void indicatorSaysHowTheSessionIsProtected_data()
    {
        QTest::addColumn<int>("security");
        QTest::addColumn<QString>("detail");
        QTest::addColumn<QString>("shown"); // empty: hidden
        QTest::newRow("no session") << int(MainWindow::Security::NoSession) << "" << "";
        QTest::newRow("clear") << int(MainWindow::Security::Clear) << "" << "Not encrypted";
        QTest::newRow("encrypted") << int(MainWindow::Security::Encrypted) << "TLSv1.3, TLS_AES_256_GCM_SHA384"
                                   << "Encrypted (TLSv1.3, TLS_AES_256_GCM_SHA384)";
    }
    void indicatorSaysHowTheSessionIsProtected()
    {
        QFETCH(int, security);
        QFETCH(QString, detail);
        QFETCH(QString, shown);
        MainWindow window;
        window.layoutWindow();
        window.show();
        // From another state first: what a state shows must not depend on the one before.
        window.showSecurity(security == int(MainWindow::Security::Clear) ? MainWindow::Security::Encrypted
                                                                          : MainWindow::Security::Clear,
                            QStringLiteral("before"));
        window.showSecurity(MainWindow::Security(security), detail);
        QCOMPARE(window.securityLabel()->isVisible(), !shown.isEmpty());
        if (!shown.isEmpty())
            QCOMPARE(window.securityLabel()->text(), shown);
        // A message for the user does not take its place.
        window.statusBar()->showMessage(QStringLiteral("Connecting to somewhere..."));
        QCOMPARE(window.securityLabel()->isVisible(), !shown.isEmpty());
    }

    // The French file is kept by hand: its sources must be the very texts of the code.
    void frenchTexts_data()
    {
        QTest::addColumn<QString>("context");
        QTest::addColumn<QString>("english");
        QTest::addColumn<QString>("french");
        QTest::newRow("indicator") << "MainWindow" << "Encrypted (%1)" << "Chiffré (%1)";
        QTest::newRow("warning") << "zodaru::CertificateDialog"
                                 << CertificateDialog(QStringLiteral("%1"), TlsPeer{}, true).warning()->text()
                                 << "Attention : ce certificat n’est pas celui que vous aviez accepté pour %1. "
                                    "Quelqu’un intercepte peut-être la connexion. Ne l’acceptez que si vous savez "
                                    "pourquoi le certificat du serveur a changé.";
        QTest::newRow("always") << "zodaru::CertificateDialog"
                                << CertificateDialog(QString(), TlsPeer{}, false).trustAlwaysButton()->text()
                                << "Toujours accepter pour ce serveur";
        QTest::newRow("clear question") << "zodaru::ClearPasswordDialog"
                                        << ClearPasswordDialog(QStringLiteral("%1")).continueButton()->text()
                                        << "Continuer sans chiffrement";
        QTest::newRow("clear question text") << "zodaru::ClearPasswordDialog"
                                             << ClearPasswordDialog(QStringLiteral("%1")).findChild<QLabel *>()->text()
                                             << "%1 ne prend pas en charge le chiffrement (il a refusé AUTH TLS). Si "
                                                "vous continuez, votre mot de passe et vos fichiers circulent en clair : "
                                                "n’importe qui sur le trajet peut les lire.\n\nTapez ftp:// devant le nom "
                                                "du serveur pour vous connecter en clair sans cette question.";
        QTest::newRow("tampering") << "zodaru::MyDelegate"
                                   << "%1 refused TLS on one connection after accepting it on another: someone may be "
                                      "tampering with the connection. Nothing was sent in clear."
                                   << "%1 a refusé TLS sur une connexion après l’avoir accepté sur une autre : quelqu’un "
                                      "s’interpose peut-être. Rien n’a été envoyé en clair.";
        QTest::newRow("not trusted") << "zodaru::MyDelegate" << "The certificate of %1 was not trusted."
                                     << "Le certificat de %1 n’a pas été accepté.";
    }
    void frenchTexts()
    {
        QFETCH(QString, context);
        QFETCH(QString, english);
        QFETCH(QString, french);
        QTranslator translator;
        QVERIFY(translator.load(QStringLiteral(":/i18n/zodaru_fr.qm")));
        QCOMPARE(translator.translate(context.toUtf8().constData(), english.toUtf8().constData()), french);
    }
};

QTEST_MAIN(TestSecurity)
#include "tst_security.moc"
