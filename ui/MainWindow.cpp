// SPDX-License-Identifier: GPL-3.0-or-later
#include "ui/MainWindow.h"

#include "ui/LogPane.h"

#include "ui/ColumnBrowser.h"
#include "ui/Images.h"
#include "ui/TransferStatusDelegate.h"

#include <QCoreApplication>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QResizeEvent>
#include <QSplitter>
#include <QStatusBar>
#include <QTabWidget>
#include <QTableView>
#include <QToolButton>
#include <QVBoxLayout>

#include <tuple>

namespace zodaru {

namespace {

// Geometry, in pixels, of a 640 × 600 window.
constexpr int windowWidth = 640;
constexpr int windowHeight = 600;
constexpr int minimumSide = 400;
constexpr int margin = 5;
constexpr int imageButtonSide = 70;
constexpr int imageSide = 44;
constexpr int smallButtonWidth = 80;
constexpr int smallButtonHeight = 20;
constexpr int smallButtonsTop = 20; // from the top of the browser pane
constexpr int browserPaneShare = 400;
constexpr int transferTabsShare = 120;
constexpr int localBrowserShare = 250;
constexpr int remoteBrowserShare = 240;

// A table header that spreads the table's width over its columns, each at least as wide as
// its identifier requires, centred titles.
class FittedHeader final : public QHeaderView {
public:
    explicit FittedHeader(QWidget *parent) : QHeaderView(Qt::Horizontal, parent)
    {
        setDefaultAlignment(Qt::AlignCenter);
        setSectionsClickable(false);
        setStretchLastSection(false);
        setSectionResizeMode(QHeaderView::Interactive);
        connect(this, &QHeaderView::sectionCountChanged, this, [this] { fit(); });
        connect(this, &QHeaderView::sectionResized, this, [this](int section, int, int size) {
            const int least = minimumWidthOf(section);
            if (size < least)
                resizeSection(section, least);
        });
    }

protected:
    void resizeEvent(QResizeEvent *event) override
    {
        QHeaderView::resizeEvent(event);
        fit();
    }

private:
    int minimumWidthOf(int section) const
    {
        if (!model())
            return 0;
        return MainWindow::minimumColumnWidth(
            model()->headerData(section, Qt::Horizontal, Qt::DisplayRole).toString());
    }

