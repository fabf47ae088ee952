#include "TestFiles.h"

#include "settings/SettingsFile.h"

#include <QDir>
#include <QTest>

#include <unistd.h>

namespace {

SettingsContents twoServers()
{
    SettingsContents contents;
    contents.servers = {{"Primary", "news.example.com", "119", "8", "alice", "K01s3cret", true},
                        {"Backup & more", "backup.example.net", "563", "2", "", "K02", false}};
    contents.namesOnly = 1;
    contents.columnWidths = {55, 240, 33, 63, 90, 90, 553, 40, 66};
    return contents;
}

// Every field read, a server a line, then the options, then what kept the file from being read whole.
QString described(const SettingsReadResult &read)
{
    QStringList lines;
    for (const ServerRecord &s : read.contents.servers)
        lines << QStringList{s.nickname, s.address, s.port, s.threads, s.username, s.rowKey, QString::number(s.checked), QString::number(s.ssl), s.pipeline}.join(u'|');
    QStringList options{QString::number(read.contents.namesOnly), QString::number(read.contents.timeoutSeconds), QString::number(read.contents.sampleCount)};
    for (int width : read.contents.columnWidths)
        options << QString::number(width);
    lines << (read.optionsRead ? options.join(u' ') : QStringLiteral("no options")) << read.problem;
    return lines.join(u'\n');
}

QByteArray document(const QByteArray &files)
{
    return "<?xml version='1.0'?>\n<data>" + files + "</data>\n";
}

QByteArray server(const QByteArray &nickname, const QByteArray &extra = {})
{
    return "<file><nickname>" + nickname + "</nickname><port>119</port><threads>1</threads><username/>"
           "<password>rWX</password><address>h</address><checked>1</checked>" + extra + "</file>";
}

const QByteArray kOptions = "<namesonly>1</namesonly><Column1>1</Column1><Column2>2</Column2><Column3>3</Column3><Column4>4</Column4>"
                            "<Column5>5</Column5><Column6>6</Column6><Column7>7</Column7><Column8>8</Column8><Column9>9</Column9>";

} // namespace

