#include "ui/MainWindow.h"

#include "GzipBytes.h"
#include "ScriptedPrompts.h"
#include "TestFiles.h"

#include "ui/StatusIcons.h"

#include <QApplication>
#include <QClipboard>
#include <QFileDialog>
#include <QLabel>
#include <QTimer>
#include <QCheckBox>
#include <QListView>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QTabBar>
#include <QTest>
#include <QTreeView>

namespace {

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
    void followsTheCheckPhases();
    void loadButtonUsesTheOpenDialog();
    void copiesAndSavesTheLog();
    void laysControlsOutAsDesigned();
    void drawsCrispStatusIcons();
    void dialogsStartInTheFolderUsedLast();
    void loadsCompressedNzbsEveryWay();

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
    QString m_dialogAnswer;
    MainWindow *m_window = nullptr;
};

void TestMainWindow::init()
{
    m_messages.clear();
    m_dialogAnswer.clear();
    m_window = new MainWindow(std::make_unique<ScriptedPrompts>(&m_messages, &m_dialogAnswer));
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
    m_window->enterCheckPhase(MainWindow::CheckPhase::Started);
    QVERIFY(!dragAndDrop(&files));
    QCOMPARE(m_window->windowTitle(), QStringLiteral("Orvalis"));
    m_window->enterCheckPhase(MainWindow::CheckPhase::Cancelled);
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

void TestMainWindow::loadButtonUsesTheOpenDialog()
{
    child<QPushButton>("cmdLoadNZB")->click(); // cancelled
    QCOMPARE(m_window->windowTitle(), QStringLiteral("Orvalis"));
    m_dialogAnswer = kSample;
    child<QPushButton>("cmdLoadNZB")->click();
    QCOMPARE(m_window->windowTitle(), QStringLiteral("Orvalis (0/5)"));
}

void TestMainWindow::copiesAndSavesTheLog()
{
    m_window->loadNzb(kSample);
    m_messages.clear();
    const QString expected = m_window->activityLog().lines().join(QStringLiteral("\r\n")) + QStringLiteral("\r\n");

    child<QPushButton>("cmdCopyLog")->click();
    QCOMPARE(QGuiApplication::clipboard()->text(), expected);

    QTemporaryDir dir;
    m_dialogAnswer = dir.filePath(QStringLiteral("log.txt"));
    child<QPushButton>("cmdSaveLog")->click();
    QFile saved(m_dialogAnswer);
    QVERIFY(saved.open(QIODevice::ReadOnly));
    QCOMPARE(saved.readAll(), expected.toUtf8());
    QVERIFY(m_messages.isEmpty());

    m_dialogAnswer = dir.filePath(QStringLiteral("no-such-folder/log.txt"));
    child<QPushButton>("cmdSaveLog")->click();
    QCOMPARE(m_messages.size(), 1);
    QCOMPARE(m_messages[0].title, QStringLiteral("Orvalis"));
    QVERIFY(m_messages[0].text.startsWith(QStringLiteral("The log could not be saved to ") + m_dialogAnswer));
    QCOMPARE(m_window->activityLog().lines().size(), 8);
}

void TestMainWindow::laysControlsOutAsDesigned()
{
    // Twips at 15 to the pixel.
    QCOMPARE(child<QWidget>("cmdCheck")->geometry(), QRect(96, 488, 81, 25));
    QCOMPARE(child<QWidget>("lvwItems")->geometry(), QRect(16, 136, 721, 316));
    QCOMPARE(m_window->centralWidget()->size(), QSize(753, 545));

    // Widened captions never reach the next control.
    const QRect names = child<QWidget>("chkOnlyFilenames")->geometry();
    QVERIFY(names.right() < child<QWidget>("cmdCopyLog")->x());

    // The legend reads inside the status bar, in the order of the statuses.
    const QRect bar = child<QWidget>("StatusBar")->geometry();
    auto *legend = child<QWidget>("PContainer");
    QVERIFY(bar.contains(legend->geometry()));
    QStringList captions;
    int previousRight = -1;
    for (QLabel *label : legend->findChildren<QLabel *>(QStringLiteral("lblArray"))) {
        captions << label->text();
        QVERIFY(label->x() > previousRight);
        QVERIFY(label->geometry().right() <= legend->width());
        QVERIFY(label->width() >= label->sizeHint().width());
        previousRight = label->geometry().right();
    }
    QCOMPARE(captions, (QStringList{"Queued", "Checking", "Available", "Missing (partially)"}));
}

void TestMainWindow::drawsCrispStatusIcons()
{
    const std::array<QIcon, 4> icons = statusIcons();
    const QColor expected[] = {Qt::yellow, Qt::blue, Qt::green, Qt::red};
    for (size_t i = 0; i < icons.size(); ++i) {
        const QImage image = icons[i].pixmap(QSize(16, 16), 2.0).toImage();
        QCOMPARE(image.size(), QSize(32, 32)); // drawn at the screen's resolution, not scaled up
        QCOMPARE(image.pixelColor(0, 0).alpha(), 0);
        const QColor centre = image.pixelColor(16, 16);
        const int hueDistance = qAbs(centre.hsvHue() - QColor(expected[i]).hsvHue());
        QVERIFY2(qMin(hueDistance, 360 - hueDistance) < 30, qPrintable(QString::number(i)));
    }
}

void TestMainWindow::dialogsStartInTheFolderUsedLast()
{
    QTemporaryDir dir;
    const QString nzb = writeTestFile(dir, QStringLiteral("x.nzb"), "<nzb/>");
    QtPrompts prompts(m_window);
    QString startFolder;
    const auto answer = [&startFolder](const QString &path) {
        QTimer::singleShot(0, [&startFolder, path] {
            auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            startFolder = dialog->directory().absolutePath();
            if (path.isEmpty()) {
                dialog->reject();
            } else {
                dialog->selectFile(path);
                static_cast<QDialog *>(dialog)->accept(); // QFileDialog hides accept()
            }
        });
    };
    answer(nzb);
    QCOMPARE(prompts.openNzbPath(), nzb);
    QCOMPARE(prompts.lastDialogFolder(), dir.path() + u'/');

    answer(QString());
    QCOMPARE(prompts.saveLogPath(), QString());
    QCOMPARE(startFolder, dir.path());
    QCOMPARE(prompts.lastDialogFolder(), dir.path() + u'/');

    answer(dir.filePath(QStringLiteral("saved")));
    QCOMPARE(prompts.saveLogPath(), dir.filePath(QStringLiteral("saved.txt")));
    QCOMPARE(FolderOfPath(QStringLiteral("no-folder")), QString());
}

void TestMainWindow::loadsCompressedNzbsEveryWay()
{
    QFile sample(kSample);
    QVERIFY(sample.open(QIODevice::ReadOnly));
    QTemporaryDir dir;
    const QString packed = writeTestFile(dir, QStringLiteral("sample.nzb.gz"), gzipped(sample.readAll()));

    QtPrompts prompts(m_window);
    QStringList filters;
    QTimer::singleShot(0, [&filters, packed] {
        auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
        QVERIFY(dialog);
        filters = dialog->nameFilters();
        dialog->selectFile(packed);
        static_cast<QDialog *>(dialog)->accept();
    });
    QCOMPARE(prompts.openNzbPath(), packed);
    QCOMPARE(filters, QStringList{QStringLiteral("NZB Files (*.nzb *.nzb.gz)")});

    m_window->loadFromCommandLine(packed);
    QCOMPARE(m_window->windowTitle(), QStringLiteral("Orvalis (0/5)"));
    QCOMPARE(m_window->activityLog().lines()[0], QStringLiteral("NZB file: ") + packed);

    // A damaged one says so and keeps what was loaded.
    m_messages.clear();
    const QString cut = writeTestFile(dir, QStringLiteral("cut.nzb.gz"), gzipped("<nzb>\n").chopped(3));
    m_window->loadNzb(cut);
    QCOMPARE(m_messages.size(), 1);
    QCOMPARE(m_messages[0].title, QStringLiteral("Error loading NZB"));
    QCOMPARE(m_messages[0].text,
             QStringLiteral("1003 - The file is not a valid gzip file: it ends in the middle of the compressed data"));
    QCOMPARE(m_window->nzb().itemCount(), 3);

    m_window->show();
    child<QTabBar>("TabStrip")->setCurrentIndex(1);
    auto *log = child<QListView>("lstLog");
    m_window->loadNzb(writeTestFile(dir, QStringLiteral("one.nzb"),
                                    "<nzb><file subject=\"a (1/1)\"><segments><segment>a@x</segment></segments></file></nzb>"));
    QCOMPARE(m_window->windowTitle(), QStringLiteral("Orvalis (0/1)"));
    QMimeData files;
    files.setUrls({QUrl::fromLocalFile(packed)});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &files, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(log->viewport(), &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &files, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(log->viewport(), &drop);
    QCOMPARE(m_window->windowTitle(), QStringLiteral("Orvalis (0/5)"));
}

void TestMainWindow::followsTheCheckPhases()
{
    m_window->loadNzb(kSample);
    const auto enabled = [this](const char *name) { return child<QWidget>(name)->isEnabled(); };
    auto *check = child<QPushButton>("cmdCheck");

    m_window->enterCheckPhase(MainWindow::CheckPhase::Started);
    QVERIFY(m_window->checkRunning());
    QCOMPARE(check->text(), QStringLiteral("Cancel"));
    QVERIFY(check->isEnabled());
    for (const char *name : {"cmdLoadNZB", "cmdCopyLog", "cmdSaveLog", "cmdAdd", "cmdRemove", "lvwServers"})
        QVERIFY2(!enabled(name), name);
    QVERIFY(!child<QAction>("mnuAbout")->isEnabled());

    m_window->enterCheckPhase(MainWindow::CheckPhase::Cancelled);
    QCOMPARE(check->text(), QStringLiteral("Check NZB"));
    QVERIFY(check->isEnabled());
    for (const char *name : {"cmdLoadNZB", "cmdCopyLog", "cmdSaveLog", "cmdAdd", "cmdRemove", "lvwServers"})
        QVERIFY2(enabled(name), name);
    QCOMPARE(child<QLabel>("StatusText")->text(), QStringLiteral(" Idle..."));

    m_window->enterCheckPhase(MainWindow::CheckPhase::Started);
    m_window->enterCheckPhase(MainWindow::CheckPhase::Ended);
    QVERIFY(!check->isEnabled());
    QVERIFY(child<QAction>("mnuAbout")->isEnabled());
    m_window->loadNzb(kSample);
    QVERIFY(check->isEnabled());
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
