#include "ui/MainWindow.h"

#include "check/CheckRun.h"
#include "nzb/NzbModel.h"
#include "servers/ServerListModel.h"
#include "ui/StatusIcons.h"
#include "ui/WindowLayout.h"

#include <QCheckBox>
#include <QHeaderView>
#include <QLabel>
#include <QListView>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QStatusBar>
#include <QTabBar>
#include <QTreeView>

// The window's controls, at the places and sizes of its design.

namespace {

constexpr int kListHeight = 4440; // twips: the lists, with a line below for the legend

QTreeView *makeReportView(QWidget *parent, const char *name, const QRect &geometry)
{
    auto *view = place<QTreeView>(parent, name, geometry);
    view->setRootIsDecorated(false);
    view->setItemsExpandable(false);
    view->setUniformRowHeights(true);
    view->setSortingEnabled(false);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setSelectionMode(QAbstractItemView::ExtendedSelection);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->header()->setSectionsClickable(false);
    view->header()->setStretchLastSection(false);
    return view;
}

void setColumnWidths(QTreeView *view, std::initializer_list<int> twips)
{
    int column = 0;
    for (const int width : twips)
        view->setColumnWidth(column++, px(width));
}

// Widens the columns whose header caption does not fit, taking the room from the list's unused width only.
void fitHeaderCaptions(QTreeView *view)
{
    QHeaderView *header = view->header();
    // Measured on the frame: the viewport has no size before the window is first shown.
    int spare = view->width() - 2 * view->frameWidth() - header->length();
    for (int column = 0; column < header->count() && spare > 0; ++column) {
        const int missing = qMin(spare, header->sectionSizeHint(column) - header->sectionSize(column));
        if (missing > 0) {
            header->resizeSection(column, header->sectionSize(column) + missing);
            spare -= missing;
        }
    }
}

// The designed widths cut off common cells ("1120" as a port, "22/22" as parts): such a column
// grows to hold `sample`, taking the room from the list's unused width only.
void widenColumnToFit(QTreeView *view, int column, const QString &sample)
{
    QHeaderView *header = view->header();
    const int spare = view->width() - 2 * view->frameWidth() - header->length();
    const int wanted = view->fontMetrics().horizontalAdvance(sample) + px(180);
    const int growth = qMin(spare, wanted - header->sectionSize(column));
    if (growth > 0)
        header->resizeSection(column, header->sectionSize(column) + growth);
}

} // namespace

void MainWindow::buildControls()
{
    auto *client = new QWidget(this);
    client->setFixedSize(px(11295), px(8175));
    setCentralWidget(client);
    buildServerArea(client);
    buildListArea(client);
    buildCommandRow(client);
    buildSampleField(client);
}

void MainWindow::buildServerArea(QWidget *client)
{
    m_servers = new ServerListModel(this);
    m_lvwServers = makeReportView(client, "lvwServers", twipRect(120, 120, 10095, 1380));
    m_lvwServers->setModel(m_servers);
    setColumnWidths(m_lvwServers, {500, 3600, 500, 700, 1350, 1350});
    fitHeaderCaptions(m_lvwServers);
    widenColumnToFit(m_lvwServers, ServerListModel::Port, QStringLiteral("65535"));
    // A row dragged onto another takes its place; nothing from outside the list is taken.
    m_lvwServers->setDragDropMode(QAbstractItemView::InternalMove);
    m_lvwServers->setDragDropOverwriteMode(true);
    m_lvwServers->setDefaultDropAction(Qt::MoveAction);
    m_lvwServers->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_lvwServers, &QWidget::customContextMenuRequested, this, &MainWindow::showServerPopup);
    // Any double click edits, also one beside the rows while a row is selected.
    m_lvwServers->viewport()->installEventFilter(this);

    m_cmdAdd = makeButton(client, "cmdAdd", twipRect(10320, 120, 855, 375), QStringLiteral("Add"), true);
    m_cmdRemove = makeButton(client, "cmdRemove", twipRect(10320, 620, 855, 375), QStringLiteral("Remove"), false);
    m_chkHide = makeCheckBox(client, "chkHide", twipRect(10350, 1120, 975, 255), QStringLiteral(" Hide *"), true);
    widenToFit(m_chkHide, client->width());
    connect(m_cmdAdd, &QPushButton::clicked, this, [this] { openServerEditor(0); });
    connect(m_cmdRemove, &QPushButton::clicked, this, &MainWindow::removeSelectedServers);
    connect(m_chkHide, &QCheckBox::clicked, this, [this](bool hidden) {
        if (m_servers->count() > 0)
            m_servers->setPasswordsHidden(hidden);
    });
}

