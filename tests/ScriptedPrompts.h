#pragma once

#include "ui/UserPrompts.h"

#include <QList>
#include <QString>

struct Message {
    UserPrompts::Icon icon;
    QString title;
    QString text;
};

// Answers the window's questions as a test script says, and records the messages.
class ScriptedPrompts : public UserPrompts
{
public:
    ScriptedPrompts(QList<Message> *messages, QString *path)
        : m_messages(messages)
        , m_path(path)
    {
    }
    void showMessage(Icon icon, const QString &title, const QString &text) override
    {
        m_messages->append({icon, title, text});
    }
    QString openNzbPath() override { return *m_path; }
    QString saveLogPath() override { return *m_path; }

private:
    QList<Message> *m_messages;
    QString *m_path; // what the next dialog answers
};
