#pragma once

#include <QString>

class QWidget;

// Every modal question the main window asks: message boxes and file dialogs.
// The window uses QtPrompts; tests answer through a fake of their own.
class UserPrompts
{
public:
    enum class Icon { None, Information, Warning, Critical };

    virtual ~UserPrompts() = default;
    virtual void showMessage(Icon icon, const QString &title, const QString &text) = 0;
    // The chosen path, or empty when the user cancelled.
    virtual QString openNzbPath() = 0;
    virtual QString saveLogPath() = 0;
};

// Message boxes and file dialogs of Qt, owned by `owner`, starting in the folder used last.
class QtPrompts : public UserPrompts
{
public:
    explicit QtPrompts(QWidget *owner);

    void showMessage(Icon icon, const QString &title, const QString &text) override;
    QString openNzbPath() override;
    QString saveLogPath() override;

    const QString &lastDialogFolder() const { return m_lastDialogFolder; }

private:
    QString runFileDialog(bool save);

    QWidget *m_owner;
    QString m_lastDialogFolder; // with its trailing "/", empty until a dialog was confirmed
};

// The folder part of `path` up to and including its last "/", empty when it has none.
QString FolderOfPath(const QString &path);