void MainWindow::buildListArea(QWidget *client)
{
    m_tabStrip = place<QTabBar>(client, "TabStrip", twipRect(120, 1620, 11055, 420));
    m_tabStrip->setExpanding(false);
    m_tabStrip->addTab(QStringLiteral("NZB Data"));
    m_tabStrip->addTab(QStringLiteral("Log"));
    const int panelTop = m_tabStrip->geometry().bottom();
    auto *tabPanel = place<QFrame>(client, "TabPanel", QRect(px(120), panelTop, px(11055), px(1620 + 5295) - panelTop));
    tabPanel->setFrameShape(QFrame::StyledPanel);
    connect(m_tabStrip, &QTabBar::currentChanged, this, &MainWindow::showTab);

    // The list leaves a line below it for the legend of its icons.
    m_lvwItems = makeReportView(client, "lvwItems", twipRect(240, 2040, 10815, kListHeight));
    m_lvwItems->setModel(m_nzb.get());
    setColumnWidths(m_lvwItems, {8300, 600, 690});
    fitHeaderCaptions(m_lvwItems);
    widenColumnToFit(m_lvwItems, NzbModel::PartsColumn, QStringLiteral("999/999"));
    m_lstLog = place<QListView>(client, "lstLog", twipRect(240, 2040, 10815, kListHeight));
    m_lstLog->setModel(&m_log);
    m_lstLog->setUniformItemSizes(true); // keeps a log of a million lines fast
    m_lstLog->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_lstLog->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_lstLog->hide();
    for (QAbstractItemView *target : {static_cast<QAbstractItemView *>(m_lvwItems), static_cast<QAbstractItemView *>(m_lstLog)}) {
        target->setAcceptDrops(true);
        target->viewport()->setAcceptDrops(true);
        target->viewport()->installEventFilter(this);
    }

    m_pb = place<QProgressBar>(client, "PB", twipRect(120, 6990, 11055, 225));
    m_pb->setRange(0, 100);
    m_pb->setValue(0);
    m_pb->setTextVisible(false);
}

void MainWindow::buildCommandRow(QWidget *client)
{
    m_cmdLoadNzb = makeButton(client, "cmdLoadNZB", twipRect(120, 7320, 1215, 375), QStringLiteral("Load NZB"), true);
    connect(m_cmdLoadNzb, &QPushButton::clicked, this, [this] {
        const QString path = m_prompts->openNzbPath();
        if (!path.isEmpty())
            loadNzb(path);
    });
    m_cmdCheck = makeButton(client, "cmdCheck", twipRect(1440, 7320, 1215, 375), kCheckCaption, false);
    connect(m_cmdCheck, &QPushButton::clicked, this, &MainWindow::checkClicked);
    m_checkRefresh.setInterval(33);
    connect(&m_checkRefresh, &QTimer::timeout, this, &MainWindow::refreshCheckView);
    m_cmdCopyLog = makeButton(client, "cmdCopyLog", twipRect(8640, 7320, 1215, 375), QStringLiteral("Copy Log"), false);
    connect(m_cmdCopyLog, &QPushButton::clicked, this, &MainWindow::copyLog);
    m_cmdSaveLog = makeButton(client, "cmdSaveLog", twipRect(9960, 7320, 1215, 375), QStringLiteral("Save Log"), false);
    connect(m_cmdSaveLog, &QPushButton::clicked, this, &MainWindow::saveLog);
    m_chkOnlyFilenames = makeCheckBox(client, "chkOnlyFilenames", twipRect(2880, 7375, 3735, 255),
                                      QStringLiteral("Only show file names when loading the NZB file"), false);
    widenToFit(m_chkOnlyFilenames, m_cmdCopyLog->x() - px(120));
}

