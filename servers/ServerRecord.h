#pragma once

#include <QString>

// The most article queries a connection keeps out at once.
inline constexpr int kDeepestPipeline = 100;

// One configured newsserver. The texts are kept as the editor or the settings file gave them.
struct ServerRecord {
    QString nickname;
    QString address;
    QString port;
    QString threads;
    QString username;
    // The list key ("K" and two digits) immediately followed by the password.
    QString rowKey;
    bool checked = false;
    bool ssl = false;                        // implicit TLS
    QString pipeline = QStringLiteral("1");  // article queries kept out per connection

    QString key() const { return rowKey.left(3); }
    QString password() const { return rowKey.mid(3); }
};

// The whole number a text starts with, after leading blanks and an optional sign; 0 when it starts
// with none. Saturates instead of overflowing, so hand-edited values stay harmless.
int leadingNumber(const QString &text);
