#include "viewer/mainframe.h"

#include <QAction>
#include <QApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QIcon>
#include <QLabel>
#include <QMenuBar>
#include <QMimeData>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QTimerEvent>
#include <QToolBar>
#include <QUrl>

#include <algorithm>
#include <memory>

#include "platform/errors.h"
#include "platform/files.h"
#include "platform/keyboard.h"
#include "platform/system.h"
#include "viewer/logrows.h"
#include "viewer/vantrelapp.h"
#include "viewer/vantreldoc.h"
#include "viewer/vantrelview.h"

namespace {

constexpr int kWatchPeriod = 5000;
constexpr qint64 kCountInterval = 100;        // milliseconds between two counts of a load
constexpr std::size_t kScanSlice = 16 << 20;  // bytes between two looks at the clock
constexpr std::size_t kMaxLogDirLength = 258;

std::string LocalPath(const QString& path) {
    return path.toLocal8Bit().toStdString();
}

CFileStatus ToFileStatus(const platform::FileStatus& status) {
    CFileStatus result;
    result.m_ctime = status.creationTime;
    result.m_mtime = status.lastWriteTime;
    result.m_atime = status.lastAccessTime;
    result.m_size = status.size;
    result.m_attribute = status.attribute;
    result.m_szFullName = QString::fromLocal8Bit(status.fullPath.c_str());
    return result;
}

QString ReadCount(std::size_t count) {
    return QStringLiteral("Read %1 items").arg(static_cast<qulonglong>(count));
}

}  // namespace

QString ConfiguredLogDir() {
    const std::string configPath =
        platform::PathInDirectory(platform::ConfigDirectory(), "Quenby.ini");
    std::string logDir =
        platform::ReadProfileString(configPath, "Syslog", "LogDir", kMaxLogDirLength + 1)
            .value_or(platform::TempDirectory());
    if (logDir.size() > kMaxLogDirLength) {
        logDir.resize(kMaxLogDirLength);
    }
    return QString::fromLocal8Bit(logDir.c_str());
}

CMainFrame::CMainFrame(CVantrelApp* app, CVantrelDoc* document) : m_app(app), m_document(document) {
    m_chooseLogFile = [this](const QString& directory) {
        QFileDialog dialog(this, QString(), directory, QStringLiteral("Syslog Files (*.log)"));
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        // A name that does not exist is accepted: loading it creates the file.
        dialog.setFileMode(QFileDialog::AnyFile);
        dialog.setDefaultSuffix(QStringLiteral("log"));
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
            return QString();
        }
        return dialog.selectedFiles().constFirst();
    };
    m_askPrinter = [this](QPrinter& printer) {
        QPrintDialog dialog(&printer, this);
        return dialog.exec() == QDialog::Accepted;
    };
    OnCreate();
}

CMainFrame::~CMainFrame() = default;

QAction* CMainFrame::AddCommand(const char* id, const QString& text, const QString& prompt,
                                const QString& tip, const QKeySequence& key) {
    auto* action = new QAction(text, this);
    action->setObjectName(QString::fromLatin1(id));
    action->setStatusTip(prompt);
    action->setToolTip(tip);
    if (!key.isEmpty()) {
        action->setShortcut(key);
        action->setShortcutContext(Qt::WindowShortcut);
    }
    // Commands reach the window from its menu, its tool bar and its accelerators alike.
    addAction(action);
    return action;
}

