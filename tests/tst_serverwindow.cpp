#include "ScriptedNntpServer.h"
#include "ScriptedPrompts.h"
#include "TestFiles.h"

#include "servers/ServerListModel.h"
#include "settings/SettingsFile.h"
#include "ui/MainWindow.h"
#include "ui/ServerDialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QTimer>
#include <QTreeView>

#include <functional>

namespace {

template<typename T>
T *child(const QObject *parent, const char *name)
{
    T *found = parent->findChild<T *>(QLatin1String(name));
    if (!found)
        qFatal("no child %s", name);
    return found;
}

QLineEdit *field(const QObject *dialog, const char *name)
{
    return child<QLineEdit>(dialog, name);
}

// Types `text` into the field as keystrokes, over what it holds selected.
void retype(QLineEdit *edit, const QString &text)
{
    edit->setFocus();
    edit->selectAll();
    QTest::keyClicks(edit, text);
}

void paste(QLineEdit *edit, const QString &text)
{
    QGuiApplication::clipboard()->setText(text);
    edit->selectAll();
    QTest::keySequence(edit, QKeySequence::Paste);
}

struct Entry {
    QString address;
    QString username = {};
    QString password = {};
    int threadsEntry = 0;
};

void fill(ServerDialog &dialog, const Entry &entry)
{
    QTest::keyClicks(field(&dialog, "txtServer"), entry.address);
    child<QComboBox>(&dialog, "cboThreads")->setCurrentIndex(entry.threadsEntry);
    if (!entry.username.isEmpty()) {
        child<QCheckBox>(&dialog, "chkAuth")->setChecked(true);
        QTest::keyClicks(field(&dialog, "txtUsername"), entry.username);
        QTest::keyClicks(field(&dialog, "txtPassword"), entry.password);
    }
}

ServerRecord server(const QString &address, const QString &rowKey, const QString &username = {})
{
    return {address, address, QStringLiteral("119"), QStringLiteral("2"), username, rowKey, true};
}

QString cell(const ServerListModel &model, int position, int column)
{
    return model.data(model.index(position - 1, column)).toString();
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestServerWindow : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    // The editor on its own.
    void isLaidOutAsDesigned();
    void nicknameFollowsTheAddressUntilTyped();
    void portFollowsItsRulesTypedAndPasted();
    void authenticationTickEnablesTheFields();
    void reportsInputProblemsInOrder();
    void limitsTheListTo99InAddModeOnly();
    void showsTheEditedServer();
    void tlsTickSwitchesOnlyTheDefaultPort();
    void closesOnlyByItsButtonsAndCloseBox();

    // The list in the window, with its save points.
    void addsRemovesAndReusesKeys();
    void editsTheFirstSelectedRowOnDoubleClick();
    void cancelStoresNothing();
    void popupEnablesMovesByPosition();
    void movesSaveAndTicksWaitForTheClose();
    void hidingMasksEveryRow();
    void everythingSurvivesARestart();
    void keepsAnUnreadableFileAsBad();
    void reportsAFailedSave();

    // The check as the window shows it.
    void checkNeedsATickedServer();
    void checkRunsToItsEnd();
    void cancelReturnsToTheLoad();
    void closingDuringACheckSaysQuit();

private:
    MainWindow *openWindow();
    // Runs `script` on the editor the next action opens, once it is shown.
    void onNextEditor(std::function<void(ServerDialog &)> script);
    void addServer(const Entry &entry);
    ServerListModel &servers() { return m_window->servers(); }
    QTreeView *list() const { return child<QTreeView>(m_window, "lvwServers"); }
    void selectOnly(QList<int> positions);

    QList<Message> m_messages;
    QString m_dialogAnswer;
    QTemporaryDir *m_dir = nullptr;
    QString m_settingsPath;
    MainWindow *m_window = nullptr;
    ServerListModel m_list; // for the editor on its own
};

void TestServerWindow::init()
{
    m_messages.clear();
    m_dir = new QTemporaryDir;
    m_settingsPath = m_dir->filePath(QStringLiteral("Settings.dat"));
    m_window = nullptr;
    while (m_list.count() > 0)
        m_list.removeServers({1});
}

void TestServerWindow::cleanup()
{
    delete m_window;
    delete m_dir;
}

MainWindow *TestServerWindow::openWindow()
{
    delete m_window;
    m_window = new MainWindow(std::make_unique<ScriptedPrompts>(&m_messages, &m_dialogAnswer), m_settingsPath);
    m_window->show();
    m_window->showSettingsProblem();
    return m_window;
}

void TestServerWindow::onNextEditor(std::function<void(ServerDialog &)> script)
{
    QTimer::singleShot(0, this, [script] {
        auto *dialog = qobject_cast<ServerDialog *>(QApplication::activeModalWidget());
        if (!dialog)
            qFatal("the editor did not open");
        script(*dialog);
    });
}

void TestServerWindow::addServer(const Entry &entry)
{
    onNextEditor([entry](ServerDialog &dialog) {
        fill(dialog, entry);
        QTest::mouseClick(child<QPushButton>(&dialog, "cmdOK"), Qt::LeftButton);
    });
    QTest::mouseClick(child<QPushButton>(m_window, "cmdAdd"), Qt::LeftButton);
}

void TestServerWindow::selectOnly(QList<int> positions)
{
    list()->clearSelection();
    for (const int position : positions)
        list()->selectionModel()->select(servers().index(position - 1, 0),
                                         QItemSelectionModel::Select | QItemSelectionModel::Rows);
}

void TestServerWindow::isLaidOutAsDesigned()
{
    ScriptedPrompts prompts(&m_messages, &m_dialogAnswer);
    QWidget owner;
    owner.setGeometry(100, 100, 760, 560);
    ServerDialog dialog(m_list, 0, prompts, &owner);
    QCOMPARE(dialog.objectName(), QStringLiteral("frmServer"));
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Add Newsserver"));
    QCOMPARE(dialog.size(), QSize(313, 289));
    QCOMPARE(dialog.minimumSize(), dialog.maximumSize());
    QVERIFY(!(dialog.windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
    QCOMPARE(field(&dialog, "txtServer")->geometry().topLeft(), QPoint(24, 40));
    QCOMPARE(child<QPushButton>(&dialog, "cmdOK")->geometry(), QRect(168, 256, 65, 25));
    QCOMPARE(field(&dialog, "txtPort")->text(), QStringLiteral("119"));
    QCOMPARE(field(&dialog, "txtPassword")->echoMode(), QLineEdit::Password);
    QCOMPARE(field(&dialog, "txtPassword")->style()->styleHint(QStyle::SH_LineEdit_PasswordCharacter), int('*'));
    const QComboBox *threads = child<QComboBox>(&dialog, "cboThreads");
    QCOMPARE(threads->count(), 10);
    QCOMPARE(threads->itemText(9), QStringLiteral("10"));
    QCOMPARE(threads->currentText(), QStringLiteral("1"));
    // Every caption fits its control.
    for (const QWidget *label : dialog.findChildren<QLabel *>())
        QVERIFY2(label->width() >= label->sizeHint().width(), qPrintable(label->objectName()));
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QVERIFY((dialog.geometry().center() - owner.geometry().center()).manhattanLength() < 40);
}

void TestServerWindow::nicknameFollowsTheAddressUntilTyped()
{
    ScriptedPrompts prompts(&m_messages, &m_dialogAnswer);
    ServerDialog add(m_list, 0, prompts, nullptr);
    QTest::keyClicks(field(&add, "txtServer"), QStringLiteral("news"));
    QCOMPARE(field(&add, "txtNickName")->text(), QStringLiteral("news"));
    QTest::keyClick(field(&add, "txtNickName"), Qt::Key_Backspace);
    QTest::keyClicks(field(&add, "txtServer"), QStringLiteral(".example"));
    QCOMPARE(field(&add, "txtNickName")->text(), QStringLiteral("new"));

    m_list.appendServer(server(QStringLiteral("old.example"), QStringLiteral("K01")), true);
    ServerDialog edit(m_list, 1, prompts, nullptr);
    retype(field(&edit, "txtServer"), QStringLiteral("new.example"));
    QCOMPARE(field(&edit, "txtNickName")->text(), QStringLiteral("old.example"));
}

void TestServerWindow::portFollowsItsRulesTypedAndPasted()
{
    ScriptedPrompts prompts(&m_messages, &m_dialogAnswer);
    ServerDialog dialog(m_list, 0, prompts, nullptr);
    QLineEdit *port = field(&dialog, "txtPort");
    const auto messages = [this] {
        QStringList texts;
        for (const Message &message : std::exchange(m_messages, {}))
            texts << message.title + u':' + message.text;
        return texts;
    };
    const QStringList tooHigh{QStringLiteral("Orvalis:You can't choose a port higher than 65535. ")};

    port->setFocus();
    port->end(false);
    QTest::keyClick(port, Qt::Key_Backspace);
    QTest::keyClick(port, Qt::Key_Backspace);
    QCOMPARE(port->text(), QStringLiteral("1"));
    QTest::keyClick(port, Qt::Key_Backspace);
    QCOMPARE(port->text(), QStringLiteral("119")); // never empty
    retype(port, QStringLiteral("0"));
    QCOMPARE(port->text(), QStringLiteral("119"));
    retype(port, QStringLiteral("5x6-3e."));
    QCOMPARE(port->text(), QStringLiteral("563")); // only digits can be typed
    retype(port, QStringLiteral("655351"));
    QCOMPARE(port->text(), QStringLiteral("65535")); // five at most
    QVERIFY(messages().isEmpty());
    retype(port, QStringLiteral("65536"));
    QCOMPARE(port->text(), QStringLiteral("119"));
    QCOMPARE(messages(), tooHigh);
    port->home(false);
    QTest::keyClick(port, Qt::Key_0);
    QCOMPARE(port->text(), QStringLiteral("0119")); // a typed "0" over the selection would give "119" first

    paste(port, QStringLiteral("70000"));
    QCOMPARE(port->text(), QStringLiteral("119"));
    QCOMPARE(messages(), tooHigh);
    paste(port, QStringLiteral("1234567"));
    QCOMPARE(port->text(), QStringLiteral("119"));
    QCOMPARE(messages(), tooHigh);
    paste(port, QStringLiteral("563"));
    QCOMPARE(port->text(), QStringLiteral("563"));
    for (const char *text : {"abc", " 80", "-1", "4.5"}) {
        paste(port, QLatin1String(text));
        QCOMPARE(port->text(), QStringLiteral("119"));
    }
    QVERIFY(messages().isEmpty());
}

void TestServerWindow::authenticationTickEnablesTheFields()
{
    ScriptedPrompts prompts(&m_messages, &m_dialogAnswer);
    ServerDialog dialog(m_list, 0, prompts, nullptr);
    QCheckBox *tick = child<QCheckBox>(&dialog, "chkAuth");
    const QPalette standard = QApplication::palette(field(&dialog, "txtUsername"));
    for (const char *name : {"txtUsername", "txtPassword"}) {
        QVERIFY(!tick->isChecked());
        QVERIFY(!field(&dialog, name)->isEnabled());
        QCOMPARE(field(&dialog, name)->palette().color(QPalette::Base), standard.color(QPalette::Button));
    }
    tick->click();
    for (const char *name : {"txtUsername", "txtPassword"}) {
        QVERIFY(field(&dialog, name)->isEnabled());
        QCOMPARE(field(&dialog, name)->palette().color(QPalette::Base), standard.color(QPalette::Base));
    }
    QTest::keyClicks(field(&dialog, "txtUsername"), QStringLiteral("kept"));
    tick->click();
    QCOMPARE(field(&dialog, "txtUsername")->text(), QStringLiteral("kept")); // unticking clears nothing
}

void TestServerWindow::reportsInputProblemsInOrder()
{
    ScriptedPrompts prompts(&m_messages, &m_dialogAnswer);
    ServerDialog dialog(m_list, 0, prompts, nullptr);
    QPushButton *ok = child<QPushButton>(&dialog, "cmdOK");
    const auto clickOk = [&] {
        QTest::mouseClick(ok, Qt::LeftButton);
        const Message message = m_messages.value(0);
        m_messages.clear();
        const QString icon = message.icon == UserPrompts::Icon::Warning ? QStringLiteral("!") : QStringLiteral("?");
        return icon + message.title + u':' + message.text;
    };
    child<QCheckBox>(&dialog, "chkAuth")->setChecked(true);
    QCOMPARE(clickOk(), QStringLiteral("!Orvalis:No newsserver specified. "));
    QTest::keyClicks(field(&dialog, "txtServer"), QStringLiteral(" news.example "));
    field(&dialog, "txtNickName")->clear();
    QCOMPARE(clickOk(), QStringLiteral("!Orvalis:No nickname for the newsserver specified. "));
    QTest::keyClicks(field(&dialog, "txtNickName"), QStringLiteral("   "));
    QCOMPARE(clickOk(), QStringLiteral("!Orvalis:No username specified. "));
    QTest::keyClicks(field(&dialog, "txtUsername"), QStringLiteral("user"));
    QCOMPARE(clickOk(), QStringLiteral("!Orvalis:No password specified. "));
    QVERIFY(!dialog.result());
    QTest::keyClicks(field(&dialog, "txtPassword"), QStringLiteral("pass "));
    QTest::mouseClick(ok, Qt::LeftButton);
    QVERIFY(m_messages.isEmpty());
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(dialog.record().address, QStringLiteral("news.example"));
    QCOMPARE(dialog.record().nickname, QString()); // blanks only pass, and are stored trimmed
    QCOMPARE(dialog.record().rowKey, QStringLiteral("K01pass"));
}

void TestServerWindow::limitsTheListTo99InAddModeOnly()
{
    for (int number = 1; number <= 99; ++number)
        m_list.appendServer(server(QStringLiteral("s%1").arg(number), QStringLiteral("K%1pw%1").arg(number, 2, 10, QLatin1Char('0'))), true);
    ScriptedPrompts prompts(&m_messages, &m_dialogAnswer);
    ServerDialog add(m_list, 0, prompts, nullptr);
    QTest::keyClicks(field(&add, "txtServer"), QStringLiteral("one.more"));
    QTest::mouseClick(child<QPushButton>(&add, "cmdOK"), Qt::LeftButton);
    QCOMPARE(m_messages.value(0).text, QStringLiteral("You can add a maximum of 99 newsservers. "));
    QVERIFY(!add.result());

    m_messages.clear();
    ServerDialog edit(m_list, 57, prompts, nullptr);
    QTest::mouseClick(child<QPushButton>(&edit, "cmdOK"), Qt::LeftButton);
    QVERIFY(m_messages.isEmpty());
    QCOMPARE(edit.record().rowKey, QStringLiteral("K57")); // no user name: opened unticked, so no password
}

void TestServerWindow::showsTheEditedServer()
{
    ServerRecord odd{QStringLiteral("Odd"), QStringLiteral("odd.example"), QStringLiteral("0563"), QStringLiteral("250"),
                     QString(), QStringLiteral("K07secret"), false};
    m_list.appendServer(odd, true);
    odd.port = QStringLiteral("news");
    odd.threads = QStringLiteral("0");
    odd.username = QStringLiteral("user");
    m_list.appendServer(odd, true);
    ScriptedPrompts prompts(&m_messages, &m_dialogAnswer);

    ServerDialog first(m_list, 1, prompts, nullptr);
    QCOMPARE(field(&first, "txtServer")->text(), QStringLiteral("odd.example"));
    QCOMPARE(field(&first, "txtNickName")->text(), QStringLiteral("Odd"));
    QCOMPARE(field(&first, "txtPort")->text(), QStringLiteral("563"));
    QCOMPARE(child<QComboBox>(&first, "cboThreads")->currentText(), QStringLiteral("10"));
    QVERIFY(!child<QCheckBox>(&first, "chkAuth")->isChecked()); // no username: the fields stay off
    QVERIFY(!field(&first, "txtPassword")->isEnabled());
    QCOMPARE(field(&first, "txtPassword")->text(), QStringLiteral("secret"));

    ServerDialog second(m_list, 2, prompts, nullptr);
    QCOMPARE(field(&second, "txtPort")->text(), QStringLiteral("119"));
    QCOMPARE(child<QComboBox>(&second, "cboThreads")->currentText(), QStringLiteral("1"));
    QVERIFY(child<QCheckBox>(&second, "chkAuth")->isChecked());
    QCOMPARE(field(&second, "txtUsername")->text(), QStringLiteral("user"));
    QVERIFY(m_messages.isEmpty());
}

void TestServerWindow::tlsTickSwitchesOnlyTheDefaultPort()
{
    ScriptedPrompts prompts(&m_messages, &m_dialogAnswer);
    ServerDialog add(m_list, 0, prompts, nullptr);
    QCheckBox *tls = child<QCheckBox>(&add, "chkSSL");
    QCOMPARE(tls->text(), QStringLiteral("Use SSL/TLS"));
    tls->setChecked(true);
    QCOMPARE(field(&add, "txtPort")->text(), QStringLiteral("563"));
    tls->setChecked(false);
    QCOMPARE(field(&add, "txtPort")->text(), QStringLiteral("119"));
    retype(field(&add, "txtPort"), QStringLiteral("8119"));
    tls->setChecked(true);
    QCOMPARE(field(&add, "txtPort")->text(), QStringLiteral("8119"));
    QTest::keyClicks(field(&add, "txtServer"), QStringLiteral("secure.example"));
    child<QSpinBox>(&add, "spnPipeline")->setValue(16);
    QTest::mouseClick(child<QPushButton>(&add, "cmdOK"), Qt::LeftButton);
    QVERIFY(add.result() == QDialog::Accepted);
    QVERIFY(add.record().ssl);
    QCOMPARE(add.record().pipeline, QStringLiteral("16"));
    QCOMPARE(add.record().port, QStringLiteral("8119"));

    ServerRecord stored = server(QStringLiteral("tls.example"), QStringLiteral("K01"));
    stored.port = QStringLiteral("563");
    stored.ssl = true;
    stored.pipeline = QStringLiteral("8");
    m_list.appendServer(stored, true);
    ServerDialog edit(m_list, 1, prompts, nullptr);
    QVERIFY(child<QCheckBox>(&edit, "chkSSL")->isChecked());
    QCOMPARE(field(&edit, "txtPort")->text(), QStringLiteral("563"));
    QCOMPARE(child<QSpinBox>(&edit, "spnPipeline")->value(), 8);
    child<QCheckBox>(&edit, "chkSSL")->setChecked(false);
    QCOMPARE(field(&edit, "txtPort")->text(), QStringLiteral("119"));
    QVERIFY(m_messages.isEmpty());
}

void TestServerWindow::closesOnlyByItsButtonsAndCloseBox()
{
    ScriptedPrompts prompts(&m_messages, &m_dialogAnswer);
    ServerDialog dialog(m_list, 0, prompts, nullptr);
    dialog.show();
    QTest::keyClicks(field(&dialog, "txtServer"), QStringLiteral("typed"));
    QTest::keyClick(&dialog, Qt::Key_Escape);
    QTest::keyClick(field(&dialog, "txtServer"), Qt::Key_Return);
    QVERIFY(dialog.isVisible());
    QVERIFY(m_messages.isEmpty());
    QTest::mouseClick(child<QPushButton>(&dialog, "cmdCancel"), Qt::LeftButton);
    QVERIFY(!dialog.isVisible());
    QCOMPARE(dialog.result(), int(QDialog::Rejected));
}

void TestServerWindow::addsRemovesAndReusesKeys()
{
    openWindow();
    QPushButton *remove = child<QPushButton>(m_window, "cmdRemove");
    QVERIFY(!remove->isEnabled());
    addServer({QStringLiteral("one.example"), QStringLiteral("user"), QStringLiteral(" secret "), 3});
    QVERIFY(remove->isEnabled());
    QCOMPARE(LoadSettingsFile(m_settingsPath).read.contents.servers.size(), size_t(1)); // saved at once
    addServer({QStringLiteral("two.example")});
    addServer({QStringLiteral("three.example")});
    QCOMPARE(servers().count(), 3);
    QCOMPARE(cell(servers(), 3, ServerListModel::Priority), QStringLiteral("3"));
    QVERIFY(servers().IsItemChecked(3));
    QStringList keys;
    for (int p = 1; p <= 3; ++p)
        keys << servers().server(p).key();
    QCOMPARE(keys, (QStringList{QStringLiteral("K01"), QStringLiteral("K02"), QStringLiteral("K03")}));
    QCOMPARE(servers().server(1).password(), QStringLiteral("secret"));
    QCOMPARE(servers().server(1).threads, QStringLiteral("4"));
    QCOMPARE(cell(servers(), 1, ServerListModel::Password), ServerListModel::kMaskedPassword);
    QCOMPARE(cell(servers(), 2, ServerListModel::Password), QString()); // stored without a password

    selectOnly({2});
    remove->click();
    QCOMPARE(LoadSettingsFile(m_settingsPath).read.contents.servers.size(), size_t(2));
    addServer({QStringLiteral("four.example")});
    QCOMPARE(servers().server(3).key(), QStringLiteral("K02"));

    // Removing the last servers is saved too: the file keeps only the options.
    selectOnly({1, 2, 3});
    remove->click();
    QCOMPARE(servers().count(), 0);
    QVERIFY(!remove->isEnabled());
    const SettingsReadResult removed = ReadSettingsFile(m_settingsPath);
    QVERIFY(removed.contents.servers.empty());
    QVERIFY(removed.optionsRead);
    m_window->close();
    QVERIFY(ReadSettingsFile(m_settingsPath).optionsRead);
    QVERIFY(m_messages.isEmpty());
}

void TestServerWindow::editsTheFirstSelectedRowOnDoubleClick()
{
    SettingsContents contents;
    contents.servers = {server(QStringLiteral("a.example"), QStringLiteral("K01")),
                        server(QStringLiteral("b.example"), QStringLiteral("K02")),
                        server(QStringLiteral("c.example"), QStringLiteral("K03"))};
    contents.servers[1].checked = false;
    QVERIFY(!SaveSettingsFile(m_settingsPath, contents));
    openWindow();
    const QPoint belowTheRows(20, list()->viewport()->height() - 5);
    int opened = 0;
    const auto doubleClick = [&] {
        QTest::mouseDClick(list()->viewport(), Qt::LeftButton, {}, belowTheRows);
    };

    list()->clearSelection();
    doubleClick(); // nothing selected: nothing opens
    selectOnly({3, 2});
    onNextEditor([&opened](ServerDialog &dialog) {
        ++opened;
        QCOMPARE(field(&dialog, "txtServer")->text(), QStringLiteral("b.example"));
        retype(field(&dialog, "txtNickName"), QStringLiteral("Renamed"));
        QTest::mouseClick(child<QPushButton>(&dialog, "cmdOK"), Qt::LeftButton);
    });
    doubleClick();
    QCOMPARE(opened, 1);
    QCOMPARE(cell(servers(), 2, ServerListModel::Nickname), QStringLiteral("Renamed"));
    QVERIFY(!servers().IsItemChecked(2)); // an edit keeps the tick and the place
    QCOMPARE(LoadSettingsFile(m_settingsPath).read.contents.servers[1].nickname, QStringLiteral("Renamed"));
}

void TestServerWindow::cancelStoresNothing()
{
    openWindow();
    onNextEditor([](ServerDialog &dialog) {
        fill(dialog, {QStringLiteral("typed.example"), QStringLiteral("user"), QStringLiteral("pass"), 5});
        QTest::mouseClick(child<QPushButton>(&dialog, "cmdCancel"), Qt::LeftButton);
    });
    child<QPushButton>(m_window, "cmdAdd")->click();
    onNextEditor([](ServerDialog &dialog) {
        QTest::keyClicks(field(&dialog, "txtServer"), QStringLiteral("closed.example"));
        dialog.close();
    });
    child<QPushButton>(m_window, "cmdAdd")->click();
    QCOMPARE(servers().count(), 0);
    QVERIFY(!QFileInfo::exists(m_settingsPath));
}

void TestServerWindow::popupEnablesMovesByPosition()
{
    openWindow();
    for (const char *address : {"a", "b", "c"})
        servers().appendServer(server(QLatin1String(address), QStringLiteral("K01")), true);
    QAction *up = child<QAction>(m_window, "mnuUp");
    QAction *down = child<QAction>(m_window, "mnuDown");
    const auto popupStates = [&](QPoint at) {
        QString states = QStringLiteral("no menu");
        QTimer::singleShot(0, this, [&] {
            if (QWidget *popup = QApplication::activePopupWidget()) {
                states = QStringLiteral("%1 %2").arg(up->isEnabled()).arg(down->isEnabled());
                popup->close();
            }
        });
        Q_EMIT list()->customContextMenuRequested(at);
        // Both are enabled again once the menu has closed.
        return up->isEnabled() && down->isEnabled() ? states : QStringLiteral("left disabled");
    };
    const auto rowCentre = [this](int position) {
        return list()->visualRect(servers().index(position - 1, 1)).center();
    };
    QCOMPARE(popupStates(rowCentre(1)), QStringLiteral("0 1"));
    QCOMPARE(popupStates(rowCentre(2)), QStringLiteral("1 1"));
    QCOMPARE(popupStates(rowCentre(3)), QStringLiteral("1 0"));
    QCOMPARE(popupStates(QPoint(5, list()->viewport()->height() - 3)), QStringLiteral("no menu"));
    servers().removeServers({2, 3});
    QCOMPARE(popupStates(rowCentre(1)), QStringLiteral("0 0"));
}

void TestServerWindow::movesSaveAndTicksWaitForTheClose()
{
    openWindow();
    addServer({QStringLiteral("a.example")});
    addServer({QStringLiteral("b.example")});
    addServer({QStringLiteral("c.example")});
    const auto savedOrder = [this] {
        QString order;
        for (const ServerRecord &saved : LoadSettingsFile(m_settingsPath).read.contents.servers)
            order += saved.address.front() + QString(saved.checked ? QStringLiteral("+") : QStringLiteral("-"));
        return order;
    };
    selectOnly({3});
    child<QAction>(m_window, "mnuUp")->trigger();
    QCOMPARE(savedOrder(), QStringLiteral("a+c+b+"));
    QCOMPARE(list()->selectionModel()->selectedRows().value(0).row(), 1); // the moved row stays selected
    child<QAction>(m_window, "mnuDown")->trigger();
    QCOMPARE(savedOrder(), QStringLiteral("a+b+c+"));

    // A tick and a drop are written by the next save only: here the close.
    QVERIFY(servers().setData(servers().index(0, 0), Qt::Unchecked, Qt::CheckStateRole));
    servers().MoveItemByDrop(3, 1);
    QCOMPARE(savedOrder(), QStringLiteral("a+b+c+"));
    m_window->close();
    QCOMPARE(savedOrder(), QStringLiteral("c+a-b+"));
}

void TestServerWindow::hidingMasksEveryRow()
{
    openWindow();
    addServer({QStringLiteral("with.example"), QStringLiteral("user"), QStringLiteral("pw")});
    addServer({QStringLiteral("without.example")});
    QCheckBox *hide = child<QCheckBox>(m_window, "chkHide");
    const auto cells = [this] {
        return cell(servers(), 1, ServerListModel::Password) + u'|' + cell(servers(), 2, ServerListModel::Password);
    };
    QCOMPARE(cells(), QStringLiteral("************|"));
    hide->click();
    QCOMPARE(cells(), QStringLiteral("pw|"));
    hide->click();
    QCOMPARE(cells(), QStringLiteral("************|************"));
    hide->click();
    addServer({QStringLiteral("third.example"), QStringLiteral("u"), QStringLiteral("shown")});
    QCOMPARE(cell(servers(), 3, ServerListModel::Password), QStringLiteral("shown"));
    QCOMPARE(readFile(m_settingsPath).contains("<password>rWX"), true); // the key is stored, scrambled
}

void TestServerWindow::everythingSurvivesARestart()
{
    openWindow();
    addServer({QStringLiteral("first.example"), QStringLiteral("user"), QStringLiteral("pass"), 9});
    addServer({QStringLiteral("second.example")});
    child<QCheckBox>(m_window, "chkOnlyFilenames")->setChecked(true);
    list()->header()->resizeSection(1, 200);
    child<QTreeView>(m_window, "lvwItems")->header()->resizeSection(2, 80);
    servers().SetItemChecked(2, false);
    m_window->close();

    openWindow();
    QVERIFY(m_messages.isEmpty());
    QCOMPARE(servers().count(), 2);
    QCOMPARE(servers().server(1).address, QStringLiteral("first.example"));
    QCOMPARE(servers().server(1).threads, QStringLiteral("10"));
    QCOMPARE(servers().server(1).password(), QStringLiteral("pass"));
    QVERIFY(servers().IsItemChecked(1) && !servers().IsItemChecked(2));
    QCOMPARE(cell(servers(), 2, ServerListModel::Password), ServerListModel::kMaskedPassword); // hiding is on at start
    QVERIFY(child<QCheckBox>(m_window, "chkOnlyFilenames")->isChecked());
    QCOMPARE(list()->header()->sectionSize(1), 200);
    QCOMPARE(child<QTreeView>(m_window, "lvwItems")->header()->sectionSize(2), 80);
    QVERIFY(child<QPushButton>(m_window, "cmdRemove")->isEnabled());
}

void TestServerWindow::keepsAnUnreadableFileAsBad()
{
    writeTestFile(*m_dir, QStringLiteral("Settings.dat"),
                  "<data><file><nickname>A</nickname><port>119</port><threads>1</threads><username/>"
                  "<password>rWX</password><address>a</address><checked>1</checked><namesonly>1</namesonly></file></data>");
    openWindow();
    QCOMPARE(servers().count(), 1);
    QVERIFY(child<QPushButton>(m_window, "cmdRemove")->isEnabled()); // a listed server can be removed
    QVERIFY(!child<QCheckBox>(m_window, "chkOnlyFilenames")->isChecked());
    QCOMPARE(m_messages.size(), 1);
    QCOMPARE(m_messages[0].icon, UserPrompts::Icon::Warning);
    QCOMPARE(m_messages[0].title, QStringLiteral("Orvalis"));
    QCOMPARE(m_messages[0].text, QStringLiteral("The settings in %1 could not be read: there is no element \"Column1\".\r\n"
                                                "The file was kept as %1.bad.\r\n"
                                                "The servers read before the fault are listed.")
                                     .arg(m_settingsPath));
    QVERIFY(!QFileInfo::exists(m_settingsPath));
    m_messages.clear();
    m_window->showSettingsProblem(); // once only
    QVERIFY(m_messages.isEmpty());

    m_window->close(); // the servers that were read are written anew
    QCOMPARE(LoadSettingsFile(m_settingsPath).read.problem, QString());
}

void TestServerWindow::reportsAFailedSave()
{
    QVERIFY(QDir(m_dir->path()).mkdir(QStringLiteral("Settings.dat")));
    openWindow();
    QVERIFY(m_messages.isEmpty());
    addServer({QStringLiteral("a.example")});
    QCOMPARE(servers().count(), 1); // the list keeps the server
    QCOMPARE(m_messages.size(), 1);
    QCOMPARE(m_messages[0].icon, UserPrompts::Icon::Critical);
    QCOMPARE(m_messages[0].title, QStringLiteral("Error saving queue"));
    QVERIFY2(QRegularExpression(QStringLiteral("^\\d+ - .+")).match(m_messages[0].text).hasMatch(), qPrintable(m_messages[0].text));
}

namespace {

const QString kSample = QStringLiteral(ORVALIS_TEST_DATA "/sample.nzb");

ServerRecord scripted(const ScriptedNntpServer &nntp, int connections)
{
    return {QStringLiteral("scripted"), QStringLiteral("127.0.0.1"), QString::number(nntp.port()),
            QString::number(connections), QString(), QStringLiteral("K01"), true};
}

QStringList disabledControls(const QWidget *window)
{
    QStringList names;
    for (const char *name : {"cmdLoadNZB", "cmdAdd", "cmdRemove", "cmdCopyLog", "cmdSaveLog", "lvwServers", "cmdCheck"}) {
        if (!child<QWidget>(window, name)->isEnabled())
            names << QLatin1String(name);
    }
    return names;
}

} // namespace

void TestServerWindow::checkNeedsATickedServer()
{
    openWindow();
    m_window->loadNzb(kSample);
    m_messages.clear();
    bool editorOpened = false;
    onNextEditor([&editorOpened](ServerDialog &dialog) {
        editorOpened = true;
        dialog.reject();
    });
    child<QPushButton>(m_window, "cmdCheck")->click();
    QVERIFY(editorOpened);
    QCOMPARE(m_messages.value(0).text, QStringLiteral("No newsservers added. \r\nPlease add a newsserver first. "));

    m_messages.clear();
    servers().appendServer(server(QStringLiteral("off.example"), QStringLiteral("K01")), true);
    servers().SetItemChecked(1, false);
    child<QPushButton>(m_window, "cmdCheck")->click();
    QCOMPARE(m_messages.value(0).text, QStringLiteral("No newsserver enabled. \r\n"
                                                      "Please tick a checkbox in front of a newsserver to enable it. "));
    QVERIFY(!m_window->checkRunning());
}

void TestServerWindow::checkRunsToItsEnd()
{
    ScriptedNntpServer nntp;
    nntp.respond = [](int, const QByteArray &command) -> ScriptedNntpServer::Reply {
        if (command == "STAT <part3of3.holiday@example.invalid>")
            return {"430 no such article\r\n"};
        return ScriptedNntpServer::standardReply(command);
    };
    nntp.autoGreet = false;
    openWindow();
    servers().appendServer(scripted(nntp, 2), true);
    m_window->loadNzb(kSample);
    m_messages.clear();
    child<QPushButton>(m_window, "cmdCheck")->click();
    QVERIFY(m_window->checkRunning());
    QCOMPARE(child<QPushButton>(m_window, "cmdCheck")->text(), QStringLiteral("Cancel"));
    QCOMPARE(disabledControls(m_window),
             (QStringList{QStringLiteral("cmdLoadNZB"), QStringLiteral("cmdAdd"), QStringLiteral("cmdRemove"),
                          QStringLiteral("cmdCopyLog"), QStringLiteral("cmdSaveLog"), QStringLiteral("lvwServers")}));
    QTRY_COMPARE(nntp.connectionCount(), 2);
    QTRY_COMPARE(child<QLabel>(m_window, "StatusText")->text(), QStringLiteral(" Checking NZB with newsserver: scripted"));
    nntp.send(1, nntp.greeting);
    nntp.send(2, nntp.greeting);

    QTRY_COMPARE(m_messages.size(), 1);
    QCOMPARE(m_messages[0].icon, UserPrompts::Icon::Information);
    QCOMPARE(m_messages[0].text, QStringLiteral("Finished checking NZB file."));
    QCOMPARE(m_window->windowTitle(), QStringLiteral("Orvalis"));
    QCOMPARE(child<QPushButton>(m_window, "cmdCheck")->text(), QStringLiteral("Check NZB"));
    QCOMPARE(disabledControls(m_window), QStringList{QStringLiteral("cmdCheck")});
    QCOMPARE(child<QLabel>(m_window, "StatusText")->text(), QStringLiteral(" Idle..."));
    const NzbModel &nzb = m_window->nzb();
    QCOMPARE(nzb.item(1).status, ItemStatus::Missing);
    QCOMPARE(nzb.item(1).available, QStringLiteral("2"));
    QCOMPARE(nzb.item(2).status, ItemStatus::Missing); // 1/2
    QCOMPARE(nzb.item(3).status, ItemStatus::Available);
    QCOMPARE(nzb.data(nzb.index(0, NzbModel::AvailableColumn)).toString(), QStringLiteral("2"));
    const QStringList &log = m_window->activityLog().lines();
    QCOMPARE(log.mid(8, 2), (QStringList{QStringLiteral("Initializing newsserver: scripted"),
                                         QStringLiteral("Article not found: part3of3.holiday@example.invalid")}));
    QCOMPARE(log.mid(log.size() - 4), (QStringList{QStringLiteral("Parts checked: 5"), QStringLiteral("Undownloadable parts: 2"),
                                                   QStringLiteral("33.33% of the data can't be downloaded!"), QString()}));
    QCOMPARE(child<QProgressBar>(m_window, "PB")->value(), 0);
}

void TestServerWindow::cancelReturnsToTheLoad()
{
    ScriptedNntpServer nntp;
    nntp.respond = [](int, const QByteArray &command) {
        return command == "QUIT" ? ScriptedNntpServer::standardReply(command) : ScriptedNntpServer::Reply{};
    };
    openWindow();
    servers().appendServer(scripted(nntp, 10), true);
    m_window->loadNzb(kSample);
    const QStringList loadLog = m_window->activityLog().lines();
    QPushButton *check = child<QPushButton>(m_window, "cmdCheck");
    check->click();
    QTRY_COMPARE(nntp.commands().size(), 5); // one STAT per entry, as many connections as entries
    QTRY_COMPARE(m_window->windowTitle(), QStringLiteral("Orvalis (5/5)"));
    QCOMPARE(m_window->nzb().item(1).status, ItemStatus::Checking);
    check->click();
    QCOMPARE(check->text(), QStringLiteral("Check NZB"));
    QCOMPARE(disabledControls(m_window), QStringList{});
    QCOMPARE(m_window->windowTitle(), QStringLiteral("Orvalis (0/5)"));
    QCOMPARE(m_window->nzb().item(1).status, ItemStatus::Queued);
    QCOMPARE(m_window->activityLog().lines(), loadLog);
    QCOMPARE(child<QLabel>(m_window, "StatusText")->text(), QStringLiteral(" Idle..."));
    QCOMPARE(nntp.commands().filter(QStringLiteral("QUIT")).size(), 0); // dropped, nothing said
}

void TestServerWindow::closingDuringACheckSaysQuit()
{
    ScriptedNntpServer nntp;
    nntp.respond = [](int, const QByteArray &command) {
        return command == "QUIT" ? ScriptedNntpServer::standardReply(command) : ScriptedNntpServer::Reply{};
    };
    openWindow();
    servers().appendServer(scripted(nntp, 3), true);
    m_window->loadNzb(kSample);
    child<QPushButton>(m_window, "cmdCheck")->click();
    QTRY_COMPARE(nntp.commands().size(), 3);
    const qsizetype logged = m_window->activityLog().lines().size();
    m_window->close();
    QTRY_COMPARE(nntp.commands().filter(QStringLiteral("QUIT")).size(), 3);
    QCOMPARE(m_window->activityLog().lines().size(), logged);
    QCOMPARE(LoadSettingsFile(m_settingsPath).read.contents.servers.size(), size_t(1));
}

QTEST_MAIN(TestServerWindow)
#include "tst_serverwindow.moc"
