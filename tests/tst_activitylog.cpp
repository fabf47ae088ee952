#include "ui/ActivityLog.h"

#include "TestFiles.h"

#include <QSignalSpy>
#include <QTest>

class TestActivityLog : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void batchesAppendsForTheView();
    void copiesWithCrLfAfterEveryLine();
    void savesUtf8WithCrLf();
    void failedSaveKeepsTheExistingFile();
};

void TestActivityLog::batchesAppendsForTheView()
{
    ActivityLog log;
    QSignalSpy inserted(&log, &QAbstractItemModel::rowsInserted);
    for (int i = 0; i < 100000; ++i)
        log.append(QStringLiteral("Article not found: %1").arg(i));
    QCOMPARE(log.rowCount(), 0);
    QCOMPARE(log.lines().size(), 100000);
    QTRY_COMPARE(log.rowCount(), 100000);
    QCOMPARE(inserted.count(), 1);
    QCOMPARE(log.data(log.index(99999)).toString(), QStringLiteral("Article not found: 99999"));

    log.replaceWith({QStringLiteral("a"), QStringLiteral("b")});
    QCOMPARE(log.rowCount(), 2);
    log.append(QStringLiteral("c"));
    log.flush();
    QCOMPARE(log.rowCount(), 3);
    log.clear();
    QCOMPARE(log.rowCount(), 0);
    QVERIFY(log.lines().isEmpty());
}

void TestActivityLog::copiesWithCrLfAfterEveryLine()
{
    ActivityLog log;
    QCOMPARE(log.copyText(), QString());
    log.append({QStringLiteral("one"), QString(), QStringLiteral("three")});
    QCOMPARE(log.copyText(), QStringLiteral("one\r\n\r\nthree\r\n"));
}

void TestActivityLog::savesUtf8WithCrLf()
{
    QTemporaryDir dir;
    ActivityLog log;
    log.append({QStringLiteral("NZB file: caf\u00e9.nzb"), QStringLiteral("x")});
    const QString path = dir.filePath(QStringLiteral("log.txt"));
    QCOMPARE(log.saveTo(path), QString());
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("NZB file: caf\xC3\xA9.nzb\r\nx\r\n"));

    ActivityLog empty;
    QCOMPARE(empty.saveTo(path), QString());
    QCOMPARE(QFileInfo(path).size(), 0);
}

void TestActivityLog::failedSaveKeepsTheExistingFile()
{
    QTemporaryDir dir;
    const QString path = writeTestFile(dir, QStringLiteral("old.txt"), "old log\r\n");
    ActivityLog log;
    log.append(QStringLiteral("new"));
    QVERIFY(!log.saveTo(dir.filePath(QStringLiteral("missing-folder/log.txt"))).isEmpty());

    // A read-only folder refuses the temporary file, so the old file must stay whole.
    QVERIFY(QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::ExeOwner));
    const QString error = log.saveTo(path);
    QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    if (error.isEmpty())
        QSKIP("This user writes into read-only folders (root).");
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("old log\r\n"));
    QCOMPARE(log.lines(), QStringList{QStringLiteral("new")});
}

QTEST_GUILESS_MAIN(TestActivityLog)
#include "tst_activitylog.moc"
