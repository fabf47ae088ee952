#pragma once

#include "ui/UserPrompts.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <QStringList>
#include <QTest>
#include <QTimer>

#include <functional>

// Answers the window's questions as a test script says, and records each message shown as
// "icon title: text", the icon as N, I, W or C.
struct ScriptedPrompts : UserPrompts {
    QStringList *shown;
    QString *answer; // what the next file dialog answers
    ScriptedPrompts(QStringList *shown, QString *answer) : shown(shown), answer(answer) {}
    void showMessage(Icon icon, const QString &title, const QString &text) override { shown->append(QStringLiteral("NIWC")[int(icon)] + u' ' + title + QStringLiteral(": ") + text); }
    QString openNzbPath() override { return *answer; }
    QString saveLogPath() override { return *answer; }
};

// The messages shown since the last call, one a line.
inline QString taken(QStringList &shown) { return std::exchange(shown, {}).join(u'\n'); }

template<typename T = QWidget>
T *child(const QObject *parent, const char *name)
{
    T *found = parent->findChild<T *>(QLatin1String(name));
    if (!found)
        qFatal("no child %s", name);
    return found;
}

// Runs `script` on the modal dialog that the next action opens, once it is shown.
template<typename Dialog = QWidget>
void onNextModal(std::function<void(Dialog &)> script)
{
    QTimer::singleShot(0, [script] {
        auto *dialog = qobject_cast<Dialog *>(QApplication::activeModalWidget());
        if (!dialog)
            qFatal("the dialog did not open");
        script(*dialog);
    });
}

// One step of a test script on the controls of `window`, named by their object names:
//   type NAME TEXT    keys at the end of a field ("<" erases one character); retype: over all it
//                     holds; home: at its start; paste: pasted over all it holds
//   set NAME N        a tick, an entry or a number, as a program would set it
//   click NAME        a mouse click; trigger NAME: an action; key Escape|Return; close
//   then: A; B; ...   the steps to run on the modal dialog that the next step opens
inline void runStep(QWidget *window, const QString &line)
{
    const QString verb = line.section(u' ', 0, 0), text = line.section(u' ', 2);
    QObject *control = window->findChild<QObject *>(line.section(u' ', 1, 1));
    auto *edit = qobject_cast<QLineEdit *>(control);
    if (verb == u"then:")
        onNextModal<QWidget>([steps = line.mid(6).split(u';')](QWidget &dialog) {
            for (const QString &step : steps)
                runStep(&dialog, step.trimmed());
        });
    else if (verb == u"type" || verb == u"retype" || verb == u"home") {
        edit->setFocus();
        verb == u"retype" ? edit->selectAll() : edit->setCursorPosition(verb == u"home" ? 0 : int(edit->text().size()));
        QTest::keyClicks(edit, QString(text).replace(u'<', u'\b'));
    } else if (verb == u"paste") {
        QGuiApplication::clipboard()->setText(text);
        edit->selectAll();
        QTest::keySequence(edit, QKeySequence::Paste);
    } else if (verb == u"set") {
        control->setProperty(control->inherits("QComboBox") ? "currentIndex" : control->inherits("QSpinBox") ? "value" : "checked", text.toInt());
    } else if (verb == u"click") {
        QTest::mouseClick(qobject_cast<QWidget *>(control), Qt::LeftButton);
    } else if (verb == u"trigger") {
        qobject_cast<QAction *>(control)->trigger();
    } else if (verb == u"key") {
        QTest::keyClick(window, line.endsWith(QLatin1String("Escape")) ? Qt::Key_Escape : Qt::Key_Return);
    } else if (verb == u"close") {
        window->close();
    } else {
        qFatal("unknown step %s", qPrintable(line));
    }
}
