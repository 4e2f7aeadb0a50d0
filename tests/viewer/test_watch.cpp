// Open, the watch on the shown file, and Refresh.
#include <QProcess>

#include "tests/common/loopback.h"
#include "viewertest.h"

namespace {

constexpr std::int64_t kSecond = 1000000000;
constexpr std::int64_t kBase = 1700000000 * kSecond;

}  // namespace

class WatchTest : public QObject {
    Q_OBJECT

private slots:
    void init() {
        QVERIFY(m_dir.isValid());
        // The daemon's configuration names the log directory the Open dialog starts in.
        qputenv("QUENBY_CONFDIR", m_dir.path().toLocal8Bit());
        WriteFile(m_dir.filePath("Quenby.ini"),
                  "[Syslog]\nLogDir=" + m_dir.path().toLocal8Bit() + "/\n[Permit]\n10.1.1.5\n");
        m_log = m_dir.filePath("syslog.log");
        WriteFile(m_log, "first\n");
        SetWriteTime(m_log, kBase);
    }

    // Opens the file through the Open command, answering its dialog.
    void Open(CMainFrame& frame, const QString& path) {
        frame.m_chooseLogFile = [this, path](const QString& directory) {
            m_dialogDirectory = directory;
            return path;
        };
        frame.findChild<QAction*>(QStringLiteral("ID_FILE_OPEN"))->trigger();
    }

    bool RefreshEnabled(CMainFrame& frame) {
        return frame.findChild<QAction*>(QStringLiteral("ID_FILE_REFRESH"))->isEnabled();
    }

    void ticksBeforeOpenDoNothing() {
        Viewer viewer;
        viewer.frame().OnTimer(viewer.frame().m_timerId);
        QVERIFY(!RefreshEnabled(viewer.frame()));
        QCOMPARE(viewer.frame().m_changed, 0);
        QVERIFY(viewer.frame().m_timerId != 0);
    }

    void openStartsInTheLogDirectory() {
        Viewer viewer;
        Open(viewer.frame(), m_log);
        QCOMPARE(m_dialogDirectory, m_dir.path() + "/");
        QCOMPARE(viewer.frame().m_path, m_log);
        QCOMPARE(ListRows(viewer.frame()), QStringList{"first"});
        // Open does not name the document: the title stays.
        QCOMPARE(viewer.frame().windowTitle(), QStringLiteral("Untitled - Syslog"));

        // Without the key, the temporary directory.
        WriteFile(m_dir.filePath("Quenby.ini"), "[Syslog]\nLogType=1\n");
        qputenv("TMPDIR", "/var/tmp");
        Open(viewer.frame(), m_log);
        QCOMPARE(m_dialogDirectory, QStringLiteral("/var/tmp/"));
        qunsetenv("TMPDIR");
    }

    void openCancelledChangesNothing() {
        Viewer viewer;
        Open(viewer.frame(), m_log);
        AppendFile(m_log, "second\n");
        SetWriteTime(m_log, kBase + kSecond);
        viewer.frame().OnTimer(viewer.frame().m_timerId);
        const CFileStatus stored = viewer.frame().m_fileStatus;
        Open(viewer.frame(), QString());
        QCOMPARE(viewer.frame().m_path, m_log);
        QCOMPARE(ListRows(viewer.frame()), QStringList{"first"});
        QCOMPARE(viewer.frame().m_changed, 1);
        QCOMPARE(viewer.frame().m_fileStatus.m_mtime, stored.m_mtime);
    }

    void openOfAMissingNameCreatesIt() {
        Viewer viewer;
        const QString missing = m_dir.filePath("typed.log");
        Open(viewer.frame(), missing);
        QVERIFY(QFileInfo(missing).isFile());
        QCOMPARE(ListRows(viewer.frame()), QStringList{});
        QCOMPARE(viewer.frame().m_path, missing);
    }

