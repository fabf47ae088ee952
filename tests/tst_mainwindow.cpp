#include "ui/MainWindow.h"

#include "GzipBytes.h"
#include "ScriptedPrompts.h"
#include "TestFiles.h"

#include "ui/StatusIcons.h"

#include <QAbstractItemView>
#include <QCheckBox>
#include <QFileDialog>
#include <QLabel>
#include <QMimeData>
#include <QPushButton>
#include <QTabBar>

namespace {
const QString kSample = QStringLiteral(ORVALIS_TEST_DATA "/sample.nzb");
}

class TestMainWindow : public QObject
{
    Q_OBJECT
    QStringList m_shown;
    QString m_dialogAnswer;
    MainWindow *m_window = nullptr;

private Q_SLOTS:
    void init()
    {
        m_window = new MainWindow(std::make_unique<ScriptedPrompts>(&m_shown, &m_dialogAnswer));
        m_window->show();
    }
    void cleanup() { delete m_window; }

    // Each route starts with one.nzb loaded, so a failed or ignored load must keep it. Noted are the
    // caption, the log's first line, the first item's name, whether a drag was taken, and the boxes.
    void loadsByEveryRoute()
    {
        QTemporaryDir dir;
        QVERIFY(QFile::copy(kSample, dir.filePath(QStringLiteral("with blanks.nzb"))));
        const QString one = writeTestFile(dir, QStringLiteral("one.nzb"), "<nzb><file subject=\"a (1/1)\"><segments><segment>a@x</segment></segments></file></nzb>");
        writeTestFile(dir, QStringLiteral("broken.nzb"), "<nzb>\n<file>\n");
        writeTestFile(dir, QStringLiteral("sample.nzb.gz"), gzipped(readBytes(kSample)));
        writeTestFile(dir, QStringLiteral("cut.nzb.gz"), gzipped("<nzb>\n").chopped(3));
        QString notes;
        for (const char *row : {"load:SAMPLE  ", "names only:SAMPLE", "load:DIR/broken.nzb", "load:DIR/missing.nzb", "load:DIR/cut.nzb.gz", "button:",
                                "button:SAMPLE", "command line:", "command line:DIR", "command line:DIR/none.nzb", "command line:\"DIR/with \"blanks.nzb\"",
                                "command line:DIR/sample.nzb.gz", "drop:text", "drop:SAMPLE|DIR/broken.nzb", "drop during a check:SAMPLE"}) {
            const QString route = QString::fromLatin1(row).section(u':', 0, 0);
            m_dialogAnswer = QString::fromLatin1(row).section(u':', 1).replace(QLatin1String("SAMPLE"), kSample).replace(QLatin1String("DIR"), dir.path());
            m_window->loadNzb(one);
            m_shown.clear();
            child<QCheckBox>(m_window, "chkOnlyFilenames")->setChecked(route == u"names only"); // read at load time
            QMimeData mime;
            mime.setText(kSample);
            if (route == u"load" || route == u"names only")
                m_window->loadNzb(m_dialogAnswer);
            else if (route == u"button")
                runStep(m_window, QStringLiteral("click cmdLoadNZB"));
            else if (route == u"command line")
                m_window->loadFromCommandLine(m_dialogAnswer);
            else if (m_dialogAnswer != u"text")
                mime.setUrls({QUrl::fromLocalFile(m_dialogAnswer.section(u'|', 0, 0)), QUrl::fromLocalFile(m_dialogAnswer.section(u'|', 1))});
            m_window->enterCheckPhase(route == u"drop during a check" ? MainWindow::CheckPhase::Started : MainWindow::CheckPhase::Cancelled);
            child<QTabBar>(m_window, "TabStrip")->setCurrentIndex(1); // Qt delivers drops to visible widgets only
            QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
            QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
            if (route.startsWith(QLatin1String("drop")))
                QApplication::sendEvent(child<QAbstractItemView>(m_window, "lstLog")->viewport(), &enter), QApplication::sendEvent(child<QAbstractItemView>(m_window, "lstLog")->viewport(), &drop);
            notes += QStringLiteral("%1 %2%3\n  %4 | %5 | %6\n").arg(route, QString::fromLatin1(row).section(u':', 1), QLatin1String(enter.isAccepted() ? " (taken)" : ""),
                                                               m_window->windowTitle(), m_window->activityLog().lines().value(0), m_window->nzb().item(1).name)
                         .replace(kSample, QLatin1String("SAMPLE")).replace(dir.path(), QLatin1String("DIR"))
                     + (m_shown.isEmpty() ? QString() : QStringLiteral("  ") + taken(m_shown).replace(QLatin1String("\r\n"), QLatin1String("\n  ")) + u'\n');
        }
        COMPARE_GOLDEN("ui-load-routes.txt", notes.toUtf8());
    }

