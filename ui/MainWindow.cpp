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
#include <QMenu>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QScreen>
#include <QTreeView>

namespace {

const QString kTitle = QStringLiteral("Orvalis");

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
        m_txtSample->setValue(loaded.read.contents.sampleCount);
        const std::array<int, 9> &widths = loaded.read.contents.columnWidths;
        for (int k = 0; k < 9; ++k)
            (k < 6 ? m_lvwServers : m_lvwItems)->header()->resizeSection(k < 6 ? k : k - 6, widths[size_t(k)]);
    }
    // A listed server can always be removed, also after a file that was read only in part.
    m_cmdRemove->setEnabled(m_servers->count() > 0);
    if (loaded.read.problem.isEmpty())
        return;
    m_settingsProblem << QStringLiteral("The settings in %1 could not be read: %2.").arg(m_settingsPath, loaded.read.problem);
    // Written over, the one copy of the user's servers would be lost.
    m_keepSettingsFile = loaded.keptAs.isEmpty();
    m_settingsProblem << (m_keepSettingsFile ? QStringLiteral("The file could not be moved aside and was left as it is. It is not written "
                                                              "over: the server list is kept in memory only, until Orvalis closes.")
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
    if (m_keepSettingsFile) {
        m_log.append(QStringLiteral("The servers were not saved: %1 could not be read or moved aside, and it is not written over.").arg(m_settingsPath));
        return false;
    }
    SettingsContents contents;
    contents.servers = m_servers->servers();
    contents.namesOnly = int(m_chkOnlyFilenames->checkState());
    contents.timeoutSeconds = m_timeoutSeconds;
    contents.sampleCount = m_txtSample->value();
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
        m_pool.quitAll();
        m_checkRefresh.stop();
        m_log.flush();
    }
    saveSettings();
    event->accept();
}

void MainWindow::showTab(int index)
{
    m_lvwItems->setVisible(index == 0);
    m_legend->setVisible(index == 0);
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
    m_check->setConnectionPool(&m_pool);
    m_check->setSampleCount(m_txtSample->value());
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
    m_pool.quitAll();
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
    m_pool.quitAll();
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
