// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/FakeApp.h"

#include "app/Translations.h"
#include "ui/DownloadTableView.h"
#include "ui/GetNameWindow.h"
#include "ui/MainWindow.h"
#include "ui/MainWindowController.h"
#include "ui/ParametersWindow.h"
#include "ui/ParametersWindowController.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QRegularExpression>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTranslator>
#include <QXmlStreamReader>

#include <memory>

using namespace zodaru;
using zodaru::test::FakeApp;

namespace {

// The catalogues live beside the test fixtures' sources: tests/support/../../resources.
QString translationsSourceDir()
{
    return QDir::cleanPath(QStringLiteral(ZODARU_TEST_SUPPORT_DIR "/../../resources/translations"));
}

QStringList catalogues()
{
    QStringList files;
    const QDir dir(translationsSourceDir());
    for (const QString &name : dir.entryList({QStringLiteral("*.ts")}, QDir::Files, QDir::Name))
        files << dir.filePath(name);
    return files;
}

// One message of a catalogue as far as completeness goes.
struct Message {
    QString source;
    QString type; // the translation's type attribute: "", "unfinished", "obsolete", "vanished"…
    QStringList forms; // the translation, or each numerus form
};

// The messages of `file`, by context.
QMap<QString, QList<Message>> readCatalogue(const QString &file, QString *error)
{
    QMap<QString, QList<Message>> contexts;
    QFile in(file);
    if (!in.open(QIODevice::ReadOnly)) {
        *error = in.errorString();
        return contexts;
    }
    QXmlStreamReader xml(&in);
    QString context;
    Message message;
    bool numerus = false;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isEndElement()) {
            if (xml.name() == u"message")
                contexts[context] << message;
            else if (xml.name() == u"context")
                context.clear();
            continue;
        }
        if (!xml.isStartElement())
            continue;
        if (xml.name() == u"name" && context.isEmpty()) {
            context = xml.readElementText();
        } else if (xml.name() == u"message") {
            message = Message();
            numerus = xml.attributes().value(QStringLiteral("numerus")) == u"yes";
        } else if (xml.name() == u"source") {
            message.source = xml.readElementText();
        } else if (xml.name() == u"translation") {
            message.type = xml.attributes().value(QStringLiteral("type")).toString();
            if (!numerus)
                message.forms << xml.readElementText();
        } else if (xml.name() == u"numerusform") {
            message.forms << xml.readElementText();
        }
    }
    if (xml.hasError())
        *error = xml.errorString();
    return contexts;
}

// The place markers of a text (%1 … %99, %n), which the translation must keep.
QStringList placeMarkers(const QString &text)
{
    static const QRegularExpression marker(QStringLiteral("%(?:\\d+|n)"));
    QStringList found;
    for (const QRegularExpressionMatch &m : marker.globalMatch(text))
        found << m.captured();
    found.sort();
    found.removeDuplicates();
    return found;
}

// What a user reads in a window: titles, button and label texts, tab titles, table headers,
// each as "window|text". In the order the widgets were built, so two builds of the same window
// line up.
QStringList shownTexts(QWidget *window, const QString &tag)
{
    QStringList texts{window->windowTitle()};
    for (QWidget *w : window->findChildren<QWidget *>()) {
        if (w->window() != window) // a dialog of this window, read on its own
            continue;
        if (auto *button = qobject_cast<QAbstractButton *>(w))
            texts << button->text();
        else if (auto *label = qobject_cast<QLabel *>(w))
            texts << label->text();
        else if (auto *tabs = qobject_cast<QTabWidget *>(w))
            for (int i = 0; i < tabs->count(); ++i)
                texts << tabs->tabText(i);
        else if (auto *table = qobject_cast<QTableView *>(w))
            for (int i = 0; table->model() && i < table->model()->columnCount(); ++i)
                texts << table->model()->headerData(i, Qt::Horizontal).toString();
    }
    for (QString &text : texts)
        text.prepend(tag + QLatin1Char('|'));
    return texts;
}

// The texts the program's definition fixes, shown as they are in every language.
const QStringList &fixedTexts()
{
    static const QStringList texts{
        QStringLiteral("main|ZIVidur ADE Zodaru"),
        QStringLiteral("main|<- Make Dir"), QStringLiteral("main|Make Dir ->"),
        QStringLiteral("main|<- Delete"), QStringLiteral("main|Delete ->"),
        QStringLiteral("main|Download"), QStringLiteral("main|Upload"),
        QStringLiteral("main|Name"), QStringLiteral("main|Size"), QStringLiteral("main|Status"),
        QStringLiteral("make-dir|Create Directory"), QStringLiteral("make-dir|Name : "),
        QStringLiteral("make-dir|Go!"),
        QStringLiteral("connection|Parametres..."), QStringLiteral("connection|Server : "),
        QStringLiteral("connection|Login : "), QStringLiteral("connection|Password : "),
        QStringLiteral("connection|Go!"), QStringLiteral("connection|Cancel"),
    };
    return texts;
}