    void followsTheCheckPhasesAndSavesTheLog()
    {
        QVERIFY(!(m_window->windowFlags() & Qt::WindowMaximizeButtonHint) && child<QCheckBox>(m_window, "chkHide")->isChecked()
                && !child<QCheckBox>(m_window, "chkOnlyFilenames")->isChecked());
        QString notes;
        for (const QString step : {"start", "load", "started", "cancelled", "started", "ended", "load"}) {
            if (step == u"load")
                m_window->loadNzb(kSample);
            else if (step != u"start")
                m_window->enterCheckPhase(step == u"started" ? MainWindow::CheckPhase::Started : step == u"ended" ? MainWindow::CheckPhase::Ended : MainWindow::CheckPhase::Cancelled);
            notes += step + QLatin1String(m_window->checkRunning() ? " (running):" : ":");
            for (const char *name : {"cmdLoadNZB", "cmdCheck", "cmdAdd", "cmdRemove", "cmdCopyLog", "cmdSaveLog", "lvwServers", "mnuAbout"})
                notes += child<QObject>(m_window, name)->property("enabled").toBool() ? u' ' + QLatin1String(name) : QString();
            notes += QStringLiteral(" | %1 | %2 |%3\n").arg(m_window->windowTitle(), child<QPushButton>(m_window, "cmdCheck")->text(), child<QLabel>(m_window, "StatusText")->text());
        }
        m_shown.clear();
        child<QAction>(m_window, "mnuAbout")->trigger();
        COMPARE_GOLDEN("ui-main-window.txt", (notes + taken(m_shown)).toUtf8());

        // Copy and Save reach the log's own text; a failed save says so and keeps the log.
        const QStringList log = m_window->activityLog().lines();
        child<QPushButton>(m_window, "cmdCopyLog")->click();
        QCOMPARE(QGuiApplication::clipboard()->text(), m_window->activityLog().copyText());
        QTemporaryDir dir;
        for (const QString &path : {QString(), dir.filePath(QStringLiteral("log.txt")), dir.filePath(QStringLiteral("no-such-folder/log.txt"))}) {
            m_dialogAnswer = path; // none: the dialog was cancelled
            child<QPushButton>(m_window, "cmdSaveLog")->click();
        }
        QCOMPARE(readBytes(dir.filePath(QStringLiteral("log.txt"))), m_window->activityLog().copyText().toUtf8());
        QVERIFY2(m_shown.size() == 1 && m_shown[0].startsWith(QStringLiteral("W Orvalis: The log could not be saved to %1.\r\n").arg(m_dialogAnswer)), qPrintable(taken(m_shown)));
        QCOMPARE(m_window->activityLog().lines(), log);
    }

