#include "TestFiles.h"

#include "settings/ScramblePassword.h"
#include "settings/SettingsFile.h"

#include <QDir>
#include <QTest>

#include <unistd.h>

namespace {

SettingsContents twoServers()
{
    SettingsContents contents;
    contents.servers = {
        {QStringLiteral("Primary"), QStringLiteral("news.example.com"), QStringLiteral("119"), QStringLiteral("8"),
         QStringLiteral("alice"), QStringLiteral("K01s3cret"), true},
        {QStringLiteral("Backup & more"), QStringLiteral("backup.example.net"), QStringLiteral("563"), QStringLiteral("2"),
         QString(), QStringLiteral("K02"), false},
    };
    contents.namesOnly = 1;
    contents.columnWidths = {55, 240, 33, 63, 90, 90, 553, 40, 66};
    return contents;
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// One whole document around the given servers' elements.
QByteArray documentWith(const QByteArray &files)
{
    return "<?xml version='1.0'?>\n<data>" + files + "</data>\n";
}

const QByteArray kOptions = "<namesonly>1</namesonly><Column1>1</Column1><Column2>2</Column2><Column3>3</Column3>"
                            "<Column4>4</Column4><Column5>5</Column5><Column6>6</Column6><Column7>7</Column7>"
                            "<Column8>8</Column8><Column9>9</Column9>";

QByteArray serverElement(const QByteArray &nickname, const QByteArray &checked = "1", const QByteArray &extra = {})
{
    return "<file><nickname>" + nickname + "</nickname><port>119</port><threads>1</threads><username/>"
           "<password>rWX</password><address>h</address><checked>" + checked + "</checked>" + extra + "</file>";
}

void compareServers(const std::vector<ServerRecord> &actual, const std::vector<ServerRecord> &expected)
{
    QCOMPARE(actual.size(), expected.size());
    for (size_t i = 0; i < actual.size(); ++i) {
        QCOMPARE(actual[i].nickname, expected[i].nickname);
        QCOMPARE(actual[i].address, expected[i].address);
        QCOMPARE(actual[i].port, expected[i].port);
        QCOMPARE(actual[i].threads, expected[i].threads);
        QCOMPARE(actual[i].username, expected[i].username);
        QCOMPARE(actual[i].rowKey, expected[i].rowKey);
        QCOMPARE(actual[i].checked, expected[i].checked);
        QCOMPARE(actual[i].ssl, expected[i].ssl);
        QCOMPARE(actual[i].pipeline, expected[i].pipeline);
    }
}

// Permissions as the file system keeps them, without Qt's bits for the current user.
constexpr auto kOwnerGroupOther = QFileDevice::Permissions::fromInt(0x7077);

bool runningAsRoot()
{
    return geteuid() == 0;
}

} // namespace

class TestSettingsFile : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void scramblesByHalfTheSpan_data();
    void scramblesByHalfTheSpan();
    void writesTheLayoutByteForByte();
    void roundTripsEveryField();
    void writesNewerElementsOnlyAwayFromTheirDefaults();
    void readsValuesAsHandsMayWriteThem();
    void keepsTheServersReadBeforeAFault_data();
    void keepsTheServersReadBeforeAFault();
    void keepsAFileThatCannotBeReadAsBad();
    void savesAtomicallyForItsOwnerOnly();
    void takesHugeLinkedAndFullFiles();
    void reportsFailedSaves();
    void choosesWhereTheFileLives();
};

void TestSettingsFile::scramblesByHalfTheSpan_data()
{
    QTest::addColumn<QString>("plain");
    QTest::addColumn<QString>("scrambled");
    QTest::newRow("letters") << QStringLiteral("abc") << QStringLiteral(":;<");
    QTest::newRow("ends of the span") << QStringLiteral("0VW}") << QStringLiteral("W}0V");
    QTest::newRow("outside the span") << QString::fromUtf8(" !~/\xC3\xA9") << QString::fromUtf8(" !~/\xC3\xA9");
    QTest::newRow("a row key") << QStringLiteral("K01s3cret") << QStringLiteral("rWXLZ<K>M");
    QTest::newRow("empty") << QString() << QString();
}

void TestSettingsFile::scramblesByHalfTheSpan()
{
    QFETCH(QString, plain);
    QFETCH(QString, scrambled);
    QCOMPARE(ScramblePassword(plain), scrambled);
    QCOMPARE(ScramblePassword(scrambled), plain);
}

void TestSettingsFile::writesTheLayoutByteForByte()
{
    QCOMPARE(WriteSettingsDocument(twoServers()), readFile(QStringLiteral(ORVALIS_TEST_DATA "/two-servers.dat")));
}