// How many bodies a check reads after its passes. The row of the check box has no room left, so
// it stands at the right end of the tab strip's row, above the lists.
void MainWindow::buildSampleField(QWidget *client)
{
    m_txtSample = place<QSpinBox>(client, "txtSample", twipRect(0, 1650, 1200, 330));
    m_txtSample->setRange(0, CheckRun::kLargestSample);
    m_txtSample->setSpecialValueText(QStringLiteral("none"));
    m_txtSample->setToolTip(QStringLiteral("Bodies of found articles to read after the check, to catch servers whose STAT is wrong"));
    m_txtSample->move(px(120 + 11055) - m_txtSample->width(), m_txtSample->y());
    auto *label = place<QLabel>(client, "lblSample", QRect(0, m_txtSample->y(), 0, m_txtSample->height()));
    label->setText(QStringLiteral("Bodies to sample:"));
    label->setBuddy(m_txtSample);
    label->resize(label->sizeHint().width(), label->height());
    label->move(m_txtSample->x() - px(90) - label->width(), label->y());
}

void MainWindow::buildMenus()
{
    QMenu *file = menuBar()->addMenu(QStringLiteral("File"));
    file->setObjectName(QStringLiteral("mnuFile"));
    QAction *exit = file->addAction(QStringLiteral("Exit"), this, &QWidget::close);
    exit->setObjectName(QStringLiteral("mnuExit"));

    QMenu *info = menuBar()->addMenu(QStringLiteral("Info"));
    info->setObjectName(QStringLiteral("mnuI"));
    m_mnuAbout = info->addAction(QStringLiteral("About Orvalis"), this, &MainWindow::showAbout);
    m_mnuAbout->setObjectName(QStringLiteral("mnuAbout"));

    // The server list's context menu; it is not in the menu bar.
    m_mnuPopup = new QMenu(QStringLiteral("mnuPopup"), this);
    m_mnuPopup->setObjectName(QStringLiteral("mnuPopup"));
    m_mnuUp = m_mnuPopup->addAction(QStringLiteral("Move Up"), this, [this] { moveSelectedServers(true); });
    m_mnuUp->setObjectName(QStringLiteral("mnuUp"));
    m_mnuDown = m_mnuPopup->addAction(QStringLiteral("Move Down"), this, [this] { moveSelectedServers(false); });
    m_mnuDown->setObjectName(QStringLiteral("mnuDown"));
}

void MainWindow::buildStatusBar()
{
    QWidget *client = centralWidget();
    m_statusBar = place<QStatusBar>(client, "StatusBar", twipRect(0, 7800, 11295, 375));
    m_statusBar->setSizeGripEnabled(false);
    // The whole width is the status text's: a verdict line is read in full.
    m_statusText = new QLabel(kIdle, m_statusBar);
    m_statusText->setObjectName(QStringLiteral("StatusText"));
    m_statusBar->addWidget(m_statusText, 1);
    buildLegend(client);
}

// The legend of the list's icons, on the line below the list, at its right end.
void MainWindow::buildLegend(QWidget *client)
{
    const QRect list = m_lvwItems->geometry();
    m_legend = place<QWidget>(client, "PContainer", QRect(list.right() + 1 - px(5655), list.bottom() + 3, px(5655), px(270)));
    static constexpr int pictureLefts[] = {0, 1320, 2720, 4070};
    static constexpr int labelLefts[] = {240, 1560, 2960, 4310};
    static constexpr int labelWidths[] = {570, 675, 645, 1185};
    const QString captions[] = {QStringLiteral("Queued"), QStringLiteral("Checking"), QStringLiteral("Available"),
                                QStringLiteral("Missing (partially)")};
    QLabel *label = nullptr;
    for (int i = 0; i < 4; ++i) {
        auto *picture = place<QLabel>(m_legend, "PicArray", twipRect(pictureLefts[i], 10, 255, 255));
        picture->setPixmap(m_statusIcons[size_t(i)].pixmap(picture->size()));
        label = place<QLabel>(m_legend, "lblArray", twipRect(labelLefts[i], 30, labelWidths[i], 195));
        label->setText(captions[i]);
        label->setProperty("index", i);
        picture->setProperty("index", i);
        label->resize(label->width(), m_legend->height() - label->y());
        if (i < 3)
            widenToFit(label, px(pictureLefts[i + 1]) - 2);
    }
    // The last caption ends at the list's right edge; when it does not fit, the legend grows to the left.
    const int overflow = label->x() + label->sizeHint().width() - m_legend->width();
    if (overflow > 0)
        m_legend->setGeometry(m_legend->x() - overflow, m_legend->y(), m_legend->width() + overflow, m_legend->height());
    widenToFit(label, m_legend->width());
}

