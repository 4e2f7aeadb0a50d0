// Start-up: command line, recent files, settings, desktop registration, dropped files.
#include <QDropEvent>
#include <QMimeData>
#include <QSettings>

#include "viewertest.h"

namespace {

QString Home(const char* variable) {
    return QString::fromLocal8Bit(qgetenv(variable));
}

QString ReadText(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

QSettings ViewerSettings() {
    return QSettings(QStringLiteral("Local AppWizard-Generated Applications"),
                     QStringLiteral("Vantrel"));
}

}  // namespace

class AppTest : public QObject {
    Q_OBJECT

private slots:
    void init() {
        QVERIFY(m_dir.isValid());
        // Every test starts without settings or registration, and without system-wide
        // associations.
        QDir(Home("XDG_CONFIG_HOME")).removeRecursively();
        QDir(Home("XDG_DATA_HOME")).removeRecursively();
        qputenv("XDG_CONFIG_DIRS", m_dir.filePath("etc-xdg").toLocal8Bit());
        qputenv("XDG_DATA_DIRS", m_dir.filePath("usr-share").toLocal8Bit());
        for (const char* name : {"a.log", "b.log", "c.log", "d.log", "e.log"}) {
            WriteFile(m_dir.filePath(name), QByteArray(name) + " line\n");
        }
    }

    void fileOnTheCommandLineNamesTheDocument() {
        Viewer viewer({"vantrel", m_dir.filePath("a.log")});
        QVERIFY(viewer.started);
        QCOMPARE(viewer.frame().windowTitle(), QStringLiteral("a.log - Syslog"));
        // The framework's open reads nothing into the list and sets no watch.
        QCOMPARE(ListRows(viewer.frame()), QStringList{});
        QVERIFY(viewer.frame().m_path.isEmpty());
        QCOMPARE(viewer.app.RecentFiles(), QStringList{m_dir.filePath("a.log")});
    }

    void missingFileOnTheCommandLineEndsTheProgram() {
        Viewer viewer({"vantrel", m_dir.filePath("missing/x.log")});
        QVERIFY(!viewer.started);
        QCOMPARE(viewer.messages.size(), 1);
        QVERIFY(viewer.messages[0].startsWith(m_dir.filePath("missing/x.log")));
        QVERIFY(viewer.app.m_exitCode != 0);
    }

    void recentFileList() {
        {
            Viewer viewer;
            for (const char* name : {"a.log", "b.log", "c.log", "d.log", "e.log", "c.log"}) {
                QVERIFY(viewer.app.OpenDocumentFile(m_dir.filePath(name)));
            }
            // Files chosen with Open never enter the list.
            viewer.frame().m_chooseLogFile = [this](const QString&) {
                return m_dir.filePath("a.log");
            };
            viewer.frame().OnOpenLog();
            viewer.app.ExitInstance();
        }
        QSettings settings = ViewerSettings();
        settings.beginGroup(QStringLiteral("Recent File List"));
        QCOMPARE(settings.childKeys(), (QStringList{"File1", "File2", "File3", "File4"}));
        QCOMPARE(settings.value("File1").toString(), m_dir.filePath("c.log"));
        QCOMPARE(settings.value("File2").toString(), m_dir.filePath("e.log"));
        QCOMPARE(settings.value("File3").toString(), m_dir.filePath("d.log"));
        QCOMPARE(settings.value("File4").toString(), m_dir.filePath("b.log"));
        settings.endGroup();
        QVERIFY(!settings.contains(QStringLiteral("Settings/PreviewPages")));

        // Read again at the next start.
        Viewer next;
        QCOMPARE(next.app.RecentFiles().size(), 4);
        QCOMPARE(next.app.RecentFiles().first(), m_dir.filePath("c.log"));
    }