void TestSettingsFile::roundTripsEveryField()
{
    SettingsContents contents = twoServers();
    contents.servers.push_back({QString::fromUtf8("Zürich \xE2\x98\x85"), QStringLiteral("[2001:db8::1]"),
                                QStringLiteral("0119"), QStringLiteral("10"), QString::fromUtf8("jürgen"),
                                QString::fromUtf8("K030VW}<>&\"' é\xF0\x9F\x94\x91"), true});
    // A hand-edit can put line breaks and control characters inside a value; they come back as they were.
    contents.servers.push_back({QStringLiteral("cr\rlf\ncrlf\r\ntab\t\x01"), QStringLiteral("h"), QStringLiteral("119"),
                                QStringLiteral("1"), QStringLiteral("u\rv"), QStringLiteral("K04p\rq"), false});
    contents.namesOnly = 2;
    contents.columnWidths = {1, 2, 3, 4, 5, 6, 7, 8, 0};

    const SettingsReadResult read = ReadSettingsDocument(WriteSettingsDocument(contents));
    QCOMPARE(read.problem, QString());
    QVERIFY(read.optionsRead);
    compareServers(read.contents.servers, contents.servers);
    QCOMPARE(read.contents.namesOnly, 2);
    QCOMPARE(read.contents.columnWidths, contents.columnWidths);
    QCOMPARE(read.contents.servers[1].password(), QString()); // the key alone: no password

    // With no server left, the options stand directly inside `data`.
    contents.servers.clear();
    contents.timeoutSeconds = 5;
    const QByteArray empty = WriteSettingsDocument(contents);
    QVERIFY(empty.contains("<data>\n\t<namesonly>2</namesonly>\n\t<Column1>1</Column1>"));
    const SettingsReadResult none = ReadSettingsDocument(empty);
    QCOMPARE(none.problem, QString());
    QVERIFY(none.optionsRead && none.contents.servers.empty());
    QCOMPARE(none.contents.columnWidths, contents.columnWidths);
    QCOMPARE(none.contents.timeoutSeconds, 5);
}

// Files written by older versions read as before, and older readers find their elements by name.
void TestSettingsFile::writesNewerElementsOnlyAwayFromTheirDefaults()
{
    SettingsContents contents = twoServers();
    contents.servers[1].ssl = true;
    contents.servers[1].pipeline = QStringLiteral("16");
    contents.timeoutSeconds = 0;
    QByteArray expected = readFile(QStringLiteral(ORVALIS_TEST_DATA "/two-servers.dat"));
    expected.replace("<checked>0</checked>\n", "<checked>0</checked>\n\t\t<ssl>1</ssl>\n\t\t<pipeline>16</pipeline>\n");
    expected.replace("<Column9>66</Column9>\n", "<Column9>66</Column9>\n\t\t<timeout>0</timeout>\n");
    const QByteArray written = WriteSettingsDocument(contents);
    QCOMPARE(written, expected);

    const SettingsReadResult read = ReadSettingsDocument(written);
    QCOMPARE(read.problem, QString());
    compareServers(read.contents.servers, contents.servers);
    QCOMPARE(read.contents.timeoutSeconds, 0);

    const SettingsReadResult older = ReadSettingsDocument(readFile(QStringLiteral(ORVALIS_TEST_DATA "/two-servers.dat")));
    compareServers(older.contents.servers, twoServers().servers);
    QCOMPARE(older.contents.timeoutSeconds, 60);
    // A value that is no number keeps the default instead of turning the timeout off.
    for (const QByteArray &value : {QByteArray("soon"), QByteArray("-5"), QByteArray("")}) {
        const SettingsReadResult odd = ReadSettingsDocument(
            documentWith(serverElement("n", "1", "<ssl> 1 </ssl><pipeline>x</pipeline>" + kOptions + "<timeout>" + value + "</timeout>")));
        QCOMPARE(odd.problem, QString());
        QCOMPARE(odd.contents.timeoutSeconds, 60);
        QVERIFY(odd.contents.servers[0].ssl);
        QCOMPARE(odd.contents.servers[0].pipeline, QStringLiteral("x")); // kept as written, like the threads
    }
}

void TestSettingsFile::readsValuesAsHandsMayWriteThem()
{
    const QByteArray document = documentWith(
        "\n  <file>\n   <nickname>\n  Spaced  \n</nickname><port> 119 </port><threads>\t3\t</threads>"
        "<username><![CDATA[a<b]]></username><password> rWX </password><address> h </address>"
        "<checked> 1 </checked><namesonly> 1 </namesonly></file>"
        "<file><checked>true</checked><nickname>Second</nickname><port>x</port><threads>99</threads><username/>"
        "<password/><address/><Column1>12px</Column1><Column2>-5</Column2><Column3>wide</Column3>"
        "<Column4>4</Column4><Column5>5</Column5><Column6>6</Column6><Column7>7</Column7><Column8>8</Column8>"
        "<Column9>9</Column9></file>\n");
    const SettingsReadResult read = ReadSettingsDocument(document);
    QCOMPARE(read.problem, QString());
    compareServers(read.contents.servers,
                   {{QStringLiteral("Spaced"), QStringLiteral("h"), QStringLiteral("119"), QStringLiteral("3"),
                     QStringLiteral("a<b"), QStringLiteral("K01"), true},
                    {QStringLiteral("Second"), QString(), QStringLiteral("x"), QStringLiteral("99"), QString(), QString(), false}});
    QCOMPARE(read.contents.namesOnly, 1);
    QCOMPARE(read.contents.columnWidths, (std::array<int, 9>{12, 0, 0, 4, 5, 6, 7, 8, 9}));
}