    void watchStates() {
        Viewer viewer;
        CMainFrame& frame = viewer.frame();
        Open(frame, m_log);
        struct Step {
            const char* what;
            std::function<void()> change;
            int changed;
            QStringList rows;
        };
        const Step steps[] = {
            {"unchanged file", [] {}, 0, {"first"}},
            {"the same time again", [this] { SetWriteTime(m_log, kBase); }, 0, {"first"}},
            // Within the same second as the load: seen at the file system's resolution.
            {"a write 1 ms later",
             [this] {
                 AppendFile(m_log, "second\n");
                 SetWriteTime(m_log, kBase + kSecond / 1000);
             },
             1,
             {"first"}},
            {"more writes",
             [this] {
                 AppendFile(m_log, "third\n");
                 SetWriteTime(m_log, kBase + 2 * kSecond);
             },
             1,
             {"first"}},
            {"refresh",
             [&frame] { frame.findChild<QAction*>(QStringLiteral("ID_FILE_REFRESH"))->trigger(); },
             0,
             {"third", "second", "first"}},
            {"an older copy",
             [this] { SetWriteTime(m_log, kBase); },
             0,
             {"third", "second", "first"}},
            {"deleted", [this] { QFile::remove(m_log); }, 0, {"third", "second", "first"}},
            {"created again later",
             [this] {
                 WriteFile(m_log, "new\n");
                 SetWriteTime(m_log, kBase + 10 * kSecond);
             },
             1,
             {"third", "second", "first"}},
        };
        for (const Step& step : steps) {
            step.change();
            frame.OnTimer(frame.m_timerId);
            QVERIFY2(frame.m_changed == step.changed, step.what);
            QVERIFY2(RefreshEnabled(frame) == (step.changed == 1), step.what);
            QVERIFY2(ListRows(frame) == step.rows, step.what);
        }
    }

    void openOfAnotherFileKeepsTheFlag() {
        Viewer viewer;
        CMainFrame& frame = viewer.frame();
        Open(frame, m_log);
        SetWriteTime(m_log, kBase + kSecond);
        frame.OnTimer(frame.m_timerId);
        QVERIFY(RefreshEnabled(frame));
        const QString other = m_dir.filePath("other.log");
        WriteFile(other, "other\n");
        Open(frame, other);
        QCOMPARE(ListRows(frame), QStringList{"other"});
        QVERIFY(RefreshEnabled(frame));
        AppendFile(other, "more\n");
        frame.OnRefresh();
        QCOMPARE(ListRows(frame), (QStringList{"more", "other"}));
        QVERIFY(!RefreshEnabled(frame));
    }

    void refreshLightsUpForARecordOfTheDaemon() {
        // The real daemon writes the file the window shows; the real timer sees the record.
        const QString quenby = qEnvironmentVariable("QUENBY_BIN");
        if (quenby.isEmpty()) {
            QSKIP("QUENBY_BIN names no daemon");
        }
        const std::uint16_t port = loopback::FreeUdpPort();
        QDir(m_dir.path()).mkpath(QStringLiteral("logs"));
        WriteFile(m_dir.filePath("Quenby.ini"),
                  "[Syslog]\nLogDir=" + m_dir.filePath("logs").toLocal8Bit() +
                      "/\nPort=" + QByteArray::number(port) + "\n[Permit]\n127.0.0.1\n");
        QProcess daemon;
        daemon.setProgram(quenby);
        daemon.setArguments({QStringLiteral("-f")});
        daemon.setStandardOutputFile(QProcess::nullDevice());
        daemon.start();
        QVERIFY(daemon.waitForStarted());
        const QString log = m_dir.filePath("logs/syslog.log");
        QTRY_VERIFY(QFile::exists(log));

        Viewer viewer;
        CMainFrame& frame = viewer.frame();
        Open(frame, log);
        QCOMPARE(ListRows(frame), QStringList{});
        loopback::SendDatagram(port, "<34>su: root login failed");
        QTRY_VERIFY_WITH_TIMEOUT(RefreshEnabled(frame), 5500);
        frame.findChild<QAction*>(QStringLiteral("ID_FILE_REFRESH"))->trigger();
        const QStringList rows = ListRows(frame);
        QCOMPARE(rows.size(), 1);
        QVERIFY2(rows[0].endsWith(QStringLiteral(" 127.0.0.1 auth.crit su: root login failed")),
                 qPrintable(rows[0]));
        QVERIFY(!RefreshEnabled(frame));

        daemon.terminate();
        QVERIFY(daemon.waitForFinished());
        QCOMPARE(daemon.exitCode(), 1);
    }

private:
    QTemporaryDir m_dir;
    QString m_log;
    QString m_dialogDirectory;
};

QTEST_MAIN(WatchTest)
#include "test_watch.moc"
