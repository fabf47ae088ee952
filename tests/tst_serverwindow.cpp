#include "ScriptedNntpServer.h"
#include "ScriptedPrompts.h"
#include "TestFiles.h"

#include "servers/ServerListModel.h"
#include "settings/SettingsFile.h"
#include "ui/MainWindow.h"
#include "ui/ServerDialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QProgressBar>
#include <QProgressDialog>
#include <QPushButton>
#include <QSpinBox>
#include <QTreeView>

namespace {

const QString kSample = QStringLiteral(ORVALIS_TEST_DATA "/sample.nzb");

// What the editor shows: the fields ("off" when disabled, "grey" when coloured so), the entry, the
// ticks, the record stored on OK, and whether it is still open.
QString editorState(const ServerDialog &dialog)
{
    const QColor grey = QApplication::palette(child<QLineEdit>(&dialog, "txtUsername")).color(QPalette::Button);
    QString shown;
    for (const QLineEdit *field : {child<QLineEdit>(&dialog, "txtServer"), child<QLineEdit>(&dialog, "txtNickName"), child<QLineEdit>(&dialog, "txtPort"),
                                   child<QLineEdit>(&dialog, "txtUsername"), child<QLineEdit>(&dialog, "txtPassword")})
        shown += field->text() + QLatin1String(field->isEnabled() ? "" : "[off]") + QLatin1String(field->palette().color(QPalette::Base) == grey ? "[grey]|" : "|");
    shown += QStringLiteral("threads %1 auth %2 tls %3 pipeline %4").arg(child<QComboBox>(&dialog, "cboThreads")->currentText())
                 .arg(child<QCheckBox>(&dialog, "chkAuth")->isChecked()).arg(child<QCheckBox>(&dialog, "chkSSL")->isChecked()).arg(child<QSpinBox>(&dialog, "spnPipeline")->value());
    const ServerRecord &r = dialog.record();
    if (dialog.result() == QDialog::Accepted)
        shown += QStringLiteral("|stored|") + QStringList{r.address, r.nickname, r.port, r.threads, r.username, r.rowKey, QString::number(r.ssl), r.pipeline}.join(u'|');
    return shown + QLatin1String(dialog.isVisible() ? "|open" : "");
}

} // namespace

class TestServerWindow : public QObject
{
    Q_OBJECT
    QStringList m_shown;
    QString m_dialogAnswer;
    ScriptedPrompts m_prompts{&m_shown, &m_dialogAnswer};
    QTemporaryDir *m_dir = nullptr;
    QString m_settingsPath;
    MainWindow *m_window = nullptr;
    ServerListModel m_list; // for the editor on its own
    QString m_notes;        // what a test saw, for its golden file