void TestSettingsFile::keepsTheServersReadBeforeAFault_data()
{
    QTest::addColumn<QByteArray>("document");
    QTest::addColumn<int>("servers");
    QTest::addColumn<QString>("problem");
    const QByteArray noColumn9 = QByteArray(kOptions).replace("<Column9>9</Column9>", "");
    QTest::newRow("no Column9") << documentWith(serverElement("A") + serverElement("B", "1", noColumn9)) << 2
                                << QStringLiteral("there is no element \"Column9\"");
    QTest::newRow("namesonly 3") << documentWith(serverElement("A", "1", QByteArray(kOptions).replace(">1<", ">3<"))) << 1
                                 << QStringLiteral("\"namesonly\" is not 0, 1 or 2");
    QTest::newRow("a server without its port")
        << documentWith(serverElement("A") + QByteArray(serverElement("B")).replace("<port>119</port>", "")
                        + serverElement("C", "1", kOptions))
        << 1 << QStringLiteral("a server has no element \"port\"");
    QTest::newRow("empty") << QByteArray() << 0 << QStringLiteral("it is not well-formed XML (No document element found at byte 0)");
    const QByteArray whole = documentWith(serverElement("A") + serverElement("B", "1", kOptions));
    QTest::newRow("truncated") << whole.left(whole.indexOf("<file>", 20)) << 0
                               << QStringLiteral("it is not well-formed XML (Start-end tags mismatch at byte 27)");
}

void TestSettingsFile::keepsTheServersReadBeforeAFault()
{
    QFETCH(QByteArray, document);
    QFETCH(int, servers);
    QFETCH(QString, problem);
    const SettingsReadResult read = ReadSettingsDocument(document);
    QCOMPARE(read.problem, problem);
    QCOMPARE(int(read.contents.servers.size()), servers);
    QVERIFY(!read.optionsRead);
}

void TestSettingsFile::keepsAFileThatCannotBeReadAsBad()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("Settings.dat"));
    QVERIFY(!LoadSettingsFile(path).found);

    writeTestFile(dir, QStringLiteral("Settings.dat.bad"), "an older fault");
    const QByteArray truncated = documentWith(serverElement("A") + serverElement("B", "1", kOptions)).left(170);
    writeTestFile(dir, QStringLiteral("Settings.dat"), truncated);
    const SettingsLoadResult loaded = LoadSettingsFile(path);
    QVERIFY(loaded.found);
    QVERIFY(!loaded.read.problem.isEmpty());
    QCOMPARE(loaded.read.contents.servers.size(), size_t(0));
    QCOMPARE(loaded.keptAs, path + QStringLiteral(".bad"));
    QVERIFY(!QFileInfo::exists(path));
    QCOMPARE(readFile(path + QStringLiteral(".bad")), truncated);

    // A folder where the file should be is not a settings file: nothing is read or moved.
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("Settings.dat")));
    QVERIFY(!LoadSettingsFile(path).found);
    QVERIFY(QFileInfo(path).isDir());

    const QString whole = writeTestFile(dir, QStringLiteral("whole.dat"), documentWith(serverElement("A", "1", kOptions)));
    const SettingsLoadResult good = LoadSettingsFile(whole);
    QCOMPARE(good.read.problem, QString());
    QCOMPARE(good.keptAs, QString());
    QVERIFY(QFileInfo::exists(whole));
}

void TestSettingsFile::savesAtomicallyForItsOwnerOnly()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("new folder/Settings.dat"));
    QCOMPARE(SaveSettingsFile(path, twoServers()).has_value(), false);
    QCOMPARE(readFile(path), WriteSettingsDocument(twoServers()));
    QCOMPARE(QFile::permissions(path) & kOwnerGroupOther, QFileDevice::ReadOwner | QFileDevice::WriteOwner);

    // A file that was readable by all before is narrowed too.
    QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadOther);
    QVERIFY(!SaveSettingsFile(path, twoServers()));
    QCOMPARE(QFile::permissions(path) & kOwnerGroupOther, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    QCOMPARE(QDir(QFileInfo(path).path()).entryList(QDir::Files), QStringList{QStringLiteral("Settings.dat")});
}