int CMainFrame::OnCreate() {
    QAction* open = AddCommand("ID_FILE_OPEN", QStringLiteral("&Open...\tCtrl+O"),
                               QStringLiteral("Open an existing document"), QStringLiteral("Open"),
                               QKeySequence(Qt::CTRL | Qt::Key_O));
    open->setIcon(QIcon(QStringLiteral(":/open.png")));
    connect(open, &QAction::triggered, this, &CMainFrame::OnOpenLog);

    m_refreshAction = AddCommand("ID_FILE_REFRESH", QStringLiteral("Re&fresh\tCtrl+F"),
                                 QStringLiteral("File has changed on disk. Please refresh."),
                                 QStringLiteral("Refresh."), QKeySequence(Qt::CTRL | Qt::Key_F));
    m_refreshAction->setIcon(QIcon(QStringLiteral(":/refresh.png")));
    connect(m_refreshAction, &QAction::triggered, this, &CMainFrame::OnRefresh);

    QAction* exit = AddCommand("ID_APP_EXIT", QStringLiteral("E&xit"),
                               QStringLiteral("Quit the application; prompts to save documents"),
                               QStringLiteral("Exit"), {});
    connect(exit, &QAction::triggered, this, &QWidget::close);

    QAction* about =
        AddCommand("ID_APP_ABOUT", QStringLiteral("&About Vantrel..."),
                   QStringLiteral("Display program information, version number and copyright"),
                   QStringLiteral("About"), {});
    about->setIcon(QIcon(QStringLiteral(":/about.png")));
    connect(about, &QAction::triggered, this, [this] { m_app->ShowAboutBox(); });

    QAction* print = AddCommand("ID_FILE_PRINT", QStringLiteral("Print"),
                                QStringLiteral("Print the active document"),
                                QStringLiteral("Print"), QKeySequence(Qt::CTRL | Qt::Key_P));
    connect(print, &QAction::triggered, this, &CMainFrame::OnFilePrint);

    // The window has no panes to switch between.
    AddCommand("ID_NEXT_PANE", QStringLiteral("Next Pane"),
               QStringLiteral("Switch to the next window pane"), QStringLiteral("Next Pane"),
               QKeySequence(Qt::Key_F6))
        ->setEnabled(false);
    AddCommand("ID_PREV_PANE", QStringLiteral("Previous Pane"),
               QStringLiteral("Switch back to the previous window pane"),
               QStringLiteral("Previous Pane"), QKeySequence(Qt::SHIFT | Qt::Key_F6))
        ->setEnabled(false);

    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    file->addAction(open);
    file->addAction(m_refreshAction);
    file->addSeparator();
    file->addAction(exit);
    QMenu* help = menuBar()->addMenu(QStringLiteral("&Help"));
    help->addAction(about);
    connect(file, &QMenu::aboutToShow, this, &CMainFrame::UpdateCommands);

    m_toolBar = new QToolBar(this);
    m_toolBar->setObjectName(QStringLiteral("toolBar"));
    m_toolBar->setIconSize(QSize(16, 15));
    m_toolBar->setMovable(true);
    m_toolBar->addAction(open);
    m_toolBar->addSeparator();
    m_toolBar->addAction(m_refreshAction);
    m_toolBar->addSeparator();
    m_toolBar->addAction(about);
    addToolBar(Qt::TopToolBarArea, m_toolBar);

    m_statusBar = statusBar();
    m_messagePane = new QLabel(m_statusBar);
    m_messagePane->setObjectName(QStringLiteral("messagePane"));
    m_statusBar->addWidget(m_messagePane, 1);
    for (QLabel** pane : {&m_capsPane, &m_numPane, &m_scrollPane}) {
        *pane = new QLabel(m_statusBar);
        (*pane)->setFrameShape(QFrame::Panel);
        (*pane)->setFrameShadow(QFrame::Sunken);
        (*pane)->setAlignment(Qt::AlignCenter);
        (*pane)->setMinimumWidth((*pane)->fontMetrics().horizontalAdvance(QStringLiteral("SCRL")) +
                                 8);
        m_statusBar->addPermanentWidget(*pane);
    }
    m_capsPane->setObjectName(QStringLiteral("capsPane"));
    m_numPane->setObjectName(QStringLiteral("numPane"));
    m_scrollPane->setObjectName(QStringLiteral("scrollPane"));
    SetMessageText(QStringLiteral("Ready"));
    UpdateIndicators();
    qApp->installEventFilter(this);

    m_view = new CVantrelView(this);
    setCentralWidget(m_view);
    setAcceptDrops(true);
    setWindowIcon(QIcon(QStringLiteral(":/vantrel.png")));

    m_timerId = startTimer(kWatchPeriod);
    UpdateCommands();
    return 0;
}

void CMainFrame::SetMessageText(const QString& text) {
    m_statusBar->clearMessage();
    m_messagePane->setText(text);
}

QString CMainFrame::MessageText() const {
    const QString prompt = m_statusBar->currentMessage();
    return prompt.isEmpty() ? m_messagePane->text() : prompt;
}

void CMainFrame::UpdateTitle() {
    setWindowTitle(m_document->GetTitle() + QStringLiteral(" - Syslog"));
}

void CMainFrame::UpdateCommands() {
    OnUpdateRefresh(m_refreshAction);
}

void CMainFrame::OnUpdateRefresh(QAction* command) {
    command->setEnabled(m_changed != 0);
}

