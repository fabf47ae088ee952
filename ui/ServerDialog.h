#pragma once

#include "servers/ServerEditorRules.h"
#include "servers/ServerRecord.h"

#include <QDialog>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QProgressDialog;
class QSpinBox;
class ServerListModel;
class ServerTest;
class UserPrompts;

// frmServer: adds a newsserver to the list or edits one. It stores nothing itself: on OK it
// hands its record to the opener, which stores it.
class ServerDialog : public QDialog
{
    Q_OBJECT
public:
    // Edits the row at `editPosition`, or adds a server when it is 0.
    ServerDialog(const ServerListModel &servers, int editPosition, UserPrompts &prompts, QWidget *owner);

    // The record to store once the dialog was accepted; its tick is left to the opener.
    const ServerRecord &record() const { return m_record; }
    // The idle timeout Test uses, as a check would; 0 waits as long as a test may.
    void setIdleTimeoutSeconds(int seconds) { m_idleTimeoutSeconds = seconds; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void buildMainFrame();
    void buildAuthenticationFrame();
    void buildButtons();
    void showServer(const ServerRecord &server);
    void applyAuthenticationTick(bool ticked);
    void applyPortRules();
    editor::EditorInput input() const;
    void tryToStore();
    void testServer();
    void endTest();

    const ServerListModel &m_servers;
    const int m_editPosition;
    UserPrompts &m_prompts;
    bool m_nickNameTyped = false;
    ServerRecord m_record;
    int m_idleTimeoutSeconds = 60;
    ServerTest *m_test = nullptr;        // while Test runs
    QProgressDialog *m_testProgress = nullptr;

    QLineEdit *m_txtServer = nullptr;
    QLineEdit *m_txtPort = nullptr;
    QLineEdit *m_txtNickName = nullptr;
    QComboBox *m_cboThreads = nullptr;
    QCheckBox *m_chkSSL = nullptr;
    QSpinBox *m_spnPipeline = nullptr;
    QCheckBox *m_chkAuth = nullptr;
    QLineEdit *m_txtUsername = nullptr;
    QLineEdit *m_txtPassword = nullptr;
};