void TestSettingsFile::takesHugeLinkedAndFullFiles()
{
    QTemporaryDir dir;
    // The most the list holds, each field as long as the editor allows.
    SettingsContents full = twoServers();
    full.servers.clear();
    for (int i = 1; i <= 99; ++i) {
        const QString field(32767, QChar(u'a' + i % 26));
        full.servers.push_back({field, field, field, field, field, QStringLiteral("K%1").arg(i, 2, 10, QChar(u'0')) + field, true});
    }
    const QString path = dir.filePath(QStringLiteral("Settings.dat"));
    QVERIFY(!SaveSettingsFile(path, full));
    const SettingsLoadResult loaded = LoadSettingsFile(path);
    QCOMPARE(loaded.read.problem, QString());
    compareServers(loaded.read.contents.servers, full.servers);

    // A link to a file elsewhere is read, and saving writes the file it points to.
    const QString elsewhere = dir.filePath(QStringLiteral("dotfiles/orvalis.dat"));
    QVERIFY(!SaveSettingsFile(elsewhere, twoServers()));
    const QString link = dir.filePath(QStringLiteral("linked/Settings.dat"));
    QVERIFY(QDir().mkpath(QFileInfo(link).path()));
    QVERIFY(QFile::link(elsewhere, link));
    compareServers(LoadSettingsFile(link).read.contents.servers, twoServers().servers);
    QVERIFY(!SaveSettingsFile(link, full));
    QVERIFY(QFileInfo(link).isSymLink());
    compareServers(ReadSettingsFile(elsewhere).contents.servers, full.servers);

    // Larger than any list can be: not read into memory, and kept.
    const QString huge = dir.filePath(QStringLiteral("huge/Settings.dat"));
    QVERIFY(QDir().mkpath(QFileInfo(huge).path()));
    QFile file(huge);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.resize((qint64(256) << 20) + 1));
    file.close();
    const SettingsLoadResult hugeLoad = LoadSettingsFile(huge);
    QCOMPARE(hugeLoad.read.problem, QStringLiteral("it is larger than 256 MiB"));
    QCOMPARE(QFileInfo(hugeLoad.keptAs).size(), (qint64(256) << 20) + 1);
}

void TestSettingsFile::reportsFailedSaves()
{
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("Settings.dat")));
    const std::optional<SettingsSaveError> folder = SaveSettingsFile(dir.filePath(QStringLiteral("Settings.dat")), twoServers());
    QVERIFY(folder);
    QVERIFY(folder->code != 0);
    QVERIFY(!folder->description.isEmpty());

    // procfs takes no new files, whoever asks.
    QVERIFY(SaveSettingsFile(QStringLiteral("/proc/Settings.dat"), twoServers()));

    if (runningAsRoot())
        QSKIP("the superuser writes read-only files");
    const QString path = writeTestFile(dir, QStringLiteral("readonly.dat"), "kept");
    QFile::setPermissions(path, QFileDevice::ReadOwner);
    const std::optional<SettingsSaveError> readOnly = SaveSettingsFile(path, twoServers());
    QVERIFY(readOnly);
    QVERIFY(readOnly->description.contains(path));
    QCOMPARE(readFile(path), QByteArray("kept"));
}

void TestSettingsFile::choosesWhereTheFileLives()
{
    QTemporaryDir program;
    const QString config = QStringLiteral("/home/user/.config/Orvalis");
    const QString inConfig = config + QStringLiteral("/Settings.dat");
    QCOMPARE(SettingsFilePath(program.path(), config), program.filePath(QStringLiteral("Settings.dat")));
    QCOMPARE(SettingsFilePath(QStringLiteral("/usr/bin"), config), inConfig);
    QCOMPARE(SettingsFilePath(QStringLiteral("/usr/local/bin/"), config), inConfig);
    if (runningAsRoot())
        QSKIP("the superuser may write every folder");

    const auto readOnly = QFileDevice::ReadOwner | QFileDevice::ExeOwner;
    const auto writable = readOnly | QFileDevice::WriteOwner;
    QVERIFY(QFile::setPermissions(program.path(), readOnly));
    QCOMPARE(SettingsFilePath(program.path(), config), inConfig);
    QVERIFY(QFile::setPermissions(program.path(), writable));
    writeTestFile(program, QStringLiteral("Settings.dat"), {});
    QVERIFY(QFile::setPermissions(program.path(), readOnly));
    QCOMPARE(SettingsFilePath(program.path(), config), program.filePath(QStringLiteral("Settings.dat")));
    QVERIFY(QFile::setPermissions(program.path(), writable));
}

QTEST_GUILESS_MAIN(TestSettingsFile)
#include "tst_settingsfile.moc"