void CMainFrame::LoadLogFile(QString path) {
    const std::string localPath = LocalPath(path);
    // The old rows go first: a file is never held twice.
    m_view->ShowRows(LogRows());
    std::shared_ptr<platform::MappedFile> file(platform::MapSharedInput(localPath),
                                               [](platform::MappedFile* mapped) {
                                                   if (mapped != nullptr) {
                                                       platform::UnmapFile(mapped);
                                                   }
                                               });
    // A file that is there but cannot be read is no empty file: the pane says why. Only a file
    // that is missing from a missing directory shows as empty without a word, as it would be if
    // it could have been created.
    QString notice;
    if (file == nullptr && !platform::LastErrorIsMissingPath()) {
        notice =
            QStringLiteral("Cannot read %1: %2")
                .arg(path,
                     QString::fromLocal8Bit(platform::LastErrorMessage().value_or("Unknown error"))
                         .trimmed());
    }
    // The status is taken before the reading, so that whatever is appended during it makes the
    // watch flag the file.
    if (const std::optional<platform::FileStatus> status = platform::ReadFileStatus(localPath)) {
        m_fileStatus = ToFileStatus(*status);
    }
    LogRows rows;
    if (file != nullptr) {
        rows = LogRows(platform::MappedData(file.get()), platform::MappedSize(file.get()), file);
        QElapsedTimer sinceCount;
        sinceCount.start();
        for (std::size_t end = kScanSlice; rows.ScanTo(end); end += kScanSlice) {
            if (sinceCount.elapsed() >= kCountInterval) {
                SetMessageText(ReadCount(rows.Count()));
                m_messagePane->repaint();
                sinceCount.restart();
            }
        }
        rows.Finish();
    }
    if (rows.Count() > 0) {
        SetMessageText(ReadCount(rows.Count()));
        m_messagePane->repaint();
    }
    const std::size_t count = rows.Count();
    m_view->ShowRows(std::move(rows));
    // A file with more rows than the list addresses shows the newest, and says so.
    const std::size_t cap = m_view->Model().RowCap();
    if (notice.isEmpty() && count > cap) {
        notice = QStringLiteral("Showing the newest %1 of %2 lines")
                     .arg(static_cast<qulonglong>(cap))
                     .arg(static_cast<qulonglong>(count));
    }
    SetMessageText(notice.isEmpty() ? QStringLiteral("Ready") : notice);
    repaint();
}

void CMainFrame::OnOpenLog() {
    const QString chosen = m_chooseLogFile(ConfiguredLogDir());
    if (chosen.isEmpty()) {
        return;
    }
    m_path = chosen;
    LoadLogFile(m_path);
}

void CMainFrame::OnRefresh() {
    LoadLogFile(m_path);
    m_changed = 0;
    UpdateCommands();
}

bool CMainFrame::event(QEvent* event) {
    // A command's prompt takes the place of whatever the pane said, a load's notice too: once
    // the prompt goes, the pane is back to "Ready".
    if (event->type() == QEvent::StatusTip &&
        !static_cast<QStatusTipEvent*>(event)->tip().isEmpty()) {
        m_messagePane->setText(QStringLiteral("Ready"));
    }
    return QMainWindow::event(event);
}

void CMainFrame::timerEvent(QTimerEvent* event) {
    // A timer that is not the watch's gets the default processing, and the watch looks all the
    // same; the window has no other timer.
    if (event->timerId() != m_timerId) {
        QMainWindow::timerEvent(event);
    }
    OnTimer(event->timerId());
}

void CMainFrame::OnTimer(int /*timerId*/) {
    if (m_path.isEmpty()) {
        return;
    }
    const std::optional<platform::FileStatus> status = platform::ReadFileStatus(LocalPath(m_path));
    if (!status) {
        return;
    }
    // Strictly later only: a copy with an older time is never taken for a change.
    if (status->lastWriteTime > m_fileStatus.m_mtime) {
        m_changed = 1;
        m_fileStatus = ToFileStatus(*status);
    }
    UpdateCommands();
}

namespace {

// The view draws nothing, so every print job is one empty page.
void PrintEmptyPage(QPrinter& printer) {
    QPainter painter;
    if (painter.begin(&printer)) {
        painter.end();
    }
}

}  // namespace

void CMainFrame::OnFilePrint() {
    QPrinter printer;
    if (m_askPrinter(printer)) {
        PrintEmptyPage(printer);
    }
}

void CMainFrame::OnFilePrintDirect() {
    QPrinter printer;
    PrintEmptyPage(printer);
}

bool CMainFrame::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::WindowActivate:
            UpdateIndicators();
            break;
        default:
            break;
    }
    return QMainWindow::eventFilter(watched, event);
}

void CMainFrame::UpdateIndicators() {
    const platform::KeyboardLocks locks = platform::ReadKeyboardLocks();
    m_capsPane->setText(locks.capsLock ? QStringLiteral("CAP") : QString());
    m_numPane->setText(locks.numLock ? QStringLiteral("NUM") : QString());
    m_scrollPane->setText(locks.scrollLock ? QStringLiteral("SCRL") : QString());
}

void CMainFrame::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls()) {
        event->acceptProposedAction();
    }
}

void CMainFrame::dropEvent(QDropEvent* event) {
    // Several files are opened one after the other; the last one stays.
    for (const QUrl& url : event->mimeData()->urls()) {
        if (url.isLocalFile()) {
            m_app->OpenDocumentFile(url.toLocalFile());
        }
    }
    event->acceptProposedAction();
}