// Texts that read the same in every language: the fixed ones, names and paths (the browsers'
// column titles, whole or with their start elided), numbers.
bool sameInEveryLanguage(const QString &tagged)
{
    static const QRegularExpression letters(QStringLiteral("\\p{L}"));
    const QString text = tagged.section(QLatin1Char('|'), 1);
    return !text.contains(letters) || text.startsWith(QLatin1Char('/')) || text.startsWith(QChar(0x2026))
           || fixedTexts().contains(tagged);
}

void removeTranslators()
{
    for (QTranslator *t : QCoreApplication::instance()->findChildren<QTranslator *>(Qt::FindDirectChildrenOnly)) {
        QCoreApplication::removeTranslator(t);
        delete t;
    }
}

} // namespace

class TestTranslations final : public QObject {
    Q_OBJECT

    // The main window with a make-directory panel and a connection panel open, built as the
    // program builds them; returns the texts of the three.
    static QStringList windowTexts(const QString &cwd)
    {
        const QString saved = QDir::currentPath();
        QDir::setCurrent(cwd);
        FakeApp app;
        auto controller = std::make_unique<MainWindowController>(app);
        app.controller = controller.get();
        controller->createLocalDirectory();
        ParametersWindowController connection(app);
        QStringList texts = shownTexts(controller->window()->window(), QStringLiteral("main"));
        for (QWidget *w : QApplication::topLevelWidgets())
            if (auto *panel = qobject_cast<GetNameWindow *>(w))
                texts << shownTexts(panel, QStringLiteral("make-dir"));
        texts << shownTexts(connection.window(), QStringLiteral("connection"));
        controller.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QDir::setCurrent(saved);
        return texts;
    }

private Q_SLOTS:
    void cleanup() { removeTranslators(); }

    void cataloguesFound()
    {
        QVERIFY2(!catalogues().isEmpty(), qPrintable(translationsSourceDir()));
    }

