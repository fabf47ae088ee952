#include "ui/MainWindow.h"

#include "TestFiles.h"

#include <QApplication>
#include <QCheckBox>
#include <QListView>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QTabBar>
#include <QTest>
#include <QTreeView>

namespace {

struct Message {
    UserPrompts::Icon icon;
    QString title;
    QString text;
};

// Answers the window's questions as a test script says, and records the messages.
class ScriptedPrompts : public UserPrompts
{
public:
    explicit ScriptedPrompts(QList<Message> *messages)
        : m_messages(messages)
    {
    }
    void showMessage(Icon icon, const QString &title, const QString &text) override
    {
        m_messages->append({icon, title, text});
    }
    QString openNzbPath() override { return {}; }
    QString saveLogPath() override { return {}; }

private:
    QList<Message> *m_messages;
};

const QString kSample = QStringLiteral(ORVALIS_TEST_DATA "/sample.nzb");

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void startsIdle();
    void loadSetsCaptionLogAndButtons();
    void failedLoadsKeepTheLoadedNzb();
    void commandLineLoadsOnlyAnExistingFile();
    void tabsSwitchTheLists();
    void dropLoadsTheFirstFileOnly();
    void aboutNamesTheVersion();

private:
    template<typename T>
    T *child(const char *name) const
    {
        T *found = m_window->findChild<T *>(QLatin1String(name));
        if (!found)
            qFatal("no child %s", name);
        return found;
    }

    QList<Message> m_messages;
    MainWindow *m_window = nullptr;
};

void TestMainWindow::init()
{
    m_messages.clear();
    m_window = new MainWindow(std::make_unique<ScriptedPrompts>(&m_messages));
}

void TestMainWindow::cleanup()
{
    delete m_window;
}

void TestMainWindow::startsIdle()
{
    QCOMPARE(m_window->objectName(), QStringLiteral("frmMain"));
    QCOMPARE(m_window->windowTitle(), QStringLiteral("Orvalis"));
    QVERIFY(child<QPushButton>("cmdLoadNZB")->isEnabled());
    QVERIFY(child<QPushButton>("cmdAdd")->isEnabled());
    for (const char *name : {"cmdCheck", "cmdRemove", "cmdCopyLog", "cmdSaveLog"})
        QVERIFY2(!child<QPushButton>(name)->isEnabled(), name);
    QCOMPARE(child<QPushButton>("cmdCheck")->text(), QStringLiteral("Check NZB"));
    QVERIFY(child<QCheckBox>("chkHide")->isChecked());
    QVERIFY(!child<QCheckBox>("chkOnlyFilenames")->isChecked());
    QCOMPARE(child<QTreeView>("lvwServers")->model()->rowCount(), 0);
    QCOMPARE(child<QTreeView>("lvwServers")->model()->columnCount(), 6);
    QVERIFY(!(m_window->windowFlags() & Qt::WindowMaximizeButtonHint));
    QVERIFY(child<QMenu>("mnuPopup"));
}

void TestMainWindow::loadSetsCaptionLogAndButtons()
{
    m_window->loadNzb(kSample + QStringLiteral("  "));
    QCOMPARE(m_window->windowTitle(), QStringLiteral("Orvalis (0/5)"));
    for (const char *name : {"cmdCheck", "cmdCopyLog", "cmdSaveLog"})
        QVERIFY2(child<QPushButton>(name)->isEnabled(), name);
    QCOMPARE(child<QTreeView>("lvwItems")->model()->rowCount(), 3);
    const QStringList log = m_window->activityLog().lines();
    QCOMPARE(log.size(), 8);
    QCOMPARE(log[0], QStringLiteral("NZB file: ") + kSample);
    QCOMPARE(m_messages.size(), 1);
    QCOMPARE(m_messages[0].icon, UserPrompts::Icon::Warning);
    QCOMPARE(m_messages[0].title, QStringLiteral("Orvalis"));
    QVERIFY(m_messages[0].text.startsWith(
        QStringLiteral("NZB successfully loaded, but 1 of the required Message-ID's is/are missing from the NZB file. \r\n\r\n")));

    // The names-only option is read at load time.
    child<QCheckBox>("chkOnlyFilenames")->setChecked(true);
    m_window->loadNzb(kSample);
    QCOMPARE(m_window->nzb().item(1).name, QStringLiteral("holiday.part1.rar"));
}

