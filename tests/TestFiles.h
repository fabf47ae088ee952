#pragma once

#include <QFile>
#include <QTemporaryDir>

#ifdef ORVALIS_CHECK_PATH
#include <QProcess>
#include <QTest>

#include <unistd.h>

// orvalis-check's exit code, standard output and standard error. The event loop runs meanwhile:
// a test's own NNTP server answers the tool.
// It runs without a terminal, and with `environment` (NAME=VALUE) over a home of no .netrc.
inline QByteArray runCheckTool(const QStringList &arguments, const QStringList &environment = {})
{
    QProcess process;
    process.setChildProcessModifier([] { ::setsid(); });
    QProcessEnvironment variables = QProcessEnvironment::systemEnvironment();
    variables.insert(QStringLiteral("HOME"), QStringLiteral("/nonexistent"));
    variables.remove(QStringLiteral("ORVALIS_PASSWORD"));
    for (const QString &variable : environment)
        variables.insert(variable.section(u'=', 0, 0), variable.section(u'=', 1));
    process.setProcessEnvironment(variables);
    process.start(QStringLiteral(ORVALIS_CHECK_PATH), arguments);
    if (!QTest::qWaitFor([&process] { return process.state() == QProcess::NotRunning; }, 60000))
        process.kill();
    return "exit " + QByteArray::number(process.exitCode()) + "\n" + process.readAllStandardOutput() + "== stderr\n" + process.readAllStandardError();
}
#endif

// The bytes of the file at `path`, or `otherwise` when it cannot be read.
inline QByteArray readBytes(const QString &path, const QByteArray &otherwise = "(unreadable)")
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : otherwise;
}

// Runs of 32 or more of a character are written "c{N}", so that megabytes fit a line.
inline QString folded(const QString &text)
{
    const QList<uint> characters = text.toUcs4();
    QString out;
    for (qsizetype i = 0, run; i < characters.size(); i += run) {
        for (run = 1; i + run < characters.size() && characters[i + run] == characters[i];)
            ++run;
        const QString one = QString::fromUcs4(reinterpret_cast<const char32_t *>(&characters[i]), 1);
        out += run < 32 ? one.repeated(run) : one + u'{' + QString::number(run) + u'}';
    }
    return out;
}

inline QByteArray testData(const QString &name) { return readBytes(QStringLiteral(ORVALIS_TEST_DATA "/") + name); }

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
    return readBytes(file.fileName(), "(no golden file " + file.fileName().toUtf8() + ')');
}

// Compares `actual` byte for byte with the golden file NAME.
#define COMPARE_GOLDEN(name, actual)                        \
    do {                                                    \
        const QByteArray actualBytes_ = (actual);           \
        QCOMPARE(actualBytes_, goldenBytes(name, actualBytes_)); \
    } while (false)