    // Extra width is shared in proportion to the minimum widths, so a wide table keeps the
    // name column the widest.
    void fit()
    {
        const int n = count();
        if (n == 0)
            return;
        QList<int> least;
        int total = 0;
        for (int i = 0; i < n; ++i) {
            least.append(minimumWidthOf(i));
            total += least.last();
        }
        const int extra = qMax(0, width() - total);
        int given = 0;
        for (int i = 0; i < n; ++i) {
            const int share = total > 0 ? int(qint64(extra) * least[i] / total) : extra / n;
            const int size = least[i] + (i == n - 1 ? extra - given : share);
            given += share;
            resizeSection(i, size);
        }
    }
};

// The titles the Connect button takes in its three states.
constexpr const char *connectTitles[] = {QT_TRANSLATE_NOOP("MainWindow", "Disconnected"),
                                         QT_TRANSLATE_NOOP("MainWindow", "Dialing"),
                                         QT_TRANSLATE_NOOP("MainWindow", "Connected")};

// A 70-pixel button is narrow for an 8-point "Disconnected" in a wide font; rather than let
// the style elide it, the font is narrowed just enough for the longest title the button
// shows.
QFont imageButtonFont(const QFont &base, const QStringList &titles)
{
    QFont font = base;
    font.setPointSize(8);
    const QFontMetrics metrics(font);
    int widest = 0;
    for (const QString &t : titles)
        widest = qMax(widest, metrics.horizontalAdvance(t));
    constexpr int room = imageButtonSide - 8; // the style's frame and margins
    if (widest > room)
        font.setStretch(qMax(50, room * 100 / widest));
    return font;
}

QToolButton *makeImageButton(QWidget *parent, const char *title, const char *image)
{
    auto *button = new QToolButton(parent);
    button->setText(QCoreApplication::translate("MainWindow", title));
    QStringList titles{button->text()};
    if (qstrcmp(title, connectTitles[0]) == 0)
        for (const char *t : connectTitles)
            titles << QCoreApplication::translate("MainWindow", t);
    button->setFont(imageButtonFont(button->font(), titles));
    button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    button->setIcon(imageNamed(QString::fromLatin1(image)));
    button->setIconSize(QSize(imageSide, imageSide));
    button->setFixedSize(imageButtonSide, imageButtonSide);
    return button;
}

QPushButton *makeSmallButton(QWidget *parent, const char *title)
{
    auto *button = new QPushButton(QString::fromUtf8(title), parent);
    button->setFixedSize(smallButtonWidth, smallButtonHeight);
    return button;
}

QTableView *makeTransferTable(QWidget *parent)
{
    auto *table = new QTableView(parent);
    table->setHorizontalHeader(new FittedHeader(table));
    table->verticalHeader()->hide();
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setShowGrid(false);
    table->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    table->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    table->setItemDelegate(new TransferStatusDelegate(table));
    return table;
}

} // namespace

MainWindow::MainWindow(QWidget *parent) : QMainWindow(parent)
{
    resize(windowWidth, windowHeight);
    setMinimumSize(minimumSide, minimumSide);
    setWindowTitle(QStringLiteral("ZIVidur ADE Zodaru"));
}

int MainWindow::minimumColumnWidth(const QString &identifier)
{
    if (identifier == u"Name")
        return 170;
    return 60; // "Size", "Status"
}

void MainWindow::layoutWindow()
{
    if (centralWidget())
        return;
    auto *content = new QWidget(this);

    // Image buttons: a fixed row in the top-left corner.
    Connect_ = makeImageButton(content, connectTitles[0], "Disconnect.tiff");
    Bookmarks_ = makeImageButton(content, QT_TRANSLATE_NOOP("MainWindow", "Bookmarks"),
                                 "Bookmarks.tiff");
    Get_ = makeImageButton(content, QT_TRANSLATE_NOOP("MainWindow", "Get files"),
                           "Get.tiff");
    Put_ = makeImageButton(content, QT_TRANSLATE_NOOP("MainWindow", "Put files"),
                           "Put.tiff");
    auto *buttonRow = new QHBoxLayout;
    buttonRow->setContentsMargins(margin, margin, 0, 0);
    buttonRow->setSpacing(margin);
    for (QToolButton *b : {Connect_, Bookmarks_, Get_, Put_})
        buttonRow->addWidget(b);
    buttonRow->addStretch(1);

    // Browser pane: both browsers grow, the small buttons keep their column between them
    // at a fixed distance from the pane's top.
    browserPane_ = new QWidget;
    localView_ = new ColumnBrowser(browserPane_);
    remoteView_ = new ColumnBrowser(browserPane_);
    for (ColumnBrowser *b : {localView_, remoteView_}) {
        b->setMinimumSize(40, 40);
        b->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    }
    lmkdir_ = makeSmallButton(browserPane_, "<- Make Dir");
    rmkdir_ = makeSmallButton(browserPane_, "Make Dir ->");
    ldelete_ = makeSmallButton(browserPane_, "<- Delete");
    rdelete_ = makeSmallButton(browserPane_, "Delete ->");
    auto *smallButtons = new QVBoxLayout;
    smallButtons->setContentsMargins(0, smallButtonsTop - margin, 0, 0);
    smallButtons->setSpacing(margin);
    for (QPushButton *b : {lmkdir_, rmkdir_, ldelete_, rdelete_})
        smallButtons->addWidget(b);
    smallButtons->addStretch(1);
    auto *paneLayout = new QHBoxLayout(browserPane_);
    paneLayout->setContentsMargins(margin, margin, margin, 0);
    paneLayout->setSpacing(margin);
    paneLayout->addWidget(localView_, localBrowserShare);
    paneLayout->addLayout(smallButtons, 0);
    paneLayout->addWidget(remoteView_, remoteBrowserShare);

    // Transfer tables, one per tab.
    Downloads_ = makeTransferTable(nullptr);
    Uploads_ = makeTransferTable(nullptr);
    transferTabs_ = new QTabWidget;
    // Under each table, inside its tab, the line with what is left of its queue.
    for (auto [table, totals, title] : {std::tuple{Downloads_, &downloadTotals_, "Download"},
                                        std::tuple{Uploads_, &uploadTotals_, "Upload"}}) {
        auto *page = new QWidget;
        auto *column = new QVBoxLayout(page);
        column->setContentsMargins(0, 0, 0, 0);
        column->setSpacing(0);
        *totals = new QLabel;
        (*totals)->setContentsMargins(margin, 1, margin, 1);
        column->addWidget(table, 1);
        column->addWidget(*totals, 0);
        transferTabs_->addTab(page, QString::fromLatin1(title));
    }
    // The log beside the tables: a desktop user never sees standard error.
    logPane_ = new LogPane;
    transferTabs_->addTab(logPane_, QCoreApplication::translate("MainWindow", "Log"));
    transferTabs_->setMinimumHeight(0);

    // The splitter takes all extra space and shares it 400:120 between its panes.
    splitView_ = new QSplitter(Qt::Vertical, content);
    splitView_->setChildrenCollapsible(false);
    splitView_->addWidget(browserPane_);
    splitView_->addWidget(transferTabs_);
    splitView_->setStretchFactor(0, browserPaneShare);
    splitView_->setStretchFactor(1, transferTabsShare);
    splitView_->setSizes({browserPaneShare, transferTabsShare});

    auto *contentLayout = new QVBoxLayout(content);
    contentLayout->setContentsMargins(0, 0, 0, 0);
    contentLayout->setSpacing(0);
    contentLayout->addLayout(buttonRow, 0);
    contentLayout->addWidget(splitView_, 1);
    setCentralWidget(content);
}

void MainWindow::showSecurity(Security security, const QString &detail)
{
    if (!security_) {
        // Made with the first session: until then the window has no status bar to give room to.
        if (security == Security::NoSession)
            return;
        // Permanent: the messages told to the user on the left never hide it.
        security_ = new QLabel;
        statusBar()->addPermanentWidget(security_);
        // A status bar made after the window was shown stays hidden unless told.
        statusBar()->show();
    }
    switch (security) {
    case Security::NoSession:
        security_->clear();
        break;
    case Security::Clear:
        security_->setText(QCoreApplication::translate("MainWindow", "Not encrypted"));
        break;
    case Security::Encrypted:
        security_->setText(detail.isEmpty()
                               ? QCoreApplication::translate("MainWindow", "Encrypted")
                               : QCoreApplication::translate("MainWindow", "Encrypted (%1)").arg(detail));
        break;
    }
    // A password and files going over in clear must not pass unnoticed.
    // Set only when it changes: a style sheet set again polishes the label and repaints
    // the status bar, and this runs after requests whose engines may have logged in again.
    const QString sheet = security == Security::Clear
        ? QStringLiteral("QLabel { color: #b00000; font-weight: bold; }")
        : QString();
    if (security_->styleSheet() != sheet)
        security_->setStyleSheet(sheet);
    security_->setVisible(security != Security::NoSession);
}

} // namespace zodaru