    void droppedFilesAreOpenedInTurn() {
        Viewer viewer;
        auto* data = new QMimeData;
        data->setUrls({QUrl::fromLocalFile(m_dir.filePath("a.log")),
                       QUrl::fromLocalFile(m_dir.filePath("b.log"))});
        // The drop lands on the list, and goes up to the window, which takes it.
        CVantrelView* view = viewer.frame().GetActiveView();
        QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(view->viewport(), &enter);
        QDropEvent drop(QPointF(10, 10), Qt::CopyAction, data, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(view->viewport(), &drop);
        QCOMPARE(viewer.frame().windowTitle(), QStringLiteral("b.log - Syslog"));
        QCOMPARE(viewer.app.RecentFiles(),
                 (QStringList{m_dir.filePath("b.log"), m_dir.filePath("a.log")}));
        QVERIFY(viewer.frame().acceptDrops());
        delete data;
    }

    void desktopRegistration() {
        const QString mimeApps = Home("XDG_CONFIG_HOME") + "/mimeapps.list";
        const QString entry = Home("XDG_DATA_HOME") + "/applications/vantrel.desktop";
        { Viewer viewer; }
        const QString desktop = ReadText(entry);
        QVERIFY(desktop.contains(QStringLiteral("MimeType=text/x-log;")));
        QVERIFY(desktop.contains(QStringLiteral("Exec=\"") + QApplication::applicationFilePath() +
                                 QStringLiteral("\" %f")));
        QVERIFY(desktop.contains(QStringLiteral(" /p %f")));
        QCOMPARE(ReadText(mimeApps),
                 QStringLiteral("[Default Applications]\ntext/x-log=vantrel.desktop\n"));

        // A second start registers again, without a second association.
        { Viewer viewer; }
        QCOMPARE(ReadText(mimeApps).count(QStringLiteral("text/x-log")), 1);

        // Unregistering removes both, and the settings, and ends the program.
        ViewerSettings().setValue(QStringLiteral("Recent File List/File1"), "/x.log");
        Viewer unregister({"vantrel", "/Unregister"});
        QVERIFY(!unregister.started);
        QCOMPARE(unregister.messages.size(), 1);
        QVERIFY(!QFile::exists(entry));
        QVERIFY(!ReadText(mimeApps).contains(QStringLiteral("text/x-log")));
        QVERIFY(ViewerSettings().allKeys().isEmpty());
        unregister.app.ExitInstance();
        QVERIFY(ViewerSettings().allKeys().isEmpty());
    }

    void anotherAssociationIsLeftAlone() {
        QDir().mkpath(m_dir.filePath("etc-xdg"));
        WriteFile(m_dir.filePath("etc-xdg/mimeapps.list"),
                  "[Default Applications]\ntext/x-log=other-viewer.desktop\n");
        { Viewer viewer; }
        QVERIFY(!QFile::exists(Home("XDG_CONFIG_HOME") + "/mimeapps.list"));
        QVERIFY(QFile::exists(Home("XDG_DATA_HOME") + "/applications/vantrel.desktop"));
        // Unregistering leaves the other program's association alone too.
        QDir().mkpath(Home("XDG_CONFIG_HOME"));
        WriteFile(Home("XDG_CONFIG_HOME") + "/mimeapps.list",
                  "[Default Applications]\ntext/x-log=other-viewer.desktop\n");
        Viewer unregister({"vantrel", "-unregserver"});
        QVERIFY(!unregister.started);
        QCOMPARE(ReadText(Home("XDG_CONFIG_HOME") + "/mimeapps.list"),
                 QStringLiteral("[Default Applications]\ntext/x-log=other-viewer.desktop\n"));
    }

    void printSwitchEndsWithoutAWindow() {
        Viewer viewer({"vantrel", "/p", m_dir.filePath("a.log")});
        QVERIFY(!viewer.started);
        QCOMPARE(viewer.app.m_exitCode, 0);
        QVERIFY(viewer.messages.isEmpty());
        QVERIFY(!viewer.frame().isVisible());
    }

private:
    QTemporaryDir m_dir;
};

QTEST_MAIN(AppTest)
#include "test_app.moc"
