// The settings store in one process: key defaults, text conversions, write-through, damaged
// files and failing writes.
#include "OptionText.h"
#include "SettingsStore.h"
#include "core/Error.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <sys/resource.h>

using app::SettingsStore;

class TestSettingsStore : public QObject
{
    Q_OBJECT

    QTemporaryDir m_home;
    QString m_file;

    static void writeFile(const QString &path, const QByteArray &bytes)
    {
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QCOMPARE(file.write(bytes), bytes.size());
    }
    static QByteArray readFile(const QString &path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_home.isValid());
        qputenv("HOME", QFile::encodeName(m_home.path()));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_home.path() + "/config"));
    }
    void init()
    {
        QDir(m_home.path() + "/config").removeRecursively();
        m_file = SettingsStore::defaultFilePath();
    }

    void filePathFollowsXdgConfigHome()
    {
        QCOMPARE(SettingsStore::defaultFilePath(),
                 m_home.path() + "/config/Kestrelby/Vistarel Ombrix.conf");
        qunsetenv("XDG_CONFIG_HOME");
        QCOMPARE(SettingsStore::defaultFilePath(),
                 m_home.path() + "/.config/Kestrelby/Vistarel Ombrix.conf");
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_home.path() + "/config"));
    }

    void emptyStoreGivesTheDefaultsAndStaysEmpty()
    {
        const SettingsStore store(m_file);
        QCOMPARE(store.GetSetting("Text2", "Screenshots"), QString("Screenshots"));
        QCOMPARE(store.GetSetting("Text1", "/home/u/Desktop/"), QString("/home/u/Desktop/"));
        const bool on[] = {true, false, false, true, false};
        for (int i = 0; i < 5; ++i) {
            const QString key = QString("Option%1").arg(i + 1);
            QCOMPARE(app::OptionValue(store.GetSetting(key, on[i] ? 1 : 0)), on[i]);
        }
        QVERIFY(!QFile::exists(m_file));
    }

    void optionTextConversion_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("expected"); // 1 on, 0 off, -1 type mismatch
        const std::pair<const char *, int> rows[] = {
            {"True", 1},   {"False", 0}, {"true", 1}, {"FALSE", 0},
            {"tRuE", 1},   {"1", 1},     {"0", 0},    {"2", 1},
            {"-1", 1},     {"00", 0},    {"0.0", 0},  {"0.5", 1},
            {"+0", 0},     {"1e3", 1},   {" 7 ", 1},  {"123456789012345678901234567890", 1},
            {"", -1},      {" ", -1},    {"yes", -1}, {"on", -1},
            {"True ", -1}, {"1x", -1},   {".", -1},   {"e5", -1},
            {"1e", -1},    {"0x10", -1}, {"nan", -1}, {"inf", -1},
            {"--1", -1}};
        for (const auto &[text, expected] : rows)
            QTest::newRow(qPrintable(QString("'%1'").arg(text))) << QString(text) << expected;
    }
    void optionTextConversion()
    {
        QFETCH(QString, text);
        QFETCH(int, expected);
        if (expected >= 0) {
            QCOMPARE(app::OptionValue(text), expected == 1);
            return;
        }
        try {
            app::OptionValue(text);
            QFAIL("no type mismatch");
        } catch (const core::Error &error) {
            QCOMPARE(error.number(), 13);
            QCOMPARE(error.description(), QString("Type mismatch"));
        }
    }

    void storesAnyTextExactly_data()
    {
        QTest::addColumn<QString>("value");
        QTest::newRow("folder") << "/home/u/Shots/";
        QTest::newRow("empty") << "";
        QTest::newRow("blanks around") << "  a b  ";
        QTest::newRow("ini specials") << "a=b;c#d[e]\\f\"g";
        QTest::newRow("line breaks") << "one\r\ntwo\rthree\n";
        QTest::newRow("at sign") << "@Variant(junk)";
        QTest::newRow("commas") << "a, b,c";
        QTest::newRow("unicode") << QString::fromUtf8("Bilder/Übersicht €");
        QTest::newRow("long") << QString(100000, QChar('x'));
    }
    void storesAnyTextExactly()
    {
        QFETCH(QString, value);
        SettingsStore(m_file).SaveSetting("Text1", value);
        QCOMPARE(SettingsStore(m_file).GetSetting("Text1", "default"), value);
        const QSettings plain(m_file, QSettings::IniFormat);
        QCOMPARE(plain.status(), QSettings::NoError);
        QCOMPARE(plain.value("Text1").toString(), value);
        QVERIFY(readFile(m_file).startsWith("[General]\n"));

        // Writing the stored text again leaves the file alone.
        const QDateTime stamp = QFileInfo(m_file).fileTime(QFileDevice::FileModificationTime);
        QTest::qWait(5);
        SettingsStore(m_file).SaveSetting("Text1", value);
        QCOMPARE(QFileInfo(m_file).fileTime(QFileDevice::FileModificationTime), stamp);
    }

    // A folder that cannot be written (here: the lock cannot be made there) fails no write that
    // would leave the stored text as it is, and still fails a change.
    void unchangedTextNeedsNoWrite()
    {
        const QByteArray before = "[General]\nText1=/a/\nOption1=True\n";
        writeFile(m_file, before);
        QVERIFY(QDir().mkpath(m_file + ".lock"));
        SettingsStore store(m_file);
        store.SaveSetting("Text1", "/a/");
        store.SaveSetting("Option1", "True");
        QVERIFY_THROWS_EXCEPTION(core::Error, store.SaveSetting("Option1", "False"));
        QVERIFY_THROWS_EXCEPTION(core::Error, store.SaveSetting("Text2", ""));
        QCOMPARE(readFile(m_file), before);
    }

    void writeReplacesOnlyItsKey()
    {
        writeFile(m_file, "[General]\nText2=mine\nOption1=True\n\n[Other]\nkey=kept\n");
        SettingsStore store(m_file);
        store.SaveSetting("Text1", "/a/");
        store.SaveSetting("Option1", "False");
        QSettings plain(m_file, QSettings::IniFormat);
        QCOMPARE(plain.value("Text1").toString(), QString("/a/"));
        QCOMPARE(plain.value("Text2").toString(), QString("mine"));
        QCOMPARE(plain.value("Option1").toString(), QString("False"));
        QCOMPARE(plain.value("Other/key").toString(), QString("kept"));
    }

    // Every read goes to the file: a store keeps nothing between calls, and QSettings' cache
    // (keyed by path, trusted while size and millisecond stamp agree) is never asked.
    void readsSeeEveryWriteAtOnce()
    {
        SettingsStore writer(m_file), reader(m_file);
        for (int i = 0; i < 50; ++i) {
            const QString value = QString("/shots/%1/").arg(i % 10); // same size each time
            writer.SaveSetting("Text1", value);
            QCOMPARE(reader.GetSetting("Text1", ""), value);
            writeFile(m_file, QString("[General]\nText1=/other/%1/\n").arg(i % 10).toUtf8());
            QCOMPARE(reader.GetSetting("Text1", ""), QString("/other/%1/").arg(i % 10));
        }
    }

    void damagedFileReadsWhatItCan_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("text1"); // "-" for absent
        QTest::addColumn<QString>("text2");
        QTest::newRow("line without =") << QByteArray("[General]\nnonsense\nText1=/a/\n") << "/a/"
                                        << "-";
        QTest::newRow("list without quotes")
            << QByteArray("[General]\nText1=/u/a, b\n") << "/u/a, b"
            << "-";
        QTest::newRow("unclosed section") << QByteArray("[General\nText1=/c/\n") << "/c/"
                                          << "-";
        QTest::newRow("variant junk") << QByteArray("[General]\nText2=@Variant(\\0\\0\\0\\x7f\\xff"
                                                    "\\xff\\xff\\xff)\nText1=/d/\n")
                                      << "/d/"
                                      << "-";
        QTest::newRow("large value")
            << "[General]\nText1=/e/\nText2=" + QByteArray(900000, 'x') + "\n"
            << "/e/" << QString(900000, 'x');
        // Hand-edited: comments, blank lines, indents, CR LF, a byte order mark, other keys and
        // sections, any spelling of True, a stray line.
        QTest::newRow("edited by hand")
            << QByteArray("\xef\xbb\xbf; my settings\r\n\r\n# folder\r\n[General]\r\n"
                          "  Text1 = /g/\r\nOption1=TRUE\r\nmy own note\r\nOther=1\r\n\t\r\n"
                          "[Elsewhere]\r\nkey=value\r\n")
            << "/g/"
            << "-";
    }
    void damagedFileReadsWhatItCan()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, text1);
        QFETCH(QString, text2);
        writeFile(m_file, bytes);
        SettingsStore store(m_file);
        QCOMPARE(store.GetSetting("Text1", "-"), text1);
        QCOMPARE(store.GetSetting("Text2", "-"), text2);

        // A write on top of it leaves a clean file that keeps what was readable.
        store.SaveSetting("Option1", "True");
        const QSettings plain(m_file, QSettings::IniFormat);
        QCOMPARE(plain.status(), QSettings::NoError);
        QCOMPARE(store.GetSetting("Option1", "-"), QString("True"));
        QCOMPARE(store.GetSetting("Text1", "-"), text1);
        QCOMPARE(QDir(QFileInfo(m_file).absolutePath()).entryList({"*damaged*"}), QStringList());
    }

    // A file that is no settings file is never overwritten: the first write moves it aside
    // (a link: the link itself, its target stays as it was), says so with both paths, and
    // starts afresh. Reads give the defaults and leave it alone.
    void foreignFileIsSetAsideOnce_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("throughLink");
        QByteArray junk(4096, '\0');
        QRandomGenerator random(7);
        for (char &c : junk)
            c = char(random.bounded(256));
        const QByteArray passwd = "root:x:0:0:root:/root:/bin/bash\n"
                                  "daemon:x:1:1:daemon:/usr/sbin:/usr/sbin/nologin\n"
                                  "alice:x:1000:1000:Alice,,,:/home/alice:/bin/bash\n";
        QTest::newRow("copy of /etc/passwd through a link") << passwd << true;
        QTest::newRow("text without settings") << passwd << false;
        QTest::newRow("another program's INI file through a link")
            << QByteArray("# git\n[core]\n\tbare = false\n[remote \"origin\"]\n\turl = /x.git\n")
            << true;
        QTest::newRow("binary junk") << junk << false;
        QTest::newRow("binary junk after settings") << "[General]\nText1=/b/\n" + junk << false;
        QTest::newRow("short junk") << QByteArray("\x89PNG\r\n\x1a\n") << false;
        QTest::newRow("over 1 MiB")
            << "[General]\nText1=/f/\nText2=" + QByteArray(1 << 20, 'y') + "\n"
            << false;
        QTest::newRow("56 MB through a link")
            << "[General]\nText1=/f/\nText2=" + QByteArray(56 << 20, 'y') + "\n"
            << true;
    }
    void foreignFileIsSetAsideOnce()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, throughLink);
        const QString folder = QFileInfo(m_file).absolutePath();
        const QString target = throughLink ? m_home.path() + "/dotfiles/vo.conf" : m_file;
        writeFile(target, bytes);
        if (throughLink)
            QVERIFY(QDir().mkpath(folder) && QFile::link(target, m_file));

        SettingsStore store(m_file);
        QCOMPARE(store.GetSetting("Text1", "default"), QString("default"));
        QCOMPARE(store.GetSetting("Option1", 1), QString("1"));
        QVERIFY(QDir(folder).entryList({"*damaged*"}).isEmpty());

        const QString aside = m_file + ".damaged-" + QDate::currentDate().toString("yyyy-MM-dd");
        try {
            store.SaveSetting("Text1", "/mine/");
            QFAIL("no word about the foreign file");
        } catch (const core::Error &error) {
            QVERIFY2(error.description().contains('"' + m_file + '"') &&
                         error.description().contains('"' + aside + '"'),
                     qPrintable(error.description()));
        }
        QCOMPARE(readFile(throughLink ? target : aside), bytes);
        if (throughLink)
            QCOMPARE(QFileInfo(aside).symLinkTarget(), target);
        QVERIFY(!QFileInfo(m_file).isSymLink());
        QCOMPARE(store.GetSetting("Text1", "default"), QString("/mine/"));

        // Once: the fresh file is settings; a second foreign file the same day gets its own name.
        store.SaveSetting("Text2", "x");
        QCOMPARE(QDir(folder).entryList({"*damaged*"}).size(), 1);
        writeFile(m_file, "not settings\n");
        QVERIFY_THROWS_EXCEPTION(core::Error, store.SaveSetting("Text2", "y"));
        QCOMPARE(readFile(aside + "-2"), QByteArray("not settings\n"));
        QCOMPARE(readFile(throughLink ? target : aside), bytes);
    }

    void failedWriteRaisesAndKeepsTheFile_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::newRow("file where the folder should be") << "file as folder";
        QTest::newRow("settings path is a folder") << "folder as file";
        QTest::newRow("file size limit (disk full)") << "size limit";
    }
    void failedWriteRaisesAndKeepsTheFile()
    {
        QFETCH(QString, setup);
        const QByteArray before = "[General]\nText1=/kept/\n";
        const QString folder = QFileInfo(m_file).absolutePath();
        if (setup == "file as folder")
            writeFile(folder, "not a folder");
        else if (setup == "folder as file")
            QVERIFY(QDir().mkpath(m_file));
        else
            writeFile(m_file, before);

        rlimit saved{};
        getrlimit(RLIMIT_FSIZE, &saved);
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        if (setup == "size limit") {
            rlimit small = saved;
            small.rlim_cur = 256;
            setrlimit(RLIMIT_FSIZE, &small);
        }
        try {
            SettingsStore(m_file).SaveSetting("Text1", QString(1000, 'v'));
            setrlimit(RLIMIT_FSIZE, &saved);
            QFAIL("the failed write was reported as success");
        } catch (const core::Error &error) {
            setrlimit(RLIMIT_FSIZE, &saved);
            QCOMPARE(error.number(), SettingsStore::WriteFailed);
            QVERIFY2(error.description().contains(m_file), qPrintable(error.description()));
        }
        std::signal(SIGXFSZ, oldHandler);
        if (setup == "size limit")
            QCOMPARE(readFile(m_file), before);
    }
};

QTEST_GUILESS_MAIN(TestSettingsStore)
#include "tst_settingsstore.moc"