    void openWindow()
    {
        delete m_window;
        m_window = new MainWindow(std::make_unique<ScriptedPrompts>(&m_shown, &m_dialogAnswer), m_settingsPath);
        m_window->show();
        m_window->showSettingsProblem();
    }
    ServerListModel &servers() { return m_window->servers(); }
    QTreeView *list() const { return child<QTreeView>(m_window, "lvwServers"); }
    // Runs the steps, noting after each what `state` says and the messages shown. On the window a step
    // may also be: select N..., dclick (below the rows), untick N, drop N M, popup N (the menu's states
    // at row N, 0 below the rows), widths (set every column), restart (close and open again), file.
    void runSteps(QWidget *window, std::initializer_list<const char *> steps, const std::function<QString()> &state)
    {
        for (const char *step : steps) {
            const QString line = QString::fromUtf8(step), verb = line.section(u' ', 0, 0);
            QList<int> n;
            QString menu;
            for (const QString &number : line.section(u' ', 1).split(u' ', Qt::SkipEmptyParts))
                n << number.toInt();
            if (verb == u"select") {
                list()->clearSelection();
                for (const int position : n)
                    list()->selectionModel()->select(servers().index(position - 1, 0), QItemSelectionModel::Select | QItemSelectionModel::Rows);
            } else if (verb == u"dclick") {
                QTest::mouseDClick(list()->viewport(), Qt::LeftButton, {}, QPoint(20, list()->viewport()->height() - 5));
            } else if (verb == u"untick" || verb == u"drop") { // only the first column holds a tick
                QVERIFY(!servers().setData(servers().index(0, 1), Qt::Unchecked, Qt::CheckStateRole));
                verb == u"drop" ? servers().MoveItemByDrop(n[0], n[1]) : void(servers().setData(servers().index(n[0] - 1, 0), Qt::Unchecked, Qt::CheckStateRole));
            } else if (verb == u"popup") {
                QTimer::singleShot(0, this, [this, &menu] {
                    if (QWidget *popup = QApplication::activePopupWidget())
                        menu = QStringLiteral(" | menu: up %1 down %2").arg(child<QAction>(m_window, "mnuUp")->isEnabled()).arg(child<QAction>(m_window, "mnuDown")->isEnabled()), popup->close();
                });
                Q_EMIT list()->customContextMenuRequested(n[0] ? list()->visualRect(servers().index(n[0] - 1, 1)).center() : QPoint(5, list()->viewport()->height() - 3));
                QVERIFY(child<QAction>(m_window, "mnuUp")->isEnabled() && child<QAction>(m_window, "mnuDown")->isEnabled()); // again once closed
            } else if (verb == u"widths") { // the platform's font would make the saved widths differ from one machine to the next
                for (int k = 0; k < 9; ++k)
                    child<QTreeView>(m_window, k < 6 ? "lvwServers" : "lvwItems")->header()->resizeSection(k % 6, 40 + k);
            } else if (verb == u"restart") {
                m_window->close();
                openWindow();
                window = m_window;
            } else if (verb == u"file") {
                m_notes += QLatin1String(readBytes(m_settingsPath, "(no file)\n"));
                QFile::remove(m_settingsPath); // so that the next note shows whether it was written again
            } else {
                runStep(window, line);
            }
            if (verb != u"then:" && verb != u"file")
                m_notes += line + QStringLiteral("\n    ") + state() + menu + (m_shown.isEmpty() ? QString() : QStringLiteral("\n    ") + taken(m_shown)) + u'\n';
        }
    }
    // The list as shown (priority, nickname, threads and password cells, key, tick), then as saved.
    QString listedAndSaved()
    {
        QStringList rows;
        for (int p = 1; p <= servers().count(); ++p) {
            for (const int column : {ServerListModel::Priority, ServerListModel::Nickname, ServerListModel::Threads, ServerListModel::Password})
                rows << servers().data(servers().index(p - 1, column)).toString();
            rows.last() += u' ' + servers().server(p).key() + (servers().IsItemChecked(p) ? u'+' : u'-') + u',';
        }
        rows << QStringLiteral("| saved:");
        for (const ServerRecord &server : ReadSettingsFile(m_settingsPath).contents.servers)
            rows << server.nickname + u' ' + server.key() + (server.checked ? u'+' : u'-');
        return rows.join(u' ') + (list()->selectionModel()->hasSelection() ? QStringLiteral(" | selected %1").arg(list()->selectionModel()->selectedRows().value(0).row() + 1) : QString());
    }

private Q_SLOTS:
    void init()
    {
        m_dir = new QTemporaryDir;
        m_settingsPath = m_dir->filePath(QStringLiteral("Settings.dat"));
    }
    void cleanup()
    {
        delete std::exchange(m_window, nullptr);
        delete m_dir;
        m_shown.clear();
        m_notes.clear();
        while (m_list.count() > 0)
            m_list.removeServers({1});
    }

