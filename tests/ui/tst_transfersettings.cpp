// SPDX-License-Identifier: GPL-3.0-or-later
// The transfer settings dialog with real widgets: what it opens with, what OK and Cancel do.
#include "support/FakeApp.h"

#include "app/Translations.h"
#include "model/TransferSettings.h"
#include "ui/TransferSettingsDialog.h"

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QSettings>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QTranslator>
#include <QWidget>

#include <limits>

using namespace zodaru;
using test::FakeApp;

namespace {

using Keys = QMap<QString, QString>;

bool writeSettings(const QString &path, const QByteArray &ini)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(ini) == ini.size();
}

// The [transfers] keys of the file at `path`, as text.
Keys transferKeys(const QString &path)
{
    const QSettings settings(path, QSettings::IniFormat);
    Keys keys;
    for (const QString &key : settings.allKeys())
        if (key.startsWith(QLatin1String("transfers/")))
            keys.insert(key.mid(10), settings.value(key).toString());
    return keys;
}

// What the dialog shows: its title, each row's label, the boxes as they read, the buttons.
QStringList shownTexts(const TransferSettingsDialog &dialog)
{
    QStringList texts{dialog.windowTitle()};
    for (const QLabel *label : dialog.findChildren<QLabel *>())
        texts << label->text();
    for (const QSpinBox *box : dialog.findChildren<QSpinBox *>())
        texts << box->text();
    texts << dialog.okButton()->text() << dialog.cancelButton()->text();
    return texts;
}

} // namespace

Q_DECLARE_METATYPE(zodaru::TransferSettings)

class TestTransferSettings final : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void opensWithTheFile_data();
    void opensWithTheFile();
    void okSavesAndApplies_data();
    void okSavesAndApplies();
    void cancelLeavesEverything();
    void oneDialogPerWindow();
    void french();
};

void TestTransferSettings::opensWithTheFile_data()
{
    QTest::addColumn<QByteArray>("ini"); // null: no file
    QTest::addColumn<int>("connections");
    QTest::addColumn<int>("downloadKiB");
    QTest::addColumn<int>("uploadKiB");
    QTest::newRow("no file") << QByteArray() << 4 << 0 << 0;
    QTest::newRow("no transfers group") << QByteArray("[other]\nx=1\n") << 4 << 0 << 0;
    QTest::newRow("set") << QByteArray("[transfers]\nconnections=2\ndownloadLimitKiB=512\nuploadLimitKiB=64\n") << 2
                         << 512 << 64;
    QTest::newRow("too many connections")
        << QByteArray("[transfers]\nconnections=25\n") << 10 << 0 << 0;
    QTest::newRow("no connection") << QByteArray("[transfers]\nconnections=0\n") << 1 << 0 << 0;
    QTest::newRow("negative limits")
        << QByteArray("[transfers]\ndownloadLimitKiB=-5\nuploadLimitKiB=-1\n") << 4 << 0 << 0;
    QTest::newRow("not numbers")
        << QByteArray("[transfers]\nconnections=many\ndownloadLimitKiB=fast\n") << 4 << 0 << 0;
    QTest::newRow("past what the boxes take")
        << QByteArray("[transfers]\ndownloadLimitKiB=99999999999\nuploadLimitKiB=2097153\n") << 4
        << TransferSettingsDialog::kMaxLimitKiB << TransferSettingsDialog::kMaxLimitKiB;
}

void TestTransferSettings::opensWithTheFile()
{
    QFETCH(QByteArray, ini);
    QFETCH(int, connections);
    QFETCH(int, downloadKiB);
    QFETCH(int, uploadKiB);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Zodaru.conf"));
    if (!ini.isNull())
        QVERIFY(writeSettings(path, ini));
    FakeApp app;
    TransferSettingsDialog dialog(app, path);
    QCOMPARE(dialog.connectionsBox()->value(), connections);
    QCOMPARE(dialog.downloadLimitBox()->value(), downloadKiB);
    QCOMPARE(dialog.uploadLimitBox()->value(), uploadKiB);
    // 0 reads "No limit", any other value in KiB/s.
    QCOMPARE(dialog.downloadLimitBox()->text(),
             downloadKiB == 0 ? QStringLiteral("No limit") : QStringLiteral("%1 KiB/s").arg(downloadKiB));
    QVERIFY(!dialog.isModal());
    QVERIFY(app.calls.isEmpty());
}

void TestTransferSettings::okSavesAndApplies_data()
{
    QTest::addColumn<int>("connections"); // set in the boxes; -1: left as they opened
    QTest::addColumn<int>("download");
    QTest::addColumn<int>("upload");
    QTest::addColumn<Keys>("saved");
    QTest::addColumn<TransferSettings>("applied");
    QTest::newRow("unchanged") << -1 << -1 << -1
                               << Keys{{"connections", "4"}, {"downloadLimitKiB", "0"}, {"uploadLimitKiB", "0"}}
                               << TransferSettings{4, 0, 0};
    QTest::newRow("all set") << 3 << 100 << 2048
                             << Keys{{"connections", "3"}, {"downloadLimitKiB", "100"}, {"uploadLimitKiB", "2048"}}
                             << TransferSettings{3, 100 * 1024, 2048 * 1024};
    QTest::newRow("one connection, one KiB/s") << 1 << 0 << 1
                                               << Keys{{"connections", "1"}, {"downloadLimitKiB", "0"}, {"uploadLimitKiB", "1"}}
                                               << TransferSettings{1, 0, 1024};
    // Past the range: the boxes keep what fits.
    QTest::newRow("past the bounds") << 12 << std::numeric_limits<int>::max() << -7
                                     << Keys{{"connections", "10"},
                                             {"downloadLimitKiB", QString::number(TransferSettingsDialog::kMaxLimitKiB)},
                                             {"uploadLimitKiB", "0"}}
                                     << TransferSettings{10, qint64(TransferSettingsDialog::kMaxLimitKiB) * 1024, 0};
}

