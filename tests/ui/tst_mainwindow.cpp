// SPDX-License-Identifier: GPL-3.0-or-later
#include "base/Log.h"
#include "ui/ColumnBrowser.h"
#include "ui/DownloadTableView.h"
#include "ui/Images.h"
#include "ui/MainWindow.h"
#include "ui/UploadTableView.h"

#include "support/FakeApp.h"

#include <QApplication>
#include <QHeaderView>
#include <QImage>
#include <QPushButton>
#include <QSplitter>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
#include <QToolButton>
#include <QTranslator>

#include <memory>

using namespace zodaru;

namespace {

// Geometry of `w` in the coordinates of `ancestor`.
QRect rectIn(const QWidget *w, const QWidget *ancestor)
{
    return QRect(w->mapTo(ancestor, QPoint(0, 0)), w->size());
}

std::unique_ptr<MainWindow> shownWindow(QSize size)
{
    auto window = std::make_unique<MainWindow>();
    window->layoutWindow();
    window->show();
    window->resize(size);
    if (!QTest::qWaitForWindowExposed(window.get()))
        return nullptr;
    QApplication::processEvents();
    return window;
}

} // namespace

class TestMainWindow final : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { setLogSink([](const QString &) {}); }
    void cleanupTestCase() { setLogSink({}); }

    void geometryAtStartSize()
    {
        const auto window = shownWindow(QSize(640, 600));
        QVERIFY(window);
        QWidget *content = window->centralWidget();
        QCOMPARE(content->size(), QSize(640, 600));
        QCOMPARE(window->windowTitle(), QStringLiteral("ZIVidur ADE Zodaru"));
        QCOMPARE(window->minimumSize(), QSize(400, 400));

        const QToolButton *buttons[] = {window->Connect(), window->Bookmarks(), window->Get(),
                                        window->Put()};
        for (int i = 0; i < 4; ++i)
            QCOMPARE(rectIn(buttons[i], content), QRect(5 + 75 * i, 5, 70, 70));
        QCOMPARE(rectIn(window->splitView(), content), QRect(0, 75, 640, 525));

        // The browser pane and the tables share the splitter 400:120.
        const int pane = window->browserPane()->height();
        const int tabs = window->transferTabs()->height();
        QVERIFY2(qAbs(pane * 120 - tabs * 400) <= 3 * 520,
                 qPrintable(QString("%1:%2").arg(pane).arg(tabs)));
        QCOMPARE(window->browserPane()->width(), 640);
        QCOMPARE(window->transferTabs()->width(), 640);

        QWidget *p = window->browserPane();
        const QRect local = rectIn(window->localView(), p);
        const QRect remote = rectIn(window->remoteView(), p);
        QCOMPARE(local.topLeft(), QPoint(5, 5));
        QCOMPARE(local.bottom(), p->height() - 1);
        QCOMPARE(remote.top(), 5);
        QCOMPARE(remote.right(), p->width() - 6);
        QCOMPARE(local.left() + local.width() + 5 + 80 + 5, remote.left());
        QVERIFY(qAbs(local.width() * 240 - remote.width() * 250) <= 250 * 2);
        const QPushButton *small[] = {window->lmkdir(), window->rmkdir(), window->ldelete(),
                                      window->rdelete()};
        const char *titles[] = {"<- Make Dir", "Make Dir ->", "<- Delete", "Delete ->"};
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(rectIn(small[i], p), QRect(local.right() + 6, 20 + 25 * i, 80, 20));
            QCOMPARE(small[i]->text(), QString::fromLatin1(titles[i]));
        }
    }

    void resizing_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QSize>("expected");
        QTest::newRow("larger") << QSize(900, 800) << QSize(900, 800);
        QTest::newRow("wider only") << QSize(1200, 600) << QSize(1200, 600);
        QTest::newRow("taller only") << QSize(640, 900) << QSize(640, 900);
        QTest::newRow("minimum") << QSize(400, 400) << QSize(400, 400);
        QTest::newRow("below minimum") << QSize(250, 300) << QSize(400, 400);
    }

    void resizing()
    {
        QFETCH(QSize, size);
        QFETCH(QSize, expected);
        const auto base = shownWindow(QSize(640, 600));
        const auto window = shownWindow(size);
        QVERIFY(base && window);
        QWidget *content = window->centralWidget();
        QCOMPARE(window->size(), expected);

        // Image buttons keep their place under the top edge.
        QCOMPARE(rectIn(window->Connect(), content), QRect(5, 5, 70, 70));
        QCOMPARE(rectIn(window->Put(), content), QRect(230, 5, 70, 70));
        // The splitter takes all the rest.
        QCOMPARE(rectIn(window->splitView(), content),
                 QRect(0, 75, expected.width(), expected.height() - 75));

        // Both browsers follow the window, the small buttons stay between them at the
        // same distance from the pane's top.
        auto widths = [](const MainWindow &w) {
            return QPair<int, int>(w.localView()->width(), w.remoteView()->width());
        };
        const int dw = expected.width() - 640;
        const auto [l0, r0] = widths(*base);
        const auto [l1, r1] = widths(*window);
        QVERIFY(qAbs((l1 - l0) + (r1 - r0) - dw) <= 1);
        if (dw != 0) {
            QVERIFY((l1 - l0) * dw > 0);
            QVERIFY((r1 - r0) * dw > 0);
        }
        const int dh = window->browserPane()->height() - base->browserPane()->height();
        QCOMPARE(window->localView()->height() - base->localView()->height(), dh);
        QCOMPARE(window->remoteView()->height() - base->remoteView()->height(), dh);
        if (expected.height() > 600)
            QVERIFY(dh > 0 && window->transferTabs()->height() > base->transferTabs()->height());

        QWidget *p = window->browserPane();
        const QRect local = rectIn(window->localView(), p);
        const QRect remote = rectIn(window->remoteView(), p);
        const QPushButton *small[] = {window->lmkdir(), window->rmkdir(), window->ldelete(),
                                      window->rdelete()};
        for (int i = 0; i < 4; ++i) {
            const QRect r = rectIn(small[i], p);
            QCOMPARE(r.top(), 20 + 25 * i);
            QCOMPARE(r.size(), QSize(80, 20));
            QVERIFY(r.left() > local.right() && r.right() < remote.left());
        }
    }

    void imageButtons_data()
    {
        QTest::addColumn<int>("which");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("image");
        QTest::newRow("Connect") << 0 << "Disconnected" << "Disconnect.tiff";
        QTest::newRow("Bookmarks") << 1 << "Bookmarks" << "Bookmarks.tiff";
        QTest::newRow("Get") << 2 << "Get files" << "Get.tiff";
        QTest::newRow("Put") << 3 << "Put files" << "Put.tiff";
    }

    void imageButtons()
    {
        QFETCH(int, which);
        QFETCH(QString, title);
        QFETCH(QString, image);
        MainWindow window;
        window.layoutWindow();
        const QToolButton *buttons[] = {window.Connect(), window.Bookmarks(), window.Get(),
                                        window.Put()};
        const QToolButton *b = buttons[which];
        QCOMPARE(b->text(), title);
        QCOMPARE(b->toolButtonStyle(), Qt::ToolButtonTextUnderIcon);
        QCOMPARE(b->font().pointSize(), 8);
        QVERIFY(!b->icon().isNull());
        const QImage shown = b->icon().pixmap(QSize(32, 32)).toImage();
        QCOMPARE(shown, imageNamed(image).pixmap(QSize(32, 32)).toImage());
    }

    void imagesByName_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("exists");
        for (const char *name : {"Connect.tiff", "Disconnect.tiff", "Connect-zoom.tiff",
                                 "Bookmarks.tiff", "Get.tiff", "Put.tiff"})
            QTest::newRow(name) << QString::fromLatin1(name) << true;
        QTest::newRow("unknown") << "Nothing.tiff" << false;
        QTest::newRow("empty") << "" << false;
    }

    void imagesByName()
    {
        QFETCH(QString, name);
        QFETCH(bool, exists);
        const QIcon icon = imageNamed(name);
        QCOMPARE(icon.isNull(), !exists);
        if (!exists)
            return;
        // Drawn, not blank: some pixels are opaque.
        const QImage image = icon.pixmap(QSize(48, 48)).toImage();
        int opaque = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                opaque += qAlpha(image.pixel(x, y)) > 128;
        QVERIFY2(opaque > 100, qPrintable(QString::number(opaque)));
    }

    void distinctStateImages()
    {
        auto image = [](const char *name) {
            return imageNamed(QString::fromLatin1(name)).pixmap(QSize(48, 48)).toImage();
        };
        QVERIFY(image("Connect.tiff") != image("Disconnect.tiff"));
        QVERIFY(image("Connect.tiff") != image("Connect-zoom.tiff"));
        QVERIFY(image("Get.tiff") != image("Put.tiff"));
    }

    void tablesShowHeadersWhenEmpty_data()
    {
        QTest::addColumn<int>("tab");
        QTest::addColumn<QString>("label");
        QTest::newRow("downloads") << 0 << "Download";
        QTest::newRow("uploads") << 1 << "Upload";
    }

    void tablesShowHeadersWhenEmpty()
    {
        QFETCH(int, tab);
        QFETCH(QString, label);
        test::FakeApp app;
        DownloadTableView downloads(app);
        UploadTableView uploads(app);
        const auto window = shownWindow(QSize(640, 600));
        QVERIFY(window);
        window->Downloads()->setModel(&downloads);
        window->Uploads()->setModel(&uploads);
        QTabWidget *tabs = window->transferTabs();
        QCOMPARE(tabs->count(), 3); // the log follows the tables
        QCOMPARE(tabs->tabText(tab), label);
        tabs->setCurrentIndex(tab);
        QApplication::processEvents();
        QTableView *table = tab == 0 ? window->Downloads() : window->Uploads();
        QVERIFY(tabs->widget(tab)->isAncestorOf(table));
        QCOMPARE(table->model()->rowCount(), 0);
        QCOMPARE(table->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);

        QHeaderView *header = table->horizontalHeader();
        QVERIFY(header->isVisible());
        QCOMPARE(header->count(), 3);
        QCOMPARE(header->defaultAlignment() & Qt::AlignHCenter, Qt::AlignHCenter);
        const QStringList titles{"Name", "Size", "Status"};
        const int least[] = {170, 60, 60};
        int total = 0;
        for (int i = 0; i < 3; ++i) {
            QCOMPARE(table->model()->headerData(i, Qt::Horizontal).toString(), titles[i]);
            QVERIFY(header->sectionSize(i) >= least[i]);
            total += header->sectionSize(i);
        }
        QCOMPARE(total, table->viewport()->width());
    }

    void columnsKeepMinimumWidths_data()
    {
        QTest::addColumn<int>("width");
        QTest::newRow("minimum window") << 400;
        QTest::newRow("wide window") << 1500;
    }

    void columnsKeepMinimumWidths()
    {
        QFETCH(int, width);
        test::FakeApp app;
        DownloadTableView downloads(app);
        const auto window = shownWindow(QSize(width, 600));
        QVERIFY(window);
        window->Downloads()->setModel(&downloads);
        QApplication::processEvents();
        QHeaderView *header = window->Downloads()->horizontalHeader();
        QVERIFY(header->sectionSize(0) >= 170);
        QVERIFY(header->sectionSize(1) >= 60);
        QVERIFY(header->sectionSize(2) >= 60);
        if (width > 600)
            QVERIFY(header->sectionSize(0) > header->sectionSize(1));
        // A column dragged narrower than its minimum springs back.
        header->resizeSection(0, 20);
        QCOMPARE(header->sectionSize(0), 170);
    }

    void frenchTitles_data()
    {
        QTest::addColumn<QString>("english");
        QTest::addColumn<QString>("french");
        QTest::newRow("Disconnected") << "Disconnected" << QString::fromUtf8("Déconnecté");
        QTest::newRow("Dialing") << "Dialing" << QString::fromUtf8("Connexion…");
        QTest::newRow("Connected") << "Connected" << QString::fromUtf8("Connecté");
        QTest::newRow("Bookmarks") << "Bookmarks" << "Signets";
        QTest::newRow("Get files") << "Get files" << "Recevoir";
        QTest::newRow("Put files") << "Put files" << "Envoyer";
    }

    void frenchTitles()
    {
        QFETCH(QString, english);
        QFETCH(QString, french);
        imageNamed(QString()); // the resources are registered on first use
        QTranslator translator;
        QVERIFY(translator.load(QStringLiteral(":/i18n/zodaru_fr.qm")));
        QCOMPARE(translator.translate("MainWindow", english.toUtf8().constData()), french);
    }

    void frenchWindow()
    {
        QTranslator translator;
        QVERIFY(translator.load(QStringLiteral(":/i18n/zodaru_fr.qm")));
        QVERIFY(QCoreApplication::installTranslator(&translator));
        MainWindow window;
        window.layoutWindow();
        QCoreApplication::removeTranslator(&translator);
        QCOMPARE(window.Connect()->text(), QString::fromUtf8("Déconnecté"));
        QCOMPARE(window.Get()->text(), QStringLiteral("Recevoir"));
        // Fixed texts stay as they are.
        QCOMPARE(window.lmkdir()->text(), QStringLiteral("<- Make Dir"));
        QCOMPARE(window.transferTabs()->tabText(0), QStringLiteral("Download"));
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