    // The editor as it opens, then every rule of it step by step: what an edit shows of a stored server,
    // the port field typed and pasted, the TLS tick, the keys that do not close it, the messages in
    // their order, the nickname following the address, trimming (a field of blanks is empty), a
    // control character in each field, the authentication tick, the 99 limit and the keys.
    void editorFollowsItsRules()
    {
        QWidget owner;
        owner.setGeometry(100, 100, 760, 560);
        ServerDialog add(m_list, 0, m_prompts, &owner);
        QStringList texts{add.objectName(), add.windowTitle()};
        for (const QWidget *control : add.findChildren<QWidget *>()) {
            if (const QVariant text = control->property(control->inherits("QGroupBox") ? "title" : "text"); text.isValid())
                texts << text.toString();
            QVERIFY2(!control->inherits("QLabel") || control->width() >= control->sizeHint().width(), qPrintable(control->objectName())); // captions fit
        }
        QCOMPARE(texts.join(u'|'), QStringLiteral("frmServer|Add Newsserver|Main Server Settings|Server Address:||Port:|119|Server Nickname:||Threads:|"
                                                  "Use SSL/TLS|Pipeline:|1|1|Server Requires Authentication  |Username:|Password:||||Test|OK|Cancel"));
        QVERIFY(add.minimumSize() == add.maximumSize() && !(add.windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
        QVERIFY(child<QLineEdit>(&add, "txtPassword")->echoMode() == QLineEdit::Password
                && child<QLineEdit>(&add, "txtPassword")->style()->styleHint(QStyle::SH_LineEdit_PasswordCharacter) == '*');
        add.show();
        QVERIFY(QTest::qWaitForWindowExposed(&add) && (add.geometry().center() - owner.geometry().center()).manhattanLength() < 40);
        for (const QString &stored : {QStringLiteral("Odd|odd.example| +0563|250||K01secret|0|1"), QStringLiteral("Odd|odd.example|news|-3|user|K02secret|0|x"),
                                      QStringLiteral("T|tls.example|119|2||K03|1|99999999999")}) {
            const QStringList r = stored.split(u'|'); // the tick is shown after the port, so the port stays as stored
            m_list.appendServer({r[0], r[1], r[2], r[3], r[4], r[5], true, r[6] == u'1', r[7]}, true);
            ServerDialog edit(m_list, m_list.count(), m_prompts, nullptr);
            m_notes += QStringLiteral("edit ") + stored + QStringLiteral("\n    ") + editorState(edit) + u'\n';
        }
        ServerDialog edit(m_list, 1, m_prompts, nullptr);
        runSteps(&edit, {"retype txtServer new.example", "set chkAuth 1", "type txtUsername user", "click cmdOK"}, [&] { return editorState(edit); });
        runSteps(&add, {"type txtPort <<", "type txtPort <", "retype txtPort 0", "retype txtPort 5x6-3e.", "retype txtPort 655351",
                        "retype txtPort 65536", "home txtPort 0", "paste txtPort 1234567", "paste txtPort 123456789012345678901234567890",
                        "paste txtPort 0000065535", "paste txtPort 00", "paste txtPort  80", "paste txtPort 1e3", "paste txtPort \u0661\u0662", "paste txtPort 563",
                        "set chkSSL 1", "set chkSSL 0", "retype txtPort 8119", "set chkSSL 1", "set chkSSL 0", "retype txtPort 119", "set chkSSL 1",
                        "key Escape", "key Return", "set chkAuth 1", "click cmdOK", "type txtServer   ", "click cmdOK", "type txtServer news", "type txtNickName <",
                        "type txtServer .example ", "retype txtNickName <", "click cmdOK", "retype txtNickName    ", "click cmdOK", "paste txtNickName N\x1b[2J", "type txtUsername  user",
                        "click cmdOK", "type txtPassword   ", "click cmdOK", "paste txtPassword pa\x7fss", "paste txtUsername u\x01ser", "paste txtServer news\t.example", "click cmdOK",
                        "paste txtServer  news.example ", "click cmdOK", "retype txtNickName Nick", "click cmdOK", "paste txtUsername  user", "click cmdOK",
                        "retype txtPassword pass ", "set chkAuth 0", "set chkAuth 1", "set cboThreads 9", "set spnPipeline 16", "click cmdOK"},
                 [&] { return editorState(add); });
        ServerDialog unticked(m_list, 0, m_prompts, nullptr);
        runSteps(&unticked, {"type txtServer plain.example", "set chkAuth 1", "type txtUsername user", "type txtPassword pass", "set chkAuth 0", "click cmdOK"},
                 [&] { return editorState(unticked); });
        for (int number = 4; number <= 99; ++number)
            m_list.appendServer({QStringLiteral("s%1").arg(number), QStringLiteral("s%1").arg(number), QStringLiteral("119"), QStringLiteral("2"), {},
                                 QStringLiteral("K%1pw").arg(number, 2, 10, QLatin1Char('0')), true}, true);
        ServerDialog full(m_list, 0, m_prompts, nullptr);
        runSteps(&full, {"type txtServer one.more", "click cmdOK"}, [&] { return editorState(full); });
        ServerDialog fullEdit(m_list, 57, m_prompts, nullptr); // opened unticked for want of a user name: no password kept
        runSteps(&fullEdit, {"click cmdOK"}, [&] { return editorState(fullEdit); });
        COMPARE_GOLDEN("ui-server-editor.txt", m_notes.toUtf8());
    }

    // Test sits left of OK at its size, next before it in the tab order, and shows in one box
    // what the values entered met; nothing is stored.
    void testTriesTheValuesEntered()
    {
        ScriptedNntpServer nntp;
        nntp.script({"AUTHINFO user tester=381 more", "AUTHINFO pass s3cret=281 welcome"});
        ServerDialog dialog(m_list, 0, m_prompts, nullptr);
        QWidget *test = child(&dialog, "cmdTest"), *ok = child(&dialog, "cmdOK");
        QVERIFY(test->size() == ok->size() && test->y() == ok->y() && test->geometry().right() < ok->x() && test->x() > 0);
        QVERIFY(child(&dialog, "txtPassword")->nextInFocusChain() == test && test->nextInFocusChain() == ok);
        dialog.show();
        for (const QString &step : {QStringLiteral("type txtServer 127.0.0.1"), QStringLiteral("retype txtPort %1").arg(nntp.port()), QStringLiteral("set cboThreads 1"),
                                    QStringLiteral("set chkAuth 1"), QStringLiteral("type txtUsername tester"), QStringLiteral("type txtPassword s3cret"), QStringLiteral("click cmdTest")})
            runStep(&dialog, step);
        QVERIFY(QTest::qWaitFor([this] { return !m_shown.isEmpty(); }, 5000));
        QCOMPARE(m_shown, QStringList{QStringLiteral("I Orvalis: Connected to 127.0.0.1:%1.\nGreeting: 200 scripted server ready\nLogin accepted.\n"
                                                     "2 of 2 connections accepted.\nSTAT is answered.").arg(nntp.port())});
        QTRY_VERIFY(!dialog.findChild<QProgressDialog *>());
        QVERIFY(dialog.isVisible() && dialog.result() != QDialog::Accepted && m_list.count() == 0);
    }

    // The server list's commands with their save points, hiding, the popup, and a restart.
    void listCommandsSaveAsDesigned()
    {
        openWindow();
        runSteps(m_window, {"then: type txtServer one; set cboThreads 3; set chkAuth 1; type txtUsername user; type txtPassword  secret ; click cmdOK",
                            "click cmdAdd", "then: type txtServer two; click cmdOK", "click cmdAdd", "then: type txtServer three; click cmdOK",
                            "click cmdAdd", "select 2", "click cmdRemove", "then: type txtServer four; set chkAuth 1; type txtUsername u; type txtPassword pw; click cmdOK",
                            "click cmdAdd", "select", "dclick", "select 3 2", "then: retype txtNickName Renamed; click cmdOK", "dclick",
                            "then: type txtServer typed; click cmdCancel", "click cmdAdd", "then: type txtServer closed; close", "click cmdAdd",
                            "click chkHide", "click chkHide", "click chkHide", "select 3", "trigger mnuUp", "trigger mnuDown", "popup 1", "popup 2",
                            "popup 3", "popup 0", "then: type txtServer five; set chkAuth 1; type txtUsername u; type txtPassword shown; click cmdOK", "click cmdAdd",
                            "untick 3", "drop 3 1", "set chkOnlyFilenames 1", "set txtSample 20", "widths", "restart", "file", "select 1 2 4",
                            "click cmdRemove", "popup 1", "select 1", "click cmdRemove", "file", "restart", "file"},
                 [this] { return listedAndSaved() + (child(m_window, "cmdRemove")->isEnabled() ? QStringLiteral(" | remove on") : QString()); });
        QVERIFY(child<QCheckBox>(m_window, "chkOnlyFilenames")->isChecked() && list()->header()->sectionSize(1) == 41 && child(m_window, "txtSample")->property("value") == 20);
        COMPARE_GOLDEN("ui-server-list.txt", m_notes.toUtf8());
    }

    void reportsSettingsThatCannotBeReadOrSaved()
    {
        writeTestFile(*m_dir, QStringLiteral("Settings.dat"), "<data><file><nickname>A</nickname><port>119</port><threads>1</threads><username/>"
                                                              "<password>rWX</password><address>a</address><checked>1</checked><namesonly>1</namesonly></file></data>");
        openWindow();
        m_window->showSettingsProblem(); // once only
        QCOMPARE(taken(m_shown), QStringLiteral("W Orvalis: The settings in %1 could not be read: there is no element \"Column1\".\r\n"
                                                "The file was kept as %1.bad.\r\nThe servers read before the fault are listed.").arg(m_settingsPath));
        // A listed server can be removed; the servers that were read are written anew at the close.
        QVERIFY(servers().count() == 1 && child(m_window, "cmdRemove")->isEnabled() && !child<QCheckBox>(m_window, "chkOnlyFilenames")->isChecked());
        QVERIFY(!QFileInfo::exists(m_settingsPath));
        m_window->close();
        QCOMPARE(LoadSettingsFile(m_settingsPath).read.problem, QString());
        // Neither read nor moved aside (a folder holds the place), the file is never written over.
        QVERIFY(QFile::remove(m_settingsPath + QStringLiteral(".bad")) && QDir(m_dir->path()).mkpath(QStringLiteral("Settings.dat.bad/in the way")));
        writeTestFile(*m_dir, QStringLiteral("Settings.dat"), "<data/>");
        openWindow();
        QCOMPARE(taken(m_shown), QStringLiteral("W Orvalis: The settings in %1 could not be read: there is no element \"namesonly\".\r\nThe file could not be moved aside and was "
                                                "left as it is. It is not written over: the server list is kept in memory only, until Orvalis closes.").arg(m_settingsPath));
        runSteps(m_window, {"then: type txtServer a; click cmdOK", "click cmdAdd"}, [] { return QString(); });
        m_window->close();
        const QString declined = QStringLiteral("The servers were not saved: %1 could not be read or moved aside, and it is not written over.").arg(m_settingsPath);
        QVERIFY(readBytes(m_settingsPath) == "<data/>" && servers().count() == 1 && m_window->activityLog().lines() == QStringList(2, declined));
        m_notes.clear();
        // A folder where the file belongs: the list keeps the server, and the box says why.
        QVERIFY(QFile::remove(m_settingsPath) && QDir(m_dir->path()).mkdir(QStringLiteral("Settings.dat")));
        openWindow();
        runSteps(m_window, {"then: type txtServer a; click cmdOK", "click cmdAdd"}, [this] { return QString::number(servers().count()); });
        QVERIFY2(QRegularExpression(QStringLiteral("^click cmdAdd\n    1\n    C Error saving queue: \\d+ - .+\n$")).match(m_notes).hasMatch(), qPrintable(m_notes));
    }

    // A check as the window shows it: the warnings without a ticked server, a run to its end, Cancel,
    // and the close during a check. Noted are the controls a check disables, the button's caption, the
    // status text, the caption, the bar and the boxes.
    void checkRunsCancelsAndCloses()
    {
        const auto note = [this](const QString &what) {
            m_notes += what + QStringLiteral(":\n    ");
            for (const char *name : {"cmdLoadNZB", "cmdAdd", "cmdRemove", "cmdCopyLog", "cmdSaveLog", "lvwServers", "cmdCheck"})
                m_notes += child(m_window, name)->isEnabled() ? QString() : QLatin1String(name) + u' ';
            m_notes += QStringLiteral("| %1 |%2 | %3 | %4\n    ").arg(child<QPushButton>(m_window, "cmdCheck")->text(), child<QLabel>(m_window, "StatusText")->text(),
                                                                      m_window->windowTitle()).arg(child<QProgressBar>(m_window, "PB")->value())
                       + taken(m_shown).replace(u'\n', QLatin1String("\n    ")) + u'\n';
        };
        ScriptedNntpServer nntp;
        nntp.autoGreet = false;
        nntp.script({"STAT <part3of3.holiday@example.invalid>=430 no such article"});
        ScriptedNntpServer silent; // answers QUIT only
        silent.respond = [](int, const QByteArray &command) { return command == "QUIT" ? ScriptedNntpServer::standardReply(command) : ScriptedNntpServer::Reply{}; };
        openWindow();
        m_window->loadNzb(kSample);
        m_shown.clear();
        runSteps(m_window, {"then: close", "click cmdCheck"}, [] { return QStringLiteral("(the editor opened and was closed)"); });
        servers().appendServer({QStringLiteral("off"), {}, {}, {}, {}, QStringLiteral("K01"), false}, true);
        runSteps(m_window, {"click cmdCheck"}, [this] { return QStringLiteral("running %1").arg(m_window->checkRunning()); });
        servers().replaceServer(1, {QStringLiteral("scripted"), QStringLiteral("127.0.0.1"), QString::number(nntp.port()), QStringLiteral("2"), {}, QStringLiteral("K01"), true}, true);
        child<QPushButton>(m_window, "cmdCheck")->click();
        QTRY_VERIFY(nntp.connectionCount() == 2 && child<QLabel>(m_window, "StatusText")->text().contains(QLatin1String("newsserver")));
        note(QStringLiteral("checking"));
        nntp.send(1, nntp.greeting);
        nntp.send(2, nntp.greeting);
        nntp.autoGreet = true;
        QTRY_VERIFY(!m_shown.isEmpty());
        QCOMPARE(nntp.connectionCount(), 2); // the par2 index is read on a connection of the pass, not on one a full server may refuse
        note(QStringLiteral("finished"));
        m_notes += QStringLiteral("    ") + m_window->activityLog().lines().mid(8).join(QLatin1String("\n    ")) + u'\n';
        for (int item = 1; item <= m_window->nzb().itemCount(); ++item)
            m_notes += QStringLiteral("item %1: status %2, available %3\n").arg(item).arg(int(m_window->nzb().item(item).status))
                           .arg(m_window->nzb().data(m_window->nzb().index(item - 1, NzbModel::AvailableColumn)).toString());
        servers().replaceServer(1, {QStringLiteral("silent"), QStringLiteral("127.0.0.1"), QString::number(silent.port()), QStringLiteral("10"), {}, QStringLiteral("K01"), true}, true);
        for (const bool close : {false, true}) {
            m_window->loadNzb(kSample);
            m_shown.clear();
            const QStringList loadLog = m_window->activityLog().lines();
            child<QPushButton>(m_window, "cmdCheck")->click();
            QTRY_COMPARE(silent.commands().filter(QStringLiteral("STAT")).size(), close ? 10 : 5); // as many connections as entries
            QTRY_COMPARE(m_window->windowTitle(), QStringLiteral("Orvalis (5/5)"));
            note(QStringLiteral("asking, item 1 status %1").arg(int(m_window->nzb().item(1).status)));
            const QStringList logged = m_window->activityLog().lines();
            close ? void(m_window->close()) : child<QPushButton>(m_window, "cmdCheck")->click();
            QTest::qWait(50);
            note(QStringLiteral("%1, item 1 status %2, QUIT %3, log %4, saved %5").arg(QLatin1String(close ? "closed" : "cancelled")).arg(int(m_window->nzb().item(1).status))
                     .arg(silent.commands().filter(QStringLiteral("QUIT")).size()).arg(QLatin1String(m_window->activityLog().lines() == (close ? logged : loadLog) ? "kept" : "changed"))
                     .arg(ReadSettingsFile(m_settingsPath).contents.servers.size()));
        }
        COMPARE_GOLDEN("ui-check.txt", m_notes.toUtf8());
    }
};

QTEST_MAIN(TestServerWindow)
#include "tst_serverwindow.moc"
