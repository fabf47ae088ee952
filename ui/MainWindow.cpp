#include "ui/MainWindow.h"

#include "check/CheckRun.h"
#include "nzb/NzbLoader.h"
#include "servers/ServerListModel.h"
#include "settings/SettingsFile.h"
#include "ui/ServerDialog.h"
#include "ui/StatusIcons.h"
#include "ui/WindowLayout.h"

#include <QApplication>
#include <climits>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QListView>
#include <QMenuBar>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QTabBar>
#include <QTreeView>

namespace {

const QString kTitle = QStringLiteral("Orvalis");
const QString kIdle = QStringLiteral(" Idle...");
const QString kCheckCaption = QStringLiteral("Check NZB");

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

QString localFileOf(const QMimeData *mime)
{
    if (!mime || !mime->hasUrls() || mime->urls().isEmpty())
        return {};
    const QUrl first = mime->urls().constFirst();
    return first.isLocalFile() ? first.toLocalFile() : QString();
}

} // namespace

MainWindow::MainWindow(std::unique_ptr<UserPrompts> prompts, const QString &settingsPath, QWidget *parent)
    : QMainWindow(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint
                              | Qt::WindowCloseButtonHint)
    , m_prompts(prompts ? std::move(prompts) : std::make_unique<QtPrompts>(this))
    , m_nzb(std::make_unique<NzbModel>())
    , m_statusIcons(statusIcons())
    , m_settingsPath(settingsPath)
{
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(kTitle);
    setWindowIcon(m_statusIcons[2]);
    buildControls();
    buildMenus();
    buildStatusBar();
    setFixedSize(sizeHint());
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    loadSettings();
}

MainWindow::~MainWindow() = default;

void MainWindow::buildControls()
{
    auto *client = new QWidget(this);
    client->setFixedSize(px(11295), px(8175));
    setCentralWidget(client);
    buildServerArea(client);
    buildListArea(client);
    buildCommandRow(client);
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

    m_lvwItems = makeReportView(client, "lvwItems", twipRect(240, 2040, 10815, 4740));
    m_lvwItems->setModel(m_nzb.get());
    setColumnWidths(m_lvwItems, {8300, 600, 690});
    fitHeaderCaptions(m_lvwItems);
    widenColumnToFit(m_lvwItems, NzbModel::PartsColumn, QStringLiteral("999/999"));
    m_lstLog = place<QListView>(client, "lstLog", twipRect(240, 2040, 10815, 4740));
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
    m_statusText = new QLabel(kIdle, m_statusBar);
    QLabel *status = m_statusText;
    status->setObjectName(QStringLiteral("StatusText"));
    status->setFixedWidth(px(5500));
    m_statusBar->addWidget(status);

    // The legend lies on the right part of the status bar.
    auto *legend = place<QWidget>(client, "PContainer", twipRect(5615, 7880, 5655, 270));
    static constexpr int pictureLefts[] = {0, 1320, 2720, 4070};
    static constexpr int labelLefts[] = {240, 1560, 2960, 4310};
    static constexpr int labelWidths[] = {570, 675, 645, 1185};
    const QString captions[] = {QStringLiteral("Queued"), QStringLiteral("Checking"), QStringLiteral("Available"),
                                QStringLiteral("Missing (partially)")};
    QLabel *label = nullptr;
    for (int i = 0; i < 4; ++i) {
        auto *picture = place<QLabel>(legend, "PicArray", twipRect(pictureLefts[i], 10, 255, 255));
        picture->setPixmap(m_statusIcons[size_t(i)].pixmap(picture->size()));
        label = place<QLabel>(legend, "lblArray", twipRect(labelLefts[i], 30, labelWidths[i], 195));
        label->setText(captions[i]);
        label->setProperty("index", i);
        picture->setProperty("index", i);
        label->resize(label->width(), legend->height() - label->y());
        if (i < 3)
            widenToFit(label, px(pictureLefts[i + 1]) - 2);
    }
    // The last caption ends at the window's edge; when it does not fit, the legend grows to the
    // left over the unused end of the status text's panel.
    const int overflow = label->x() + label->sizeHint().width() - legend->width();
    if (overflow > 0) {
        legend->setGeometry(legend->x() - overflow, legend->y(), legend->width() + overflow, legend->height());
        status->setFixedWidth(qMin(status->width(), legend->x()));
    }
    widenToFit(label, legend->width());
    legend->raise();
}

