// The main window: title, menus, accelerators, tool bar, status bar, About box and printing.
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QToolBar>
#include <QToolButton>

#include "viewer/aboutbox.h"
#include "viewertest.h"

class MainWindowTest : public QObject {
    Q_OBJECT

private slots:
    void titleAtStart() {
        Viewer viewer;
        QVERIFY(viewer.started);
        QCOMPARE(viewer.frame().windowTitle(), QStringLiteral("Untitled - Syslog"));
        QCOMPARE(viewer.frame().MessageText(), QStringLiteral("Ready"));
        QCOMPARE(ListRows(viewer.frame()), QStringList{});
    }

    void menus() {
        Viewer viewer;
        const QList<QAction*> menus = viewer.frame().menuBar()->actions();
        QCOMPARE(menus.size(), 2);
        QCOMPARE(menus[0]->text(), QStringLiteral("&File"));
        QCOMPARE(menus[1]->text(), QStringLiteral("&Help"));
        QStringList file;
        for (QAction* item : menus[0]->menu()->actions()) {
            file << (item->isSeparator() ? QStringLiteral("-") : item->text());
        }
        QCOMPARE(file, (QStringList{"&Open...\tCtrl+O", "Re&fresh\tCtrl+F", "-", "E&xit"}));
        QCOMPARE(menus[1]->menu()->actions().size(), 1);
        QCOMPARE(menus[1]->menu()->actions()[0]->text(), QStringLiteral("&About Vantrel..."));
    }

    void commands_data() {
        QTest::addColumn<QString>("id");
        QTest::addColumn<QKeySequence>("key");
        QTest::addColumn<QString>("prompt");
        QTest::addColumn<QString>("tip");
        QTest::addColumn<bool>("enabled");
        QTest::newRow("open") << "ID_FILE_OPEN" << QKeySequence("Ctrl+O")
                              << "Open an existing document"
                              << "Open" << true;
        QTest::newRow("refresh") << "ID_FILE_REFRESH" << QKeySequence("Ctrl+F")
                                 << "File has changed on disk. Please refresh."
                                 << "Refresh." << false;
        QTest::newRow("print") << "ID_FILE_PRINT" << QKeySequence("Ctrl+P")
                               << "Print the active document"
                               << "Print" << true;
        QTest::newRow("exit") << "ID_APP_EXIT" << QKeySequence()
                              << "Quit the application; prompts to save documents"
                              << "Exit" << true;
        QTest::newRow("about") << "ID_APP_ABOUT" << QKeySequence()
                               << "Display program information, version number and copyright"
                               << "About" << true;
        QTest::newRow("next pane")
            << "ID_NEXT_PANE" << QKeySequence("F6") << "Switch to the next window pane"
            << "Next Pane" << false;
        QTest::newRow("previous pane") << "ID_PREV_PANE" << QKeySequence("Shift+F6")
                                       << "Switch back to the previous window pane"
                                       << "Previous Pane" << false;
    }

    void commands() {
        QFETCH(QString, id);
        QFETCH(QKeySequence, key);
        QFETCH(QString, prompt);
        QFETCH(QString, tip);
        QFETCH(bool, enabled);
        Viewer viewer;
        auto* action = viewer.frame().findChild<QAction*>(id);
        QVERIFY(action != nullptr);
        QCOMPARE(action->shortcut(), key);
        QCOMPARE(action->statusTip(), prompt);
        QCOMPARE(action->toolTip(), tip);
        QCOMPARE(action->isEnabled(), enabled);
    }

    void toolBar() {
        Viewer viewer;
        QStringList buttons;
        for (QAction* action : viewer.frame().m_toolBar->actions()) {
            buttons << (action->isSeparator() ? QStringLiteral("-") : action->objectName());
            QVERIFY(action->isSeparator() || !action->icon().isNull());
        }
        QCOMPARE(buttons,
                 (QStringList{"ID_FILE_OPEN", "-", "ID_FILE_REFRESH", "-", "ID_APP_ABOUT"}));
        QCOMPARE(viewer.frame().m_toolBar->iconSize(), QSize(16, 15));
    }

    void promptsInTheMessagePane() {
        Viewer viewer;
        CMainFrame& frame = viewer.frame();
        QStatusTipEvent hover(QStringLiteral("File has changed on disk. Please refresh."));
        QApplication::sendEvent(&frame, &hover);
        QCOMPARE(frame.MessageText(), QStringLiteral("File has changed on disk. Please refresh."));
        QStatusTipEvent leave{QString()};
        QApplication::sendEvent(&frame, &leave);
        QCOMPARE(frame.MessageText(), QStringLiteral("Ready"));
    }

