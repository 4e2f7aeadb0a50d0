// Loading a log file into the list: the row rules, the counts in the status bar, the column.
#include <QHeaderView>
#include <QScrollBar>
#include <QStatusTipEvent>

#include <algorithm>
#include <functional>

#include <sys/stat.h>
#include <unistd.h>

#include "viewertest.h"

class LoadingTest : public QObject {
    Q_OBJECT

private slots:
    void init() { QVERIFY(m_dir.isValid()); }

    void rowRules_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QStringList>("rows");
        const QString longLine(1500, u'x');
        QTest::newRow("empty file") << QByteArray() << QStringList{};
        QTest::newRow("newest first") << QByteArray("a\nb\nc\n") << QStringList{"c", "b", "a"};
        QTest::newRow("empty lines, no final LF")
            << QByteArray("a\n\n\nb") << QStringList{"b", "a"};
        QTest::newRow("CR LF") << QByteArray("a\r\nb\r\n") << QStringList{"b", "a"};
        QTest::newRow("lone CR stays") << QByteArray("a\rb\nc\r\r\n") << QStringList{"c\r", "a\rb"};
        QTest::newRow("blanks are a row") << QByteArray("  \na\n") << QStringList{"a", "  "};
        QTest::newRow("zero byte cuts the row")
            << QByteArray("abc\0def\n\0ghi\nj\n", 15) << QStringList{"j", "abc"};
        QTest::newRow("0x1A ends the text") << QByteArray(
                                                   "a\nb\x1a"
                                                   "c\nd\n")
                                            << QStringList{"b", "a"};
        QTest::newRow("0x1A at a line start") << QByteArray(
                                                     "a\n\x1a"
                                                     "b\n")
                                              << QStringList{"a"};
        QTest::newRow("zero bytes far into the file")
            << (QByteArray(300 << 10, 'x') + QByteArray("\nab\0cd\nef\n\0gh\n", 15))
            << QStringList{"ef", "ab", QString(64 << 10, u'x') + QChar(0x2026)};
        QTest::newRow("a long line is one row")
            << (longLine.toLatin1() + "\nshort\n") << QStringList{"short", longLine};
        QTest::newRow("record lines")
            << QByteArray(
                   "Mar 07 14:05:09 10.1.2.3 auth.crit su: root login failed\n"
                   "Mar 07 14:05:10 10.1.2.3 user.info \xc3\xa9t\xc3\xa9\n")
            << QStringList{
                   QString::fromUtf8("Mar 07 14:05:10 10.1.2.3 user.info \xc3\xa9t\xc3\xa9"),
                   "Mar 07 14:05:09 10.1.2.3 auth.crit su: root login failed"};
    }

    void rowRules() {
        QFETCH(QByteArray, content);
        QFETCH(QStringList, rows);
        const QString path = m_dir.filePath("syslog.log");
        WriteFile(path, content);
        Viewer viewer;
        viewer.frame().LoadLogFile(path);
        QCOMPARE(ListRows(viewer.frame()), rows);
        QCOMPARE(viewer.frame().MessageText(), QStringLiteral("Ready"));
    }

    void countsRowsBeforeReady() {
        const QString path = m_dir.filePath("counted.log");
        WriteFile(path, "a\nb\n\nc\n");
        Viewer viewer;
        QVERIFY(QTest::qWaitForWindowExposed(&viewer.frame()));
        QLabel* pane = viewer.frame().findChild<QLabel*>(QStringLiteral("messagePane"));
        QVERIFY(pane != nullptr);
        QStringList shown;
        // Every text the pane takes during the load, in order.
        pane->installEventFilter(this);
        m_shown = &shown;
        m_pane = pane;
        viewer.frame().LoadLogFile(path);
        m_shown = nullptr;
        QCOMPARE(shown, (QStringList{"Read 3 items", "Ready"}));
    }

    void emptyFileGoesStraightToReady() {
        const QString path = m_dir.filePath("empty.log");
        WriteFile(path, "");
        Viewer viewer;
        QVERIFY(QTest::qWaitForWindowExposed(&viewer.frame()));
        QStringList shown;
        m_shown = &shown;
        m_pane = viewer.frame().findChild<QLabel*>(QStringLiteral("messagePane"));
        m_pane->installEventFilter(this);
        viewer.frame().LoadLogFile(path);
        m_shown = nullptr;
        QCOMPARE(shown, QStringList{"Ready"});
    }

    void missingFiles() {
        Viewer viewer;
        WriteFile(m_dir.filePath("before.log"), "old\n");
        viewer.frame().LoadLogFile(m_dir.filePath("before.log"));
        QCOMPARE(ListRows(viewer.frame()), QStringList{"old"});

        // A missing file in an existing directory is created empty.
        const QString created = m_dir.filePath("new.log");
        viewer.frame().LoadLogFile(created);
        QVERIFY(QFileInfo(created).isFile());
        QCOMPARE(QFileInfo(created).size(), 0);
        QCOMPARE(ListRows(viewer.frame()), QStringList{});

        // A directory that does not exist: an empty list and "Ready", nothing else.
        viewer.frame().LoadLogFile(m_dir.filePath("before.log"));
        viewer.frame().LoadLogFile(m_dir.filePath("no/such/dir/x.log"));
        QCOMPARE(ListRows(viewer.frame()), QStringList{});
        QCOMPARE(viewer.frame().MessageText(), QStringLiteral("Ready"));
        QVERIFY(viewer.messages.isEmpty());
    }

    // Only regular files are log files: a FIFO or a device could block the viewer or never end.
    // Each is refused at once, from the command line and from Open.
    void specialFilesAreRefused_data() {
        QTest::addColumn<QString>("kind");
        QTest::newRow("FIFO") << QStringLiteral("fifo");
        QTest::newRow("directory") << QStringLiteral("directory");
        QTest::newRow("device") << QStringLiteral("/dev/zero");
    }

    void specialFilesAreRefused() {
        // Each case in a directory of its own.
        QTemporaryDir dir;
        QFETCH(QString, kind);
        QString path = kind;
        if (kind == QStringLiteral("fifo")) {
            path = dir.filePath("pipe.log");
            QVERIFY(mkfifo(path.toLocal8Bit().constData(), 0644) == 0);
        } else if (kind == QStringLiteral("directory")) {
            path = dir.filePath("dir.log");
            QVERIFY(QDir().mkpath(path));
        }

        Viewer fromCommandLine({"vantrel", path});
        QVERIFY(!fromCommandLine.started);
        QCOMPARE(fromCommandLine.messages.size(), 1);
        QVERIFY(fromCommandLine.messages[0].startsWith(path + u'\n'));
        QVERIFY(fromCommandLine.app.m_exitCode != 0);

        Viewer viewer;
        WriteFile(dir.filePath("before.log"), "old\n");
        viewer.frame().LoadLogFile(dir.filePath("before.log"));
        viewer.frame().m_chooseLogFile = [&path](const QString&) { return path; };
        viewer.frame().OnOpenLog();
        QCOMPARE(ListRows(viewer.frame()), QStringList{});
        QCOMPARE(viewer.frame().m_path, path);
    }

    // A file that is there but cannot be read shows an empty list and says why instead of
    // "Ready", until a command's prompt or the next load replaces the text.
    void unreadableFileSaysWhy_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("reason");
        QTest::newRow("no read permission") << "unreadable"
                                            << "Permission denied";
        QTest::newRow("directory") << "directory"
                                   << "Is a directory";
        QTest::newRow("FIFO") << "fifo"
                              << "Not a regular file";
        QTest::newRow("device") << "/dev/zero"
                                << "Not a regular file";
        QTest::newRow("dangling link") << "link"
                                       << "Not a regular file";
    }

    void unreadableFileSaysWhy() {
        // Each case in a directory of its own.
        QTemporaryDir dir;
        QFETCH(QString, kind);
        QFETCH(QString, reason);
        QString path = kind;
        if (kind == QStringLiteral("unreadable")) {
            path = dir.filePath("secret.log");
            WriteFile(path, "hidden\n");
            QVERIFY(QFile::setPermissions(path, QFileDevice::WriteOwner));
            // The directory lets others in, so that only the file's own permission refuses
            // (the test may run with the group of the directory).
            QVERIFY(QFile::setPermissions(dir.path(), QFile::permissions(dir.path()) |
                                                          QFileDevice::ExeGroup |
                                                          QFileDevice::ExeOther));
        } else if (kind == QStringLiteral("directory")) {
            path = dir.filePath("dir.log");
            QVERIFY(QDir().mkpath(path));
        } else if (kind == QStringLiteral("fifo")) {
            path = dir.filePath("pipe.log");
            QVERIFY(mkfifo(path.toLocal8Bit().constData(), 0644) == 0);
        } else if (kind == QStringLiteral("link")) {
            path = dir.filePath("link.log");
            QVERIFY(QFile::link(dir.filePath("elsewhere.log"), path));
        }

        Viewer viewer;
        CMainFrame& frame = viewer.frame();
        WriteFile(dir.filePath("before.log"), "old\n");
        frame.LoadLogFile(dir.filePath("before.log"));
        frame.m_chooseLogFile = [&path](const QString&) { return path; };
        // The superuser reads everything: the loads are made as a user without permission.
        const bool asOther = kind == QStringLiteral("unreadable") && geteuid() == 0;
        auto asUser = [asOther](const std::function<void()>& load) {
            QVERIFY(!asOther || seteuid(65534) == 0);
            load();
            QVERIFY(!asOther || seteuid(0) == 0);
        };
        asUser([&frame] { frame.OnOpenLog(); });
        QCOMPARE(ListRows(frame), QStringList{});
        QCOMPARE(frame.MessageText(), QStringLiteral("Cannot read %1: %2").arg(path, reason));
        QVERIFY(viewer.messages.isEmpty());

        // A command's prompt replaces the text; when it goes, the pane is back to "Ready".
        QStatusTipEvent hover(QStringLiteral("Open an existing document"));
        QApplication::sendEvent(&frame, &hover);
        QStatusTipEvent leave{QString()};
        QApplication::sendEvent(&frame, &leave);
        QCOMPARE(frame.MessageText(), QStringLiteral("Ready"));

        // The watch still names the file, and a later load that can read it succeeds.
        QCOMPARE(frame.m_path, path);
        asUser([&frame] { frame.OnRefresh(); });
        QCOMPARE(frame.MessageText(), QStringLiteral("Cannot read %1: %2").arg(path, reason));
        if (kind == QStringLiteral("unreadable")) {
            QVERIFY(QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                    QFileDevice::ReadGroup |
                                                    QFileDevice::ReadOther));
            asUser([&frame] { frame.OnRefresh(); });
            QCOMPARE(ListRows(frame), QStringList{"hidden"});
            QCOMPARE(frame.MessageText(), QStringLiteral("Ready"));
        }
    }

    void danglingLinkTargetIsNotCreated() {
        QTemporaryDir dir;
        const QString target = dir.filePath("elsewhere.log");
        const QString link = dir.filePath("link.log");
        QVERIFY(QFile::link(target, link));
        Viewer viewer;
        viewer.frame().LoadLogFile(link);
        QVERIFY(!QFileInfo::exists(target));
        QVERIFY(QFileInfo(link).isSymLink());
        QCOMPARE(ListRows(viewer.frame()), QStringList{});
    }

    void columnFitsTheWidestRow() {
        Viewer viewer;
        CVantrelView* view = viewer.frame().GetActiveView();
        QCOMPARE(view->model()->columnCount(), 1);
        QCOMPARE(view->model()->headerData(0, Qt::Horizontal).toString(),
                 QStringLiteral("Syslog Messages"));
        // Before the first load the column spans the list, less one pixel, also when the
        // window gets its size late.
        QVERIFY(QTest::qWaitForWindowExposed(&viewer.frame()));
        QVERIFY(view->viewport()->width() > 400);
        QCOMPARE(view->columnWidth(0), view->viewport()->width() - 1);
        viewer.frame().resize(640, 480);
        QTRY_COMPARE(view->columnWidth(0), view->viewport()->width() - 1);

        const QString wide = QStringLiteral("a row much wider than the others, WWWWWWWWWW");
        WriteFile(m_dir.filePath("wide.log"), "short\n" + wide.toUtf8() + "\nmiddle row\n");
        viewer.frame().LoadLogFile(m_dir.filePath("wide.log"));
        const int needed = view->fontMetrics().horizontalAdvance(wide);
        QVERIFY2(view->columnWidth(0) >= needed, "the widest row is cut");
        QVERIFY2(view->columnWidth(0) <= needed + 16, "the column is far wider than its rows");

        // A framework open keeps the rows and the one column.
        const QString other = m_dir.filePath("other.log");
        WriteFile(other, "x\n");
        QVERIFY(viewer.app.OpenDocumentFile(other));
        QCOMPARE(ListRows(viewer.frame()).size(), 3);
        QCOMPARE(view->model()->columnCount(), 1);
    }

    // Rows narrower than the heading, or none at all, leave the heading whole.
    void columnIsNeverNarrowerThanItsHeading_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("empty file") << QByteArray();
        QTest::newRow("narrow rows") << QByteArray("a\nbc\n");
        QTest::newRow("only empty lines") << QByteArray("\n\n");
    }

    void columnIsNeverNarrowerThanItsHeading() {
        QFETCH(QByteArray, content);
        Viewer viewer;
        CVantrelView* view = viewer.frame().GetActiveView();
        const QString path = m_dir.filePath("shrinking.log");
        WriteFile(path, "a row wider than the heading of the list, by far\n");
        viewer.frame().LoadLogFile(path);
        WriteFile(path, content);
        viewer.frame().OnRefresh();
        const int heading = view->horizontalHeader()->fontMetrics().horizontalAdvance(
            QStringLiteral("Syslog Messages"));
        QVERIFY2(view->columnWidth(0) >= heading,
                 qPrintable(QStringLiteral("%1 < %2").arg(view->columnWidth(0)).arg(heading)));
    }

    // A file that shrinks while it is shown: the rows whose bytes are gone show empty, the
    // others as they were.
    void shrunkRowsShowEmpty() {
        const QString path = m_dir.filePath("shrunk.log");
        const QByteArray lost(200, 'x');
        QByteArray content = "kept row\n";
        for (int i = 0; i < 100; ++i) {
            content += lost + '\n';
        }
        WriteFile(path, content);
        Viewer viewer;
        viewer.frame().LoadLogFile(path);
        QCOMPARE(ListRows(viewer.frame()).size(), 101);
        QVERIFY(QFile::resize(path, 9));
        QStringList expected(100, QString());
        expected << QStringLiteral("kept row");
        QCOMPARE(ListRows(viewer.frame()), expected);
        // Painting the rows that are gone is as harmless.
        QVERIFY(QTest::qWaitForWindowExposed(&viewer.frame()));
        viewer.frame().GetActiveView()->viewport()->repaint();
    }

    // A giant line keeps its place and its count, but shows, and is measured, cut to a bound
    // with "…" at the end.
    void giantLineIsCut_data() {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<QString>("shown");
        constexpr qsizetype bound = 64 << 10;
        const QString ellipsis(QChar(0x2026));
        QTest::newRow("up to the bound") << QByteArray(bound, 'x') << QString(bound, u'x');
        QTest::newRow("one byte over")
            << QByteArray(bound + 1, 'x') << QString(bound, u'x') + ellipsis;
        QTest::newRow("one MiB") << QByteArray(1 << 20, 'x') << QString(bound, u'x') + ellipsis;
        // Two-byte characters from an odd start: the one that crosses the bound is left out
        // whole.
        QTest::newRow("UTF-8 not split")
            << ("a" + QString(40000, QChar(0xE9)).toUtf8())
            << QStringLiteral("a") + QString(bound / 2 - 1, QChar(0xE9)) + ellipsis;
    }

    void giantLineIsCut() {
        QFETCH(QByteArray, line);
        QFETCH(QString, shown);
        const QString path = m_dir.filePath("giant.log");
        WriteFile(path, "first\n" + line + "\nlast\n");
        Viewer viewer;
        QVERIFY(QTest::qWaitForWindowExposed(&viewer.frame()));
        viewer.frame().LoadLogFile(path);
        QCOMPARE(ListRows(viewer.frame()), (QStringList{"last", shown, "first"}));
        QCOMPARE(viewer.frame().MessageText(), QStringLiteral("Ready"));

        CVantrelView* view = viewer.frame().GetActiveView();
        const int maximum = view->horizontalHeader()->maximumSectionSize();
        const int needed = std::min(view->fontMetrics().horizontalAdvance(shown), maximum);
        QVERIFY2(view->columnWidth(0) >= needed && view->columnWidth(0) <= maximum,
                 qPrintable(QStringLiteral("%1 for %2").arg(view->columnWidth(0)).arg(needed)));
        // The row paints, at its start and at its end.
        view->viewport()->repaint();
        view->horizontalScrollBar()->setValue(view->horizontalScrollBar()->maximum());
        view->viewport()->repaint();
    }

    // A file with more rows than the list addresses shows the newest of them and says so; the
    // column fits the rows shown.
    void rowCapShowsTheNewest_data() {
        QTest::addColumn<int>("cap");
        QTest::addColumn<QStringList>("rows");
        QTest::addColumn<QString>("message");
        QTest::newRow("more rows than the cap")
            << 3 << QStringList{"e", "d", "c"} << "Showing the newest 3 of 5 lines";
        QTest::newRow("as many rows as the cap")
            << 5 << QStringList{"e", "d", "c", "b", "a row far wider than all the others, WWWWWWWW"}
            << "Ready";
    }

    void rowCapShowsTheNewest() {
        QFETCH(int, cap);
        QFETCH(QStringList, rows);
        QFETCH(QString, message);
        const QString wide = QStringLiteral("a row far wider than all the others, WWWWWWWW");
        const QString path = m_dir.filePath("capped.log");
        WriteFile(path, wide.toUtf8() + "\nb\n\nc\nd\ne\n");
        Viewer viewer;
        CVantrelView* view = viewer.frame().GetActiveView();
        view->Model().SetRowCap(static_cast<std::size_t>(cap));
        viewer.frame().LoadLogFile(path);
        QCOMPARE(ListRows(viewer.frame()), rows);
        QCOMPARE(viewer.frame().MessageText(), message);
        const int needed = view->fontMetrics().horizontalAdvance(wide);
        QCOMPARE(view->columnWidth(0) >= needed, rows.contains(wide));
    }

    // The list scrolls, selects and moves by rows, also with the rows of a long file.
    void listScrollsAndSelectsByRows() {
        QByteArray content;
        for (int i = 1; i <= 1000; ++i) {
            content += QByteArray("line ") + QByteArray::number(i) + '\n';
        }
        const QString path = m_dir.filePath("long.log");
        WriteFile(path, content);
        Viewer viewer;
        QVERIFY(QTest::qWaitForWindowExposed(&viewer.frame()));
        viewer.frame().LoadLogFile(path);
        CVantrelView* view = viewer.frame().GetActiveView();
        CLogModel& model = view->Model();
        QWidget* viewport = view->viewport();
        auto shown = [viewport](const QRect& rect) {
            return viewport->rect().contains(rect.topLeft()) && rect.bottom() < viewport->height();
        };

        // The newest line is at the top, right below the heading.
        QCOMPARE(view->indexAt(QPoint(2, 1)), model.index(0, 0));
        QCOMPARE(view->visualRect(model.index(1, 0)).top(), view->RowHeight());
        QVERIFY(!view->indexAt(QPoint(view->columnWidth(0) + 5, 1)).isValid());

        // A click selects the whole row and makes it current.
        QTest::mouseClick(viewport, Qt::LeftButton, {},
                          view->visualRect(model.index(3, 0)).center());
        QCOMPARE(view->currentIndex(), model.index(3, 0));
        QCOMPARE(view->selectionModel()->selectedRows(), QModelIndexList{model.index(3, 0)});
        QCOMPARE(model.data(view->currentIndex(), Qt::DisplayRole).toString(),
                 QStringLiteral("line 997"));

        // The keys move the current row, and the list scrolls to keep it in sight.
        view->setFocus();
        QTest::keyClick(view, Qt::Key_End);
        QCOMPARE(view->currentIndex(), model.index(999, 0));
        QVERIFY(shown(view->visualRect(model.index(999, 0))));
        QCOMPARE(view->indexAt(view->visualRect(model.index(999, 0)).center()),
                 model.index(999, 0));
        QTest::keyClick(view, Qt::Key_Up);
        QCOMPARE(view->currentIndex(), model.index(998, 0));
        QTest::keyClick(view, Qt::Key_Home);
        QCOMPARE(view->currentIndex(), model.index(0, 0));
        QCOMPARE(view->indexAt(QPoint(2, 1)), model.index(0, 0));

        // Anywhere in between, a row brought into sight is where the list says it is.
        view->scrollTo(model.index(500, 0), QAbstractItemView::PositionAtTop);
        QCOMPARE(view->indexAt(QPoint(2, 1)), model.index(500, 0));
        QVERIFY(shown(view->visualRect(model.index(500, 0))));
        QVERIFY(!shown(view->visualRect(model.index(499, 0))));

        // The heading follows the list sideways.
        WriteFile(path, QByteArray(400, 'w') + '\n');
        viewer.frame().LoadLogFile(path);
        QVERIFY(view->horizontalScrollBar()->maximum() > 0);
        view->horizontalScrollBar()->setValue(40);
        QCOMPARE(view->horizontalHeader()->offset(), 40);
        QCOMPARE(view->visualRect(model.index(0, 0)).left(), -40);
    }

    // Rows that begin past the first 4 GiB of a file are found where they are. The file is
    // sparse: its hole reads as zero bytes, which give no row.
    void rowsPastFourGiB() {
        const QString path = m_dir.filePath("sparse.log");
        WriteFile(path, "first\n");
        {
            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadWrite));
            QVERIFY(file.seek((qint64{1} << 32) + 10));
            QCOMPARE(file.write("\nsecond\nthird\n"), qint64{14});
        }
        Viewer viewer;
        viewer.frame().LoadLogFile(path);
        QCOMPARE(ListRows(viewer.frame()), (QStringList{"third", "second", "first"}));
    }

    void listStyle() {
        Viewer viewer;
        CVantrelView* view = viewer.frame().GetActiveView();
        QVERIFY(view->showGrid());
        QCOMPARE(view->selectionBehavior(), QAbstractItemView::SelectRows);
        QVERIFY(!view->isSortingEnabled());
    }

    void logRowsScanInAnySlices() {
        // A line that crosses the end of a slice gives the same row as one scan.
        const QByteArray content = QByteArrayLiteral(
            "first\r\nsec\0ond\n\0\nthird\r\r\n\r\nfourth\x1a"
            "fifth\n");
        for (std::size_t slice = 1; slice <= static_cast<std::size_t>(content.size()); ++slice) {
            LogRows rows = LogRows::FromText(content.toStdString());
            for (std::size_t end = slice; rows.ScanTo(end); end += slice) {
            }
            rows.Finish();
            QStringList texts;
            for (std::size_t i = 0; i < rows.Count(); ++i) {
                texts << QString::fromLatin1(rows.Row(i).data(),
                                             static_cast<qsizetype>(rows.Row(i).size()));
            }
            QCOMPARE(texts, (QStringList{"first", "sec", "third\r", "fourth"}));
        }
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (m_shown != nullptr && watched == m_pane && event->type() == QEvent::Paint) {
            if (m_shown->isEmpty() || m_shown->last() != m_pane->text()) {
                m_shown->append(m_pane->text());
            }
        }
        return false;
    }

private:
    QTemporaryDir m_dir;
    QStringList* m_shown = nullptr;
    QLabel* m_pane = nullptr;
};

QTEST_MAIN(LoadingTest)
#include "test_loading.moc"