    // The one layout check: twips at 15 to the pixel, widened captions that never reach the next
    // control, the legend below the list in the statuses' order, a long verdict line shown whole
    // in the status bar; then the tabs and the icons.
    void laysOutTabsLegendAndIcons()
    {
        QVERIFY(m_window->centralWidget()->size() == QSize(753, 545) && child(m_window, "lvwItems")->geometry() == QRect(16, 136, 721, 296));
        QVERIFY(child(m_window, "chkOnlyFilenames")->geometry().right() < child(m_window, "cmdCopyLog")->x()
                && child(m_window, "chkOnlyFilenames")->width() >= child(m_window, "chkOnlyFilenames")->sizeHint().width()
                && child(m_window, "lblSample")->geometry().left() > child(m_window, "TabStrip")->geometry().left() + child<QTabBar>(m_window, "TabStrip")->tabRect(1).right());
        QWidget *legend = child(m_window, "PContainer");
        const QRect list = child(m_window, "lvwItems")->geometry();
        QVERIFY(child(m_window, "TabPanel")->geometry().contains(legend->geometry()) && legend->y() > list.bottom() && legend->geometry().right() == list.right());
        auto *status = child<QLabel>(m_window, "StatusText");
        const QString text = status->text();
        status->setText(QStringLiteral(" Repair: not possible, 24 recovery block(s) short (needs 30, 6 available)."));
        QCOMPARE(status->fontMetrics().elidedText(status->text(), Qt::ElideRight, status->contentsRect().width()), status->text());
        status->setText(text);
        QString captions;
        int right = -1;
        for (QLabel *label : legend->findChildren<QLabel *>(QStringLiteral("lblArray"))) {
            QVERIFY(label->x() > right && label->geometry().right() <= legend->width() && label->width() >= label->sizeHint().width());
            captions += label->text() + u'|';
            right = label->geometry().right();
        }
        QCOMPARE(captions, QStringLiteral("Queued|Checking|Available|Missing (partially)|"));
        for (const int tab : {1, 0}) {
            child<QTabBar>(m_window, "TabStrip")->setCurrentIndex(tab);
            QCOMPARE(child(m_window, "lvwItems")->isVisible() + 2 * child(m_window, "lstLog")->isVisible() + 4 * legend->isVisible(), tab ? 2 : 5);
        }
        QCOMPARE(child(m_window, "lstLog")->geometry(), child(m_window, "lvwItems")->geometry());
        const int hues[] = {60, 240, 120, 0}; // yellow, blue, green, red
        for (size_t i = 0; i < 4; ++i) {
            const QImage image = statusIcons()[i].pixmap(QSize(16, 16), 2.0).toImage();
            const int distance = qAbs(image.pixelColor(16, 16).hsvHue() - hues[i]);
            // Drawn at the screen's resolution, not scaled up, on a transparent ground.
            QVERIFY(image.size() == QSize(32, 32) && image.pixelColor(0, 0).alpha() == 0 && qMin(distance, 360 - distance) < 30);
        }
    }

    void dialogsStartInTheFolderUsedLast()
    {
        QTemporaryDir dir;
        const QString nzb = writeTestFile(dir, QStringLiteral("x.nzb.gz"), "");
        QtPrompts prompts(m_window);
        QString seen;
        for (const QString &path : {nzb, QString(), dir.filePath(QStringLiteral("saved"))}) {
            onNextModal<QFileDialog>([&seen, path](QFileDialog &dialog) {
                seen += dialog.directory().absolutePath() + u'|' + dialog.nameFilters().join(u';') + u'|';
                if (path.isEmpty())
                    return dialog.reject();
                dialog.selectFile(path);
                static_cast<QDialog &>(dialog).accept(); // QFileDialog hides accept()
            });
            seen += (path == nzb ? prompts.openNzbPath() : prompts.saveLogPath()) + u'|' + prompts.lastDialogFolder() + u'\n';
        }
        QCOMPARE(seen.section(u'|', 1).replace(dir.path(), QLatin1String("DIR")),
                 QStringLiteral("NZB Files (*.nzb *.nzb.gz)|DIR/x.nzb.gz|DIR/\nDIR|Log File (*.txt)||DIR/\nDIR|Log File (*.txt)|DIR/saved.txt|DIR/\n"));
        QCOMPARE(FolderOfPath(QStringLiteral("no-folder")), QString());
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