void MainWindow::loadSettings()
{
    if (m_settingsPath.isEmpty())
        return;
    const SettingsLoadResult loaded = LoadSettingsFile(m_settingsPath);
    for (const ServerRecord &server : loaded.read.contents.servers)
        m_servers->appendServer(server, m_chkHide->isChecked() && !server.rowKey.isEmpty());
    if (loaded.read.optionsRead) {
        m_chkOnlyFilenames->setCheckState(Qt::CheckState(loaded.read.contents.namesOnly));
        m_timeoutSeconds = loaded.read.contents.timeoutSeconds;
        const std::array<int, 9> &widths = loaded.read.contents.columnWidths;
        for (int k = 0; k < 9; ++k)
            (k < 6 ? m_lvwServers : m_lvwItems)->header()->resizeSection(k < 6 ? k : k - 6, widths[size_t(k)]);
    }
    // A listed server can always be removed, also after a file that was read only in part.
    m_cmdRemove->setEnabled(m_servers->count() > 0);
    if (loaded.read.problem.isEmpty())
        return;
    m_settingsProblem << QStringLiteral("The settings in %1 could not be read: %2.").arg(m_settingsPath, loaded.read.problem);
    m_settingsProblem << (loaded.keptAs.isEmpty() ? QStringLiteral("The file could not be moved aside and was left as it is.")
                                                  : QStringLiteral("The file was kept as %1.").arg(loaded.keptAs));
    if (m_servers->count() > 0)
        m_settingsProblem << QStringLiteral("The servers read before the fault are listed.");
}

void MainWindow::showSettingsProblem()
{
    if (!m_settingsProblem.isEmpty())
        showPrompt(UserPrompts::Icon::Warning, kTitle, std::exchange(m_settingsProblem, {}));
}

bool MainWindow::saveSettings()
{
    if (m_settingsPath.isEmpty())
        return false;
    SettingsContents contents;
    contents.servers = m_servers->servers();
    contents.namesOnly = int(m_chkOnlyFilenames->checkState());
    contents.timeoutSeconds = m_timeoutSeconds;
    for (int k = 0; k < 9; ++k)
        contents.columnWidths[size_t(k)] = (k < 6 ? m_lvwServers : m_lvwItems)->header()->sectionSize(k < 6 ? k : k - 6);
    const std::optional<SettingsSaveError> error = SaveSettingsFile(m_settingsPath, contents);
    if (error)
        m_prompts->showMessage(UserPrompts::Icon::Critical, QStringLiteral("Error saving queue"),
                               QString::number(error->code) + QLatin1String(" - ") + error->description);
    return !error;
}

void MainWindow::openServerEditor(int editPosition)
{
    ServerDialog dialog(*m_servers, editPosition, *m_prompts, this);
    dialog.setIdleTimeoutSeconds(m_timeoutSeconds);
    if (dialog.exec() != QDialog::Accepted)
        return;
    ServerRecord record = dialog.record();
    const bool masked = m_chkHide->isChecked() && !record.password().isEmpty();
    if (editPosition > 0) {
        record.checked = m_servers->server(editPosition).checked;
        m_servers->replaceServer(editPosition, std::move(record), masked);
    } else {
        record.checked = true;
        m_servers->appendServer(std::move(record), masked);
    }
    m_cmdRemove->setEnabled(true);
    saveSettings();
}

QList<int> MainWindow::selectedServerPositions() const
{
    QList<int> positions;
    for (const QModelIndex &index : m_lvwServers->selectionModel()->selectedRows())
        positions << index.row() + 1;
    std::sort(positions.begin(), positions.end());
    return positions;
}

void MainWindow::editSelectedServer()
{
    const QList<int> selected = selectedServerPositions();
    if (!selected.isEmpty())
        openServerEditor(selected.constFirst());
}

void MainWindow::removeSelectedServers()
{
    m_servers->removeServers(selectedServerPositions());
    m_cmdRemove->setEnabled(m_servers->count() > 0);
    saveSettings();
}

void MainWindow::showServerPopup(const QPoint &position)
{
    const QModelIndex clicked = m_lvwServers->indexAt(position);
    if (clicked.isValid()) {
        m_mnuUp->setEnabled(clicked.row() > 0);
        m_mnuDown->setEnabled(clicked.row() + 1 < m_servers->count());
        m_mnuPopup->exec(m_lvwServers->viewport()->mapToGlobal(position));
    }
    m_mnuUp->setEnabled(true);
    m_mnuDown->setEnabled(true);
}

