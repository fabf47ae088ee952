#pragma once

#include "check/ConnectionPool.h"
#include "nzb/NzbModel.h"
#include "settings/SettingsFile.h"
#include "ui/ActivityLog.h"
#include "ui/UserPrompts.h"

#include <QMainWindow>
#include <QTimer>

#include <array>
#include <memory>

class CheckRun;
class QAction;
class QCheckBox;
class QLabel;
class QListView;
class QProgressBar;
class QSpinBox;
class QPushButton;
class QMenu;
class ServerListModel;
class QStatusBar;
class QTabBar;
class QTreeView;

// The program's one window, frmMain. It shows the models and forwards the user's actions;
// the rules live in the core.
class MainWindow : public QMainWindow
{
    Q_OBJECT
public:
    // `prompts` answers the window's questions; null means Qt's own boxes and dialogs.
    // The servers and options are read from `settingsPath` and written back to it; an empty
    // path keeps them in memory only.
    explicit MainWindow(std::unique_ptr<UserPrompts> prompts = nullptr, const QString &settingsPath = {},
                        QWidget *parent = nullptr);
    ~MainWindow() override;

    // Loads the NZB at `path`, showing the load's boxes; the current NZB stays on any failure.
    void loadNzb(const QString &path);
    // Loads the file a command line names: quotes removed, ignored unless it names an existing file.
    void loadFromCommandLine(const QString &commandLine);

    // Says once, with the window shown, that the settings file could not be read.
    void showSettingsProblem();
    // Opens frmServer for the row at `editPosition`, or to add a server when it is 0; stores and
    // saves on OK.
    void openServerEditor(int editPosition);
    // Writes Settings.dat from the window; shows the failure and answers false when that fails.
    // Declines, with a line in the log, to write over a file that was neither read nor moved aside.
    bool saveSettings();

    // The enable states of a check's phases; the check drives them.
    enum class CheckPhase { Started, Cancelled, Ended };
    void enterCheckPhase(CheckPhase phase);
    bool checkRunning() const { return m_checkRunning; }

    const NzbModel &nzb() const { return *m_nzb; }
    ActivityLog &activityLog() { return m_log; }
    ServerListModel &servers() { return *m_servers; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    static inline const QString kIdle = QStringLiteral(" Idle...");
    static inline const QString kCheckCaption = QStringLiteral("Check NZB");

    void buildControls();
    void buildServerArea(QWidget *client);
    void buildListArea(QWidget *client);
    void buildCommandRow(QWidget *client);
    void buildSampleField(QWidget *client);
    void buildMenus();
    void buildStatusBar();
    void buildLegend(QWidget *client);
    void checkClicked();
    void startCheck();
    void cancelCheck();
    void finishCheck();
    void refreshCheckView();
    void loadSettings();
    void editSelectedServer();
    void removeSelectedServers();
    void showServerPopup(const QPoint &position);
    void moveSelectedServers(bool up);
    QList<int> selectedServerPositions() const;
    void showTab(int index);
    void copyLog();
    void saveLog();
    void showAbout();
    void setLoadedState();
    void showPrompt(UserPrompts::Icon icon, const QString &title, const QStringList &lines);

    std::unique_ptr<UserPrompts> m_prompts;
    std::unique_ptr<NzbModel> m_nzb;
    ActivityLog m_log;
    std::array<QIcon, 4> m_statusIcons;

    QString m_settingsPath;
    QStringList m_settingsProblem; // the box to show once the window is visible
    bool m_keepSettingsFile = false; // it could be neither read nor moved aside
    int m_timeoutSeconds = SettingsContents().timeoutSeconds; // kept from Settings.dat, not edited here
    ServerListModel *m_servers = nullptr;
    QTreeView *m_lvwServers = nullptr;
    QPushButton *m_cmdAdd = nullptr;
    QPushButton *m_cmdRemove = nullptr;
    QCheckBox *m_chkHide = nullptr;
    QTabBar *m_tabStrip = nullptr;
    QTreeView *m_lvwItems = nullptr;
    QListView *m_lstLog = nullptr;
    QProgressBar *m_pb = nullptr;
    QPushButton *m_cmdLoadNzb = nullptr;
    QPushButton *m_cmdCheck = nullptr;
    QCheckBox *m_chkOnlyFilenames = nullptr;
    QSpinBox *m_txtSample = nullptr;
    QPushButton *m_cmdCopyLog = nullptr;
    QPushButton *m_cmdSaveLog = nullptr;
    QStatusBar *m_statusBar = nullptr;
    QLabel *m_statusText = nullptr;
    QWidget *m_legend = nullptr; // of the list's icons, shown with the list
    QAction *m_mnuAbout = nullptr;
    QMenu *m_mnuPopup = nullptr;
    QAction *m_mnuUp = nullptr;
    QAction *m_mnuDown = nullptr;
    bool m_checkRunning = false;
    ConnectionPool m_pool; // the pass's connections, kept for the par2 reading of the same check; outlives m_check
    std::unique_ptr<CheckRun> m_check;
    QTimer m_checkRefresh; // shows the check's progress at the screen's pace
    int m_shownMarkedItem = 0;
};
