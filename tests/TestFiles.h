#pragma once

#include <QFile>
#include <QTemporaryDir>

// Writes `bytes` to a new file in `dir` and returns its path.
inline QString writeTestFile(const QTemporaryDir &dir, const QString &name, const QByteArray &bytes)
{
    const QString path = dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("cannot write the test file %s", qPrintable(path));
    return path;
}

// The expected bytes of a golden file under tests/data/golden; with ORVALIS_UPDATE_GOLDEN=1
// the file is rewritten with `actual` instead, and the diff is then read like code.
inline QByteArray goldenBytes(const QString &name, const QByteArray &actual)
{
    QFile file(QStringLiteral(ORVALIS_TEST_DATA "/golden/") + name);
    if (qEnvironmentVariableIntValue("ORVALIS_UPDATE_GOLDEN") == 1) {
        if (!file.open(QIODevice::WriteOnly) || file.write(actual) != actual.size())
            qFatal("cannot write the golden file %s", qPrintable(file.fileName()));
        return actual;
    }
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray("(no golden file ") + file.fileName().toUtf8() + ')';
    return file.readAll();
}

// Compares `actual` byte for byte with the golden file NAME.
#define COMPARE_GOLDEN(name, actual)                        \
    do {                                                    \
        const QByteArray actualBytes_ = (actual);           \
        QCOMPARE(actualBytes_, goldenBytes(name, actualBytes_)); \
    } while (false)
