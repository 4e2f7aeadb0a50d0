#include "viewer/vantrelapp.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QMessageBox>
#include <QSettings>

#include "platform/shell.h"
#include "viewer/aboutbox.h"
#include "viewer/mainframe.h"
#include "viewer/vantreldoc.h"
#include "viewer/vantrelview.h"

namespace {

constexpr int kRecentFiles = 4;

QSettings Settings() {
    return QSettings(QStringLiteral("Local AppWizard-Generated Applications"),
                     QStringLiteral("Vantrel"));
}

// What the command line asks for, by the framework's rules: switches begin with '/' or '-', the
// first other word is the file. An absolute path begins with '/' too, so a word with '/' counts
// as a switch only when it names one.
struct CommandLineInfo {
    enum Command { FileNew, FileOpen, FilePrint, FilePrintTo, FileDDE, AppUnregister };
    Command command = FileNew;
    QString fileName;
};

CommandLineInfo ParseCommandLine(const QStringList& arguments) {
    CommandLineInfo info;
    bool print = false;
    bool printTo = false;
    auto is = [](const QString& flag, const char* name) {
        return flag.compare(QLatin1String(name), Qt::CaseInsensitive) == 0;
    };
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& word = arguments[i];
        const QString flag = word.mid(1);
        const bool known = is(flag, "p") || is(flag, "pt") || is(flag, "dde") ||
                           is(flag, "Unregister") || is(flag, "Unregserver") ||
                           is(flag, "Embedding") || is(flag, "Automation");
        if (word.startsWith(u'-') || (word.startsWith(u'/') && known)) {
            if (is(flag, "pt")) {
                printTo = true;
            } else if (is(flag, "p")) {
                print = true;
            } else if (is(flag, "dde")) {
                info.command = CommandLineInfo::FileDDE;
            } else if (is(flag, "Unregister") || is(flag, "Unregserver")) {
                info.command = CommandLineInfo::AppUnregister;
            }
        } else if (info.fileName.isEmpty()) {
            info.fileName = word;
        }
    }
    if (info.command == CommandLineInfo::FileNew && !info.fileName.isEmpty()) {
        info.command = printTo ? CommandLineInfo::FilePrintTo
                               : (print ? CommandLineInfo::FilePrint : CommandLineInfo::FileOpen);
    }
    return info;
}

}  // namespace

CVantrelApp::CVantrelApp() {
    m_showMessage = [this](const QString& text) {
        QMessageBox::warning(m_frame.get(), QStringLiteral("Vantrel"), text);
    };
}

CVantrelApp::~CVantrelApp() = default;

bool CVantrelApp::InitInstance(const QStringList& arguments) {
    LoadStdProfileSettings();
    m_document = std::make_unique<CVantrelDoc>();
    RegisterShellFileTypes();

    const CommandLineInfo info = ParseCommandLine(arguments);
    switch (info.command) {
        case CommandLineInfo::AppUnregister:
            UnregisterShellFileTypes();
            m_writeSettings = false;
            m_showMessage(QStringLiteral(
                "Vantrel has been unregistered: its desktop entry, its association with .log "
                "files and its settings are removed."));
            return false;
        case CommandLineInfo::FileDDE:
            // No other program asks this one to open files: there is nothing to wait for.
            return false;
        default:
            break;
    }

    m_frame = std::make_unique<CMainFrame>(this, m_document.get());
    m_document->OnNewDocument();
    m_frame->UpdateTitle();
    if (info.command != CommandLineInfo::FileNew && !OpenDocumentFile(info.fileName)) {
        m_exitCode = 1;
        return false;
    }
    if (info.command == CommandLineInfo::FilePrint ||
        info.command == CommandLineInfo::FilePrintTo) {
        m_frame->OnFilePrintDirect();
        return false;
    }
    m_frame->resize(800, 600);
    m_frame->show();
    m_frame->GetActiveView()->OnInitialUpdate();
    m_frame->repaint();
    return true;
}

void CVantrelApp::ExitInstance() {
    if (m_writeSettings) {
        SaveStdProfileSettings();
    }
}

void CVantrelApp::ShowAboutBox() {
    CAboutBox about(m_frame.get());
    about.exec();
}

bool CVantrelApp::OpenDocumentFile(const QString& path) {
    QString error;
    if (!m_document->OnOpenDocument(path, error)) {
        m_showMessage(QStringLiteral("%1\n%2").arg(path, error));
        return false;
    }
    AddToRecentFileList(m_document->GetPathName());
    m_frame->UpdateTitle();
    m_frame->GetActiveView()->OnInitialUpdate();
    return true;
}

void CVantrelApp::AddToRecentFileList(const QString& path) {
    m_recentFiles.removeAll(path);
    m_recentFiles.prepend(path);
    while (m_recentFiles.size() > kRecentFiles) {
        m_recentFiles.removeLast();
    }
}

void CVantrelApp::LoadStdProfileSettings() {
    QSettings settings = Settings();
    settings.beginGroup(QStringLiteral("Recent File List"));
    for (int i = 1; i <= kRecentFiles; ++i) {
        const QString path = settings.value(QStringLiteral("File%1").arg(i)).toString();
        if (!path.isEmpty()) {
            m_recentFiles.append(path);
        }
    }
    settings.endGroup();
    m_previewPages = settings.value(QStringLiteral("Settings/PreviewPages"), 0).toInt();
}

void CVantrelApp::SaveStdProfileSettings() {
    QSettings settings = Settings();
    settings.remove(QStringLiteral("Recent File List"));
    settings.beginGroup(QStringLiteral("Recent File List"));
    for (qsizetype i = 0; i < m_recentFiles.size(); ++i) {
        settings.setValue(QStringLiteral("File%1").arg(i + 1), m_recentFiles[i]);
    }
    settings.endGroup();
    if (m_previewPages != 0) {
        settings.setValue(QStringLiteral("Settings/PreviewPages"), m_previewPages);
    }
}

namespace {

platform::DocumentType SyslogDocumentType() {
    QFile icon(QStringLiteral(":/vantrel.png"));
    icon.open(QIODevice::ReadOnly);
    const QByteArray iconPng = icon.readAll();
    return {QApplication::applicationFilePath().toLocal8Bit().toStdString(),
            "Vantrel",
            "Syslog.Document",
            "Syslog Document",
            ".log",
            "text/x-log",
            iconPng.toStdString()};
}

}  // namespace

void CVantrelApp::RegisterShellFileTypes() {
    platform::RegisterDocumentType(SyslogDocumentType());
}

void CVantrelApp::UnregisterShellFileTypes() {
    platform::UnregisterDocumentType(SyslogDocumentType());
    QSettings settings = Settings();
    settings.clear();
    settings.sync();
    QFile::remove(settings.fileName());
}
