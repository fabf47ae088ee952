#pragma once

#include "servers/ServerRecord.h"

#include <QString>

// The editor's rules, apart from its window.
namespace editor {

inline const QString kDefaultPort = QStringLiteral("119");
inline const QString kDefaultTlsPort = QStringLiteral("563");
inline const QString kPortTooHigh = QStringLiteral("You can't choose a port higher than 65535. ");

struct PortText {
    QString text;         // what the field holds after the rules
    bool tooHigh = false; // the port message is due
};
// "0", empty and any text that is not all digits give "119"; a number above 65535 gives "119" and the message.
PortText applyPortRules(const QString &text);

// The port after "Use SSL/TLS" was ticked or unticked: the other protocol's default port turns
// into this one's; any other port was chosen on purpose and stays.
QString portAfterTlsTick(const QString &port, bool tls);

// What the editor's fields hold when OK is clicked.
struct EditorInput {
    QString address;
    QString nickname;
    QString port;
    QString threads;
    bool authentication = false;
    QString username;
    QString password;
    bool tls = false;
    QString pipeline = QStringLiteral("1");
};

// The message of the first value the input lacks, or an empty text.
QString missingValueProblem(const EditorInput &input);
// The message of the first check that fails, or an empty text when the input may be stored.
// The values are checked as they would be stored.
QString firstInputProblem(const EditorInput &input, bool editMode, int serverCount);

// The record the input stores, trimmed as the list keeps it, with no user name or password
// unless authentication is ticked; `checked` is left to the caller.
ServerRecord recordFromInput(const EditorInput &input, const QString &key);

// The entry of the thread list ("1" to "10", counted from 0) nearest to `threads`.
int threadsEntry(int threads);

} // namespace editor