    // Every message of every catalogue is translated, kept up to date with the code (no
    // obsolete or vanished entries) and keeps its place markers.
    void catalogueComplete_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("context");
        for (const QString &file : catalogues()) {
            QString error;
            const auto contexts = readCatalogue(file, &error);
            QTest::addRow("%s: reads", qPrintable(QFileInfo(file).fileName())) << file << QString();
            for (auto it = contexts.cbegin(); it != contexts.cend(); ++it)
                QTest::addRow("%s: %s", qPrintable(QFileInfo(file).fileName()), qPrintable(it.key()))
                    << file << it.key();
        }
    }

    void catalogueComplete()
    {
        QFETCH(QString, file);
        QFETCH(QString, context);
        QString error;
        const auto contexts = readCatalogue(file, &error);
        QCOMPARE(error, QString());
        if (context.isEmpty()) {
            QVERIFY(!contexts.isEmpty());
            return;
        }
        QStringList faults;
        for (const Message &m : contexts.value(context)) {
            if (!m.type.isEmpty())
                faults << QStringLiteral("%1: %2").arg(m.type, m.source);
            if (m.forms.isEmpty())
                faults << QStringLiteral("no translation: %1").arg(m.source);
            for (const QString &form : m.forms) {
                if (form.trimmed().isEmpty())
                    faults << QStringLiteral("empty: %1").arg(m.source);
                else if (placeMarkers(form) != placeMarkers(m.source))
                    faults << QStringLiteral("place markers differ: %1 -> %2").arg(m.source, form);
            }
        }
        QVERIFY2(faults.isEmpty(), qPrintable(faults.join(QStringLiteral(" | "))));
    }

    // The program's own catalogue comes from the first directory that has one for the
    // locale: the installed one before the built-in one.
    void installsFirstCatalogueFound_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<bool>("installedHasOne");
        QTest::addColumn<QString>("expected"); // "installed", "built-in" or "" (none)
        QTest::addColumn<QString>("bookmarks");
        QTest::newRow("installed first") << "fr_FR" << true << "installed" << "Signets";
        QTest::newRow("built-in when none installed") << "fr_FR" << false << "built-in" << "Signets";
        QTest::newRow("Canadian French") << "fr_CA" << false << "built-in" << "Signets";
        QTest::newRow("English") << "en_US" << true << "" << "Bookmarks";
        QTest::newRow("no catalogue") << "de_DE" << true << "" << "Bookmarks";
    }

    void installsFirstCatalogueFound()
    {
        QFETCH(QString, locale);
        QFETCH(bool, installedHasOne);
        QFETCH(QString, expected);
        QFETCH(QString, bookmarks);

        QTemporaryDir installed;
        QVERIFY(installed.isValid());
        const QString builtIn = QString::fromLatin1(kBuiltInTranslations) + QStringLiteral("/zodaru_fr.qm");
        QVERIFY(QFile::exists(builtIn));
        if (installedHasOne)
            QVERIFY(QFile::copy(builtIn, installed.filePath(QStringLiteral("zodaru_fr.qm"))));

        const QString found = installTranslations(
            QLocale(locale), translationDirectories(installed.path() + QStringLiteral("/bin"),
                                                    QStringLiteral("..")));
        if (expected == u"installed")
            QCOMPARE(found, installed.filePath(QStringLiteral("zodaru_fr.qm")));
        else if (expected == u"built-in")
            QCOMPARE(found, builtIn);
        else
            QCOMPARE(found, QString());
        QCOMPARE(QCoreApplication::translate("MainWindow", "Bookmarks"), bookmarks);
    }

    void translationDirectoriesFromBinary_data()
    {
        QTest::addColumn<QString>("binary");
        QTest::addColumn<QString>("relative");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("system") << "/usr/bin" << "../share/zodaru/translations"
                                << QStringList{"/usr/share/zodaru/translations", ":/i18n"};
        QTest::newRow("private prefix") << "/opt/z/bin" << "../share/zodaru/translations"
                                        << QStringList{"/opt/z/share/zodaru/translations", ":/i18n"};
        QTest::newRow("not installed") << "/src/build" << "" << QStringList{":/i18n"};
    }

    void translationDirectoriesFromBinary()
    {
        QFETCH(QString, binary);
        QFETCH(QString, relative);
        QFETCH(QStringList, expected);
        QCOMPARE(translationDirectories(binary, relative), expected);
    }

    // The transfer table shows the status words the program adds in French, the fixed ones
    // and percentages as they are; the entries themselves keep the English words, which the
    // log carries.
    void statusWords_data()
    {
        QTest::addColumn<QString>("state");
        QTest::addColumn<QString>("shown");
        QTest::newRow("cancelled") << "cancelled" << QString::fromUtf8("Annulé");
        QTest::newRow("running, size unknown") << "running" << QString::fromUtf8("En cours…");
        QTest::newRow("waiting") << "waiting" << "Waiting...";
        QTest::newRow("failed") << "failed" << "FTP Error";
        QTest::newRow("done") << "done" << "Done.";
        QTest::newRow("percentage") << "half" << "50.00 ";
    }

    void statusWords()
    {
        QFETCH(QString, state);
        QFETCH(QString, shown);
        QVERIFY(!installTranslations(QLocale(QLocale::French, QLocale::France),
                                     {QString::fromLatin1(kBuiltInTranslations)})
                     .isEmpty());
        FakeApp app;
        app.queuesExist = true;
        File entry(QStringLiteral("a"), state == u"running" ? 0 : 10, 0);
        if (state == u"cancelled") {
            entry.setCancelled();
        } else if (state == u"running") {
            entry.addToSize(4);
        } else if (state == u"failed") {
            entry.setError();
        } else if (state == u"done") {
            entry.addToSize(10);
        } else if (state == u"half") {
            entry.addToSize(5);
        }
        const QString logged = entry.getStatus();
        app.downloads << entry;
        DownloadTableView table(app);
        table.reloadData();
        QCOMPARE(table.index(0, 2).data().toString(), shown);
        QCOMPARE(entry.getStatus(), logged);
        QVERIFY(!logged.contains(QChar(0x2026)));
    }

    // In French no English is left in the windows but the fixed texts: a text the code forgot
    // to mark for translation reads the same in both builds, and a fixed one that was
    // translated differs.
    void frenchWindowsHaveNoEnglish()
    {
        QTemporaryDir cwd;
        QVERIFY(cwd.isValid());
        const QStringList english = windowTexts(cwd.path());
        QVERIFY(!installTranslations(QLocale(QLocale::French, QLocale::France),
                                     {QString::fromLatin1(kBuiltInTranslations)})
                     .isEmpty());
        const QStringList french = windowTexts(cwd.path());
        QCOMPARE(french.size(), english.size());
        QStringList untranslated;
        for (qsizetype i = 0; i < english.size(); ++i)
            if (english.at(i) == french.at(i) && !sameInEveryLanguage(english.at(i)))
                untranslated << english.at(i);
        QVERIFY2(untranslated.isEmpty(), qPrintable(untranslated.join(QStringLiteral(" ; "))));
        for (const QString &text : fixedTexts())
            QVERIFY2(french.contains(text), qPrintable(text));
        QVERIFY(french.contains(QStringLiteral("make-dir|Annuler")));
    }
};

QTEST_MAIN(TestTranslations)
#include "tst_translations.moc"