void MainWindow::moveSelectedServers(bool up)
{
    const QList<int> selected = selectedServerPositions();
    if (up)
        m_servers->MoveItemsUp(selected);
    else
        m_servers->MoveItemsDown(selected);
    saveSettings();
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    if (m_checkRunning) {
        m_check->stop(); // QUIT on every connection; nothing more of the check is handled
        m_checkRefresh.stop();
        m_log.flush();
    }
    saveSettings();
    event->accept();
}

void MainWindow::showTab(int index)
{
    m_lvwItems->setVisible(index == 0);
    m_lstLog->setVisible(index == 1);
}

void MainWindow::loadNzb(const QString &path)
{
    LoadOptions options;
    options.namesOnly = m_chkOnlyFilenames->isChecked();
    options.now = QDateTime::currentDateTime();
    options.decimalSeparator = locale().decimalPoint().front();
    options.previousGroupName = m_nzb->groupName();

    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    NzbLoadResult result = LoadNzb(path, options);
    QGuiApplication::restoreOverrideCursor();

    switch (result.kind) {
    case NzbLoadResult::Kind::Loaded: {
        m_check.reset(); // it answered about the NZB that goes now
        std::unique_ptr<NzbModel> previous = std::exchange(m_nzb, std::move(result.model));
        m_nzb->setStatusIcons({m_statusIcons[0], m_statusIcons[1], m_statusIcons[2], m_statusIcons[3]});
        QItemSelectionModel *oldSelection = m_lvwItems->selectionModel();
        m_lvwItems->setModel(m_nzb.get());
        delete oldSelection;
        m_log.replaceWith(m_nzb->summary().logLines());
        setLoadedState();
        if (!result.warningLines.isEmpty())
            showPrompt(UserPrompts::Icon::Warning, kTitle, result.warningLines);
        break;
    }
    case NzbLoadResult::Kind::ParseError:
        showPrompt(UserPrompts::Icon::Warning, result.boxTitle(), result.boxLines());
        break;
    case NzbLoadResult::Kind::Failure:
        showPrompt(UserPrompts::Icon::Critical, result.boxTitle(), result.boxLines());
        break;
    }
}

void MainWindow::setLoadedState()
{
    setWindowTitle(kTitle + QLatin1String(" (0/") + QString::number(m_nzb->articleQueue().count()) + u')');
    m_cmdCheck->setEnabled(true);
    m_cmdCopyLog->setEnabled(true);
    m_cmdSaveLog->setEnabled(true);
}

void MainWindow::enterCheckPhase(CheckPhase phase)
{
    m_checkRunning = phase == CheckPhase::Started;
    const bool idle = !m_checkRunning;
    for (QWidget *control : {static_cast<QWidget *>(m_cmdLoadNzb), static_cast<QWidget *>(m_cmdCopyLog),
                             static_cast<QWidget *>(m_cmdSaveLog), static_cast<QWidget *>(m_cmdAdd),
                             static_cast<QWidget *>(m_cmdRemove), static_cast<QWidget *>(m_lvwServers)})
        control->setEnabled(idle);
    m_mnuAbout->setEnabled(idle);
    m_cmdCheck->setText(m_checkRunning ? QStringLiteral("Cancel") : kCheckCaption);
    m_cmdCheck->setEnabled(phase != CheckPhase::Ended);
    if (idle)
        m_statusText->setText(kIdle);
}

void MainWindow::checkClicked()
{
    if (m_servers->count() == 0) {
        showPrompt(UserPrompts::Icon::Warning, kTitle,
                   {QStringLiteral("No newsservers added. "), QStringLiteral("Please add a newsserver first. ")});
        openServerEditor(0);
    } else if (m_checkRunning) {
        cancelCheck();
    } else {
        startCheck();
    }
}

void MainWindow::startCheck()
{
    std::vector<CheckServer> servers;
    for (int position = 1; position <= m_servers->count(); ++position) {
        if (m_servers->IsItemChecked(position))
            servers.push_back(CheckServer::fromRecord(m_servers->server(position)));
    }
    if (servers.empty()) {
        showPrompt(UserPrompts::Icon::Warning, kTitle,
                   {QStringLiteral("No newsserver enabled. "),
                    QStringLiteral("Please tick a checkbox in front of a newsserver to enable it. ")});
        return;
    }
    enterCheckPhase(CheckPhase::Started);
    m_check = std::make_unique<CheckRun>(*m_nzb, std::move(servers), locale().decimalPoint().front());
    ConnectionOptions connectionOptions;
    connectionOptions.idleTimeoutSeconds = m_timeoutSeconds;
    m_check->setConnectionOptions(connectionOptions);
    connect(m_check.get(), &CheckRun::logLine, &m_log, qOverload<const QString &>(&ActivityLog::append));
    connect(m_check.get(), &CheckRun::finished, this, &MainWindow::finishCheck, Qt::QueuedConnection);
    m_nzb->setCollectRowChanges(true);
    m_shownMarkedItem = 0;
    m_checkRefresh.start();
    m_check->start();
    refreshCheckView();
}