void TestMainWindow::failedLoadsKeepTheLoadedNzb()
{
    m_window->loadNzb(kSample);
    m_window->activityLog().append(QStringLiteral("a line of a check"));
    m_messages.clear();

    QTemporaryDir dir;
    m_window->loadNzb(writeTestFile(dir, QStringLiteral("broken.nzb"), "<nzb>\n<file>\n"));
    QCOMPARE(m_messages.size(), 1);
    QCOMPARE(m_messages[0].title, QStringLiteral("Orvalis"));
    QVERIFY(m_messages[0].text.startsWith(QStringLiteral("Error number: ")));
    m_window->loadNzb(dir.filePath(QStringLiteral("missing.nzb")));
    QCOMPARE(m_messages.size(), 2);
    QCOMPARE(m_messages[1].icon, UserPrompts::Icon::Critical);
    QCOMPARE(m_messages[1].title, QStringLiteral("Error loading NZB"));
    QCOMPARE(m_messages[1].text, QStringLiteral("53 - File not found"));

    QCOMPARE(m_window->windowTitle(), QStringLiteral("Orvalis (0/5)"));
    QCOMPARE(m_window->nzb().itemCount(), 3);
    QCOMPARE(m_window->activityLog().lines().size(), 9);
}

void TestMainWindow::commandLineLoadsOnlyAnExistingFile()
{
    QTemporaryDir dir;
    m_window->loadFromCommandLine(dir.path());
    m_window->loadFromCommandLine(dir.filePath(QStringLiteral("none.nzb")));
    QCOMPARE(m_window->windowTitle(), QStringLiteral("Orvalis"));
    QVERIFY(m_messages.isEmpty());

    const QString spaced = writeTestFile(dir, QStringLiteral("with blanks.nzb"),
                                         "<nzb><file subject=\"a (1/1)\"><segments><segment>a@x</segment></segments></file></nzb>");
    m_window->loadFromCommandLine(u'"' + spaced.left(5) + u'"' + spaced.mid(5) + u'"');
    QCOMPARE(m_window->windowTitle(), QStringLiteral("Orvalis (0/1)"));
}

void TestMainWindow::tabsSwitchTheLists()
{
    m_window->show();
    auto *items = child<QTreeView>("lvwItems");
    auto *log = child<QListView>("lstLog");
    QVERIFY(items->isVisible() && !log->isVisible());
    child<QTabBar>("TabStrip")->setCurrentIndex(1);
    QVERIFY(!items->isVisible() && log->isVisible());
    QCOMPARE(log->geometry(), items->geometry());
    child<QTabBar>("TabStrip")->setCurrentIndex(0);
    QVERIFY(items->isVisible() && !log->isVisible());
}

void TestMainWindow::dropLoadsTheFirstFileOnly()
{
    QTemporaryDir dir;
    const QString second = writeTestFile(dir, QStringLiteral("second.nzb"), "not xml");
    auto *log = child<QListView>("lstLog");
    m_window->show();
    child<QTabBar>("TabStrip")->setCurrentIndex(1); // Qt delivers drops to visible widgets only

    const auto dragAndDrop = [log](QMimeData *mime) {
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(log->viewport(), &enter);
        QDropEvent drop(QPointF(10, 10), Qt::CopyAction, mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(log->viewport(), &drop);
        return enter.isAccepted();
    };
    QMimeData text;
    text.setText(kSample);
    QVERIFY(!dragAndDrop(&text));
    QCOMPARE(m_window->windowTitle(), QStringLiteral("Orvalis"));

    QMimeData files;
    files.setUrls({QUrl::fromLocalFile(kSample), QUrl::fromLocalFile(second)});
    QVERIFY(dragAndDrop(&files));
    QCOMPARE(m_window->windowTitle(), QStringLiteral("Orvalis (0/5)"));
    QCOMPARE(m_messages.size(), 1); // the incomplete-NZB warning, no parse error of the second file
}

void TestMainWindow::aboutNamesTheVersion()
{
    child<QAction>("mnuAbout")->trigger();
    QCOMPARE(m_messages.size(), 1);
    QCOMPARE(m_messages[0].icon, UserPrompts::Icon::Information);
    QCOMPARE(m_messages[0].title, QStringLiteral("Orvalis"));
    QVERIFY(m_messages[0].text.startsWith(QStringLiteral("Orvalis v2.0.391\r\n")));
    QCOMPARE(m_messages[0].text.count(QStringLiteral("\r\n")), 1);
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
