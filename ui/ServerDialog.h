#pragma once

#include "servers/ServerRecord.h"

#include <QDialog>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QSpinBox;
class ServerListModel;
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
    void tryToStore();

    const ServerListModel &m_servers;
    const int m_editPosition;
    UserPrompts &m_prompts;
    bool m_nickNameTyped = false;
    ServerRecord m_record;

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