void MainWindow::cancelCheck()
{
    m_check->cancel();
    m_checkRefresh.stop();
    m_nzb->setCollectRowChanges(false);
    m_pb->setValue(0);
    enterCheckPhase(CheckPhase::Cancelled);
    setWindowTitle(kTitle + QStringLiteral(" (0/%1)").arg(m_nzb->articleQueue().count()));
    m_log.replaceWith(m_nzb->summary().logLines());
}

// Queued, so the box comes after the connections' own events have unwound.
void MainWindow::finishCheck()
{
    if (!m_check || m_check->isRunning() || !m_checkRunning)
        return;
    m_checkRefresh.stop();
    refreshCheckView();
    m_nzb->setCollectRowChanges(false);
    m_log.flush();
    setWindowTitle(kTitle);
    enterCheckPhase(CheckPhase::Ended);
    m_statusText->setText(u' ' + m_check->judgement().worstLine());
    showPrompt(UserPrompts::Icon::Information, kTitle, {QStringLiteral("Finished checking NZB file.")});
}

void MainWindow::refreshCheckView()
{
    m_nzb->flushRowChanges();
    m_pb->setMaximum(int(qMin<qsizetype>(m_check->queueCount(), INT_MAX)));
    m_pb->setValue(int(qMin<qsizetype>(m_check->progressValue(), INT_MAX)));
    if (m_check->captionPosition() > 0)
        setWindowTitle(kTitle + QStringLiteral(" (%1/%2)").arg(m_check->captionPosition()).arg(m_check->queueCount()));
    if (!m_check->statusText().isEmpty())
        m_statusText->setText(m_check->statusText());
    if (m_check->lastMarkedItem() != m_shownMarkedItem) {
        m_shownMarkedItem = m_check->lastMarkedItem();
        const QModelIndex row = m_nzb->index(m_shownMarkedItem - 1, 0);
        m_lvwItems->selectionModel()->setCurrentIndex(row, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        m_lvwItems->scrollTo(row);
    }
}

void MainWindow::loadFromCommandLine(const QString &commandLine)
{
    if (commandLine.isEmpty())
        return;
    QString path = commandLine;
    path.remove(u'"');
    const QFileInfo info(path);
    if (info.exists() && !info.isDir())
        loadNzb(path);
}

void MainWindow::copyLog()
{
    QClipboard *clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    clipboard->setText(m_log.copyText());
}

void MainWindow::saveLog()
{
    const QString path = m_prompts->saveLogPath();
    if (path.isEmpty())
        return;
    const QString error = m_log.saveTo(path);
    if (!error.isEmpty())
        showPrompt(UserPrompts::Icon::Warning, kTitle,
                   {QStringLiteral("The log could not be saved to %1.").arg(path), error});
}

void MainWindow::showAbout()
{
    showPrompt(UserPrompts::Icon::Information, kTitle,
               {QStringLiteral("Orvalis v") + QStringLiteral(ORVALIS_VERSION),
                QStringLiteral("Checks that the posts of an NZB file still exist. Free software, without warranty.")});
}

void MainWindow::showPrompt(UserPrompts::Icon icon, const QString &title, const QStringList &lines)
{
    m_prompts->showMessage(icon, title, joinBoxLines(lines));
}

bool MainWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_lvwServers->viewport() && event->type() == QEvent::MouseButtonDblClick) {
        editSelectedServer();
        return true;
    }
    const bool dropTarget = watched == m_lvwItems->viewport() || watched == m_lstLog->viewport();
    if (!dropTarget)
        return QMainWindow::eventFilter(watched, event);
    if (event->type() == QEvent::DragEnter || event->type() == QEvent::DragMove) {
        auto *drag = static_cast<QDragMoveEvent *>(event);
        if (!m_checkRunning && !localFileOf(drag->mimeData()).isEmpty())
            drag->acceptProposedAction();
        else
            drag->ignore();
        return true;
    }
    if (event->type() == QEvent::Drop) {
        auto *drop = static_cast<QDropEvent *>(event);
        const QString path = localFileOf(drop->mimeData());
        if (m_checkRunning || path.isEmpty())
            return true;
        drop->acceptProposedAction();
        loadNzb(path);
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}