class TestSettingsFile : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    // The layout byte for byte, passwords scrambled, and read back as written. Newer elements only
    // away from their defaults, so older readers and files work both ways; both ends of the scrambled
    // span, markup, characters beyond ASCII, line breaks and control characters a hand-edit can put
    // inside a value (blanks but in the login and the password, a CR there written as a reference);
    // with no server left, the options inside data.
    void writes()
    {
        SettingsContents newer = twoServers();
        newer.servers[1].ssl = true;
        newer.servers[1].pipeline = QStringLiteral("16");
        newer.timeoutSeconds = 0;
        newer.sampleCount = 20;
        SettingsContents every;
        every.servers = {{"Zürich ★", "[2001:db8::1]", "0119", "10", "jürgen", "K030VW}<>&\"' é🔑", true},
                         {"cr\rlf\ncrlf\r\ntab\t\x01", "h\x1b[2J", "1\x7f" "19", "\u0085" "1", "u\rv\x02", "K04p\rq\x03", false}};
        every.servers[1].pipeline = QStringLiteral("2\x04");
        every.namesOnly = 2;
        every.columnWidths = {1, 2, 3, 4, 5, 6, 7, 8, 0};
        SettingsContents everyRead = every;
        everyRead.servers[1] = {"cr lf crlf  tab", "h [2J", "1 19", "1", "u\rv\x02", "K04p\rq\x03", false, false, "2"};
        SettingsContents none = every;
        none.servers.clear();
        none.timeoutSeconds = 5;
        const std::tuple<SettingsContents, SettingsContents, const char *> rows[] = {
            {twoServers(), twoServers(), "two-servers.dat"}, {newer, newer, "settings-newer-elements.dat"},
            {every, everyRead, "settings-every-field.dat"}, {none, none, "settings-no-server.dat"}};
        for (const auto &[contents, readBack, golden] : rows) {
            const QByteArray written = WriteSettingsDocument(contents);
            // The first layout is kept in tests/data, where the server window's tests read it too.
            QCOMPARE(written, golden[0] == 't' ? testData(QLatin1String(golden)) : goldenBytes(QLatin1String(golden), written));
            SettingsReadResult expected{readBack, true, {}};
            QCOMPARE(described(ReadSettingsDocument(written)), described(expected));
        }
    }

    // Any well-formed file of the layout is read, with the servers read before a fault; a file that
    // cannot be read whole is kept as Settings.dat.bad, replacing an older one; a folder is no file.
    // "@huge" is a file over 256 MiB. What was read is in the golden file.
    void reads()
    {
        const QByteArray noColumn9 = QByteArray(kOptions).replace("<Column9>9</Column9>", "");
        const struct { const char *tag; QByteArray bytes; } rows[] = {
            {"values as hands write them", testData(QStringLiteral("settings-hand-written.dat"))},
            // A timeout that is no number keeps the default rather than turning it off.
            {"timeout soon", document(server("A", kOptions + "<timeout>soon</timeout>"))},
            {"timeout -5", document(server("A", kOptions + "<timeout>-5</timeout>"))},
            {"sample 20000", document(server("A", kOptions + "<sample>20000</sample>"))},
            {"no Column9", document(server("A") + server("B", noColumn9))},
            {"namesonly 3", document(server("A", QByteArray(kOptions).replace(">1<", ">3<")))},
            {"no namesonly", document(server("A"))},
            {"a server without its port", document(server("A") + server("B").replace("<port>119</port>", "") + server("C", kOptions))},
            {"empty", ""},
            {"truncated", document(server("A") + server("B", kOptions)).left(170)},
            {"no file", "@none"},
            {"a folder", "@folder"},
            {"huge", "@huge"},
        };
        QString all;
        for (const auto &row : rows) {
            QTemporaryDir dir;
            const QString path = dir.filePath(QStringLiteral("Settings.dat"));
            writeTestFile(dir, QStringLiteral("Settings.dat.bad"), "an older fault");
            QFile file(path);
            if (row.bytes == "@folder")
                QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("Settings.dat")));
            else if (row.bytes == "@huge")
                QVERIFY(file.open(QIODevice::WriteOnly) && file.resize((qint64(256) << 20) + 1));
            else if (row.bytes != "@none")
                writeTestFile(dir, QStringLiteral("Settings.dat"), row.bytes);
            file.close();
            const qint64 size = QFileInfo(path).size();
            const SettingsLoadResult result = LoadSettingsFile(path);
            if (!row.bytes.startsWith('@'))
                QCOMPARE(described(ReadSettingsDocument(row.bytes)), described(result.read));
            if (!result.keptAs.isEmpty()) {
                QCOMPARE(result.keptAs, path + QStringLiteral(".bad"));
                QCOMPARE(QFileInfo(result.keptAs).size(), size);
            }
            QCOMPARE(QFileInfo(path).exists(), result.keptAs.isEmpty() && row.bytes != "@none");
            all += QStringLiteral("=== %1: %2\n").arg(QLatin1String(row.tag), QLatin1String(!result.found ? "not found" : result.keptAs.isEmpty() ? "found" : "found, kept"))
                   + (result.found ? described(result.read) + u'\n' : QString());
        }
        COMPARE_GOLDEN("settings-reads.txt", all.toUtf8());
    }

    void savesForItsOwnerOnly()
    {
        QTemporaryDir dir;
        // The most the list holds, each field as long as the editor allows, into a folder not yet there.
        SettingsContents full;
        for (int i = 1; i <= 99; ++i) {
            const QString field(32767, QChar(u'a' + i % 26));
            full.servers.push_back({field, field, field, field, field, QStringLiteral("K%1").arg(i, 2, 10, QChar(u'0')) + field, true});
        }
        const QString path = dir.filePath(QStringLiteral("new folder/Settings.dat"));
        QVERIFY(!SaveSettingsFile(path, full));
        QCOMPARE(described(LoadSettingsFile(path).read), described(ReadSettingsDocument(WriteSettingsDocument(full))));
        QCOMPARE(QDir(QFileInfo(path).path()).entryList(QDir::Files), QStringList{QStringLiteral("Settings.dat")});
        // A file that was readable by all is narrowed; a link is followed to the file it names.
        const auto ownerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
        QVERIFY(QFile::setPermissions(path, ownerOnly | QFileDevice::ReadOther));
        const QString link = dir.filePath(QStringLiteral("Settings.link"));
        QVERIFY(QFile::link(path, link));
        QVERIFY(!SaveSettingsFile(link, twoServers()));
        QVERIFY(QFileInfo(link).isSymLink());
        QCOMPARE(readBytes(path), WriteSettingsDocument(twoServers()));
        QCOMPARE(QFile::permissions(path) & QFileDevice::Permissions::fromInt(0x7077), ownerOnly);

        // A folder in the way, and procfs, which takes no new files whoever asks.
        QVERIFY(SaveSettingsFile(QFileInfo(path).path(), twoServers()));
        const std::optional<SettingsSaveError> proc = SaveSettingsFile(QStringLiteral("/proc/Settings.dat"), twoServers());
        QVERIFY(proc && proc->code != 0 && !proc->description.isEmpty());
        if (geteuid() == 0)
            QSKIP("the superuser writes read-only files");
        QVERIFY(QFile::setPermissions(path, QFileDevice::ReadOwner));
        QVERIFY(SaveSettingsFile(path, full).value_or(SettingsSaveError{0, {}}).description.contains(path));
        QCOMPARE(readBytes(path), WriteSettingsDocument(twoServers()));
    }

    // Beside the program when one is there, or when the program lives outside /usr in a folder its
    // user may write; otherwise in the user's configuration folder.
    void choosesWhereTheFileLives()
    {
        QTemporaryDir program;
        const QString config = QStringLiteral("/home/user/.config/Orvalis");
        const QString beside = program.filePath(QStringLiteral("Settings.dat"));
        QCOMPARE(SettingsFilePath(program.path(), config), beside);
        QCOMPARE(SettingsFilePath(QStringLiteral("/usr/bin"), config), config + QStringLiteral("/Settings.dat"));
        QCOMPARE(SettingsFilePath(QStringLiteral("/usr/local/bin/"), config), config + QStringLiteral("/Settings.dat"));
        if (geteuid() == 0)
            QSKIP("the superuser may write every folder");
        const auto readOnly = QFileDevice::ReadOwner | QFileDevice::ExeOwner;
        QVERIFY(QFile::setPermissions(program.path(), readOnly));
        QCOMPARE(SettingsFilePath(program.path(), config), config + QStringLiteral("/Settings.dat"));
        QVERIFY(QFile::setPermissions(program.path(), readOnly | QFileDevice::WriteOwner));
        writeTestFile(program, QStringLiteral("Settings.dat"), {});
        QVERIFY(QFile::setPermissions(program.path(), readOnly));
        QCOMPARE(SettingsFilePath(program.path(), config), beside);
        QVERIFY(QFile::setPermissions(program.path(), readOnly | QFileDevice::WriteOwner));
    }
};

QTEST_GUILESS_MAIN(TestSettingsFile)
#include "tst_settingsfile.moc"
