#include "ui/ActivityLog.h"

#include "TestFiles.h"

#include <QSignalSpy>
#include <QTest>

class TestActivityLog : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void batchesAppendsForTheView()
    {
        ActivityLog log;
        QSignalSpy inserted(&log, &QAbstractItemModel::rowsInserted);
        for (int i = 0; i < 100000; ++i)
            log.append(QStringLiteral("Article not found: %1").arg(i));
        QCOMPARE(log.rowCount(), 0);
        QTRY_COMPARE(log.rowCount(), 100000);
        QCOMPARE(inserted.count(), 1);
        QCOMPARE(log.data(log.index(99999)).toString(), QStringLiteral("Article not found: 99999"));
        log.replaceWith({QStringLiteral("a"), QStringLiteral("b")});
        log.append(QStringLiteral("c"));
        QCOMPARE(log.rowCount(), 2);
        log.flush();
        log.flush();
        QCOMPARE(log.rowCount(), 3);
        log.clear();
        QCOMPARE(log.rowCount() + log.lines().size(), 0);
    }

    // UTF-8 with CR LF after every line; a failed save leaves an existing file whole.
    void copiesAndSaves()
    {
        QTemporaryDir dir;
        const QString path = writeTestFile(dir, QStringLiteral("log.txt"), "old log\r\n");
        ActivityLog log;
        QVERIFY(log.saveTo(path).isEmpty() && QFileInfo(path).size() == 0);
        log.append({QStringLiteral("NZB file: caf\u00e9.nzb"), QString(), QStringLiteral("x")});
        QCOMPARE(log.copyText(), QStringLiteral("NZB file: caf\u00e9.nzb\r\n\r\nx\r\n"));
        QVERIFY(log.saveTo(path).isEmpty() && !log.saveTo(dir.filePath(QStringLiteral("missing-folder/log.txt"))).isEmpty());
        // A read-only folder refuses the temporary file.
        QVERIFY(QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::ExeOwner));
        log.append(QStringLiteral("new"));
        const QString error = log.saveTo(path);
        QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        QCOMPARE(readBytes(path), QByteArray("NZB file: caf\xC3\xA9.nzb\r\n\r\nx\r\n") + QByteArray(error.isEmpty() ? "new\r\n" : ""));
        if (error.isEmpty())
            QSKIP("This user writes into read-only folders (root).");
    }
};

QTEST_GUILESS_MAIN(TestActivityLog)
#include "tst_activitylog.moc"
