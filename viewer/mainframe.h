// The main window: menu, tool bar, status bar, the list, and the watch on the shown file.
#pragma once

#include <QMainWindow>
#include <QString>

#include <cstdint>
#include <functional>

class CVantrelApp;
class CVantrelDoc;
class CVantrelView;
class QAction;
class QLabel;
class QPrinter;
class QStatusBar;
class QToolBar;

// The status of the shown file, as read at its load or when the watch saw it change. Times are
// in nanoseconds since the epoch; only the last-write time is compared.
struct CFileStatus {
    std::int64_t m_ctime = 0;
    std::int64_t m_mtime = 0;
    std::int64_t m_atime = 0;
    std::int64_t m_size = 0;
    std::uint8_t m_attribute = 0;
    QString m_szFullName;
};

class CMainFrame : public QMainWindow {
    Q_OBJECT

public:
    CMainFrame(CVantrelApp* app, CVantrelDoc* document);
    ~CMainFrame() override;

    // Reads the file into the list, newest line first, counting the rows in the status bar.
    void LoadLogFile(QString path);
    void OnOpenLog();
    void OnRefresh();
    // Enables Refresh exactly while the watch has seen the file change.
    void OnUpdateRefresh(QAction* command);
    void OnTimer(int timerId);
    void OnFilePrint();
    // Prints without asking, for the print switches of the command line.
    void OnFilePrintDirect();

    // The text of the status bar's message pane.
    void SetMessageText(const QString& text);
    QString MessageText() const;
    CVantrelView* GetActiveView() const { return m_view; }
    // The title follows the document: its name, then " - Syslog".
    void UpdateTitle();
    // Updates the enabled state of the commands, as an idle window does.
    void UpdateCommands();

    QStatusBar* m_statusBar = nullptr;
    QToolBar* m_toolBar = nullptr;
    CFileStatus m_fileStatus;
    int m_timerId = 0;
    QString m_path;
    int m_changed = 0;

    // The dialogs, replaceable so that they can be answered without a person: the choice of a
    // log file (empty when cancelled) given the directory to start in, and the printer set-up
    // (false when cancelled).
    std::function<QString(const QString& directory)> m_chooseLogFile;
    std::function<bool(QPrinter& printer)> m_askPrinter;

protected:
    bool event(QEvent* event) override;
    void timerEvent(QTimerEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    int OnCreate();
    QAction* AddCommand(const char* id, const QString& text, const QString& prompt,
                        const QString& tip, const QKeySequence& key);
    void UpdateIndicators();

    CVantrelApp* m_app;
    CVantrelDoc* m_document;
    CVantrelView* m_view = nullptr;
    QLabel* m_messagePane = nullptr;
    QLabel* m_capsPane = nullptr;
    QLabel* m_numPane = nullptr;
    QLabel* m_scrollPane = nullptr;
    QAction* m_refreshAction = nullptr;
};

// The log directory named in the daemon's configuration file, the temporary directory when it
// names none.
QString ConfiguredLogDir();