    void lockIndicators() {
        Viewer viewer;
        // Each pane shows its text or nothing; without a display to ask, nothing.
        const bool canAsk = !qEnvironmentVariableIsEmpty("DISPLAY");
        const QList<std::pair<const char*, QString>> panes = {
            {"capsPane", "CAP"}, {"numPane", "NUM"}, {"scrollPane", "SCRL"}};
        for (const auto& [name, text] : panes) {
            auto* pane = viewer.frame().findChild<QLabel*>(QLatin1String(name));
            QVERIFY(pane != nullptr);
            QVERIFY2(pane->text().isEmpty() || (canAsk && pane->text() == text), name);
        }
    }

    void disabledAcceleratorsDoNothing() {
        Viewer viewer;
        CMainFrame& frame = viewer.frame();
        QVERIFY(QTest::qWaitForWindowExposed(&frame));
        QApplication::setActiveWindow(&frame);
        const QString path = m_dir.filePath("shown.log");
        WriteFile(path, "a\n");
        frame.m_path = path;
        // Refresh is disabled until the watch sees a change: Ctrl+F must not load.
        QTest::keyClick(&frame, Qt::Key_F, Qt::ControlModifier);
        QCOMPARE(ListRows(frame), QStringList{});
        QTest::keyClick(&frame, Qt::Key_F6);
        QTest::keyClick(&frame, Qt::Key_F6, Qt::ShiftModifier);
        QCOMPARE(frame.MessageText(), QStringLiteral("Ready"));
        // Once enabled, Ctrl+F reloads.
        frame.m_changed = 1;
        frame.UpdateCommands();
        QTest::keyClick(&frame, Qt::Key_F, Qt::ControlModifier);
        QCOMPARE(ListRows(frame), QStringList{"a"});
        QCOMPARE(frame.m_changed, 0);
    }

    void aboutBox() {
        CAboutBox about;
        QCOMPARE(about.windowTitle(), QStringLiteral("About Vantrel"));
        auto* version = about.findChild<QLabel*>(QStringLiteral("version"));
        QVERIFY(version != nullptr);
        QCOMPARE(version->text(), QStringLiteral("Vantrel Version 1.0"));
        auto* ok = about.findChild<QPushButton*>();
        QVERIFY(ok != nullptr);
        QCOMPARE(ok->text(), QStringLiteral("OK"));
        QVERIFY(ok->isDefault());
        QVERIFY(!about.findChild<QLabel*>(QStringLiteral("icon"))->pixmap().isNull());

        // The About command runs the box modally until OK.
        Viewer viewer;
        bool shown = false;
        QTimer::singleShot(0, [&shown] {
            auto* box = qobject_cast<CAboutBox*>(QApplication::activeModalWidget());
            shown = box != nullptr;
            if (box != nullptr) {
                box->findChild<QPushButton*>()->click();
            }
        });
        viewer.frame().findChild<QAction*>(QStringLiteral("ID_APP_ABOUT"))->trigger();
        QVERIFY(shown);
    }

    void printsOneEmptyPage() {
        Viewer viewer;
        const QString pdf = m_dir.filePath("printed.pdf");
        int asked = 0;
        viewer.frame().m_askPrinter = [&](QPrinter& printer) {
            ++asked;
            printer.setOutputFormat(QPrinter::PdfFormat);
            printer.setOutputFileName(pdf);
            return true;
        };
        QVERIFY(QTest::qWaitForWindowExposed(&viewer.frame()));
        QApplication::setActiveWindow(&viewer.frame());
        QTest::keyClick(&viewer.frame(), Qt::Key_P, Qt::ControlModifier);
        viewer.frame().findChild<QAction*>(QStringLiteral("ID_FILE_PRINT"))->trigger();
        QCOMPARE(asked, 2);
        QFile file(pdf);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        QCOMPARE(bytes.count("/Type /Page\n") + bytes.count("/Type /Page\r") +
                     bytes.count("/Type /Page "),
                 1);

        // Cancelled: nothing is printed.
        QFile::remove(pdf);
        viewer.frame().m_askPrinter = [](QPrinter&) { return false; };
        viewer.frame().OnFilePrint();
        QVERIFY(!QFile::exists(pdf));
    }

private:
    QTemporaryDir m_dir;
};

QTEST_MAIN(MainWindowTest)
#include "test_mainwindow.moc"