// What the boxes hold goes to the file's [transfers] group and to the application, once.
void TestTransferSettings::okSavesAndApplies()
{
    QFETCH(int, connections);
    QFETCH(int, download);
    QFETCH(int, upload);
    QFETCH(Keys, saved);
    QFETCH(TransferSettings, applied);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Zodaru.conf"));
    // Other groups of the file stay.
    QVERIFY(writeSettings(path, "[browser]\nshowHidden=true\n"));
    FakeApp app;
    TransferSettingsDialog dialog(app, path);
    dialog.show();
    for (const auto &[box, value] : {std::pair{dialog.connectionsBox(), connections},
                                     std::pair{dialog.downloadLimitBox(), download},
                                     std::pair{dialog.uploadLimitBox(), upload}}) {
        if (value != -1)
            box->setValue(value);
    }
    QTest::mouseClick(dialog.okButton(), Qt::LeftButton);

    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QVERIFY(!dialog.isVisible());
    QCOMPARE(transferKeys(path), saved);
    QCOMPARE(QSettings(path, QSettings::IniFormat).value(QStringLiteral("browser/showHidden")).toString(),
             QStringLiteral("true"));
    QCOMPARE(app.calls, QStringList{QStringLiteral("applyTransferSettings")});
    QCOMPARE(app.appliedSettings.size(), 1);
    QVERIFY(app.appliedSettings.first() == applied);
    QVERIFY(TransferSettings::load(path) == applied);
}

void TestTransferSettings::cancelLeavesEverything()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Zodaru.conf"));
    const QByteArray ini("[transfers]\nconnections=2\ndownloadLimitKiB=10\nuploadLimitKiB=20\n");
    QVERIFY(writeSettings(path, ini));
    FakeApp app;
    TransferSettingsDialog dialog(app, path);
    dialog.show();
    dialog.connectionsBox()->setValue(9);
    dialog.downloadLimitBox()->setValue(0);
    QTest::mouseClick(dialog.cancelButton(), Qt::LeftButton);
    QCOMPARE(dialog.result(), int(QDialog::Rejected));
    QVERIFY(app.calls.isEmpty());
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), ini);
}

// Asked for again, the open dialog comes forward; closed, it goes.
void TestTransferSettings::oneDialogPerWindow()
{
    test::TemporaryHome home;
    FakeApp app;
    QWidget window;
    window.show();
    auto *first = TransferSettingsDialog::showFor(app, &window);
    QVERIFY(first->isVisible());
    QCOMPARE(TransferSettingsDialog::showFor(app, &window), first);
    QCOMPARE(window.findChildren<TransferSettingsDialog *>().size(), 1);
    QPointer<TransferSettingsDialog> watched(first);
    first->connectionsBox()->setValue(6);
    QTest::mouseClick(first->okButton(), Qt::LeftButton);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(watched.isNull());
    QCOMPARE(app.appliedSettings.size(), 1);
    // The program's own settings file, in this home.
    QCOMPARE(transferKeys(home.settingsFile()).value(QStringLiteral("connections")), QStringLiteral("6"));
    auto *second = TransferSettingsDialog::showFor(app, &window);
    QCOMPARE(second->connectionsBox()->value(), 6);
    second->close();
}

void TestTransferSettings::french()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Zodaru.conf"));
    QVERIFY(writeSettings(path, "[transfers]\nconnections=3\nuploadLimitKiB=250\n"));
    QVERIFY(!installTranslations(QLocale(QLocale::French, QLocale::France), {QString::fromLatin1(kBuiltInTranslations)})
                 .isEmpty());
    FakeApp app;
    const TransferSettingsDialog dialog(app, path);
    const QStringList texts = shownTexts(dialog);
    for (QTranslator *t : QCoreApplication::instance()->findChildren<QTranslator *>(Qt::FindDirectChildrenOnly)) {
        QCoreApplication::removeTranslator(t);
        delete t;
    }
    QCOMPARE(texts, (QStringList{QString::fromUtf8("Réglages des transferts"), QStringLiteral("Connexions par sens"),
                                 QString::fromUtf8("Limite de téléchargement"), QString::fromUtf8("Limite d’envoi"),
                                 QStringLiteral("3"), QStringLiteral("Sans limite"), QStringLiteral("250 Kio/s"),
                                 QStringLiteral("OK"), QStringLiteral("Annuler")}));
}

QTEST_MAIN(TestTransferSettings)
#include "tst_transfersettings.moc"
