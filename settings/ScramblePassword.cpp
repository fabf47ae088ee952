#include "settings/ScramblePassword.h"

QString ScramblePassword(const QString &text)
{
    QString result = text;
    for (QChar &c : result) {
        const char16_t code = c.unicode();
        if (code >= 48 && code <= 86)
            c = QChar(code + 39);
        else if (code >= 87 && code <= 125)
            c = QChar(code - 39);
    }
    return result;
}
