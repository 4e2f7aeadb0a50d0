// The application: settings, shell registration, command line, the one document and its window.
#pragma once

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class CMainFrame;
class CVantrelDoc;

class CVantrelApp {
public:
    CVantrelApp();
    ~CVantrelApp();

    // Starts the program: false when it is to end at once (the command line asked for printing
    // or unregistering, or the named file could not be opened); m_exitCode then holds its code.
    bool InitInstance(const QStringList& arguments);
    // Writes the settings when the program ends.
    void ExitInstance();

    void ShowAboutBox();
    // Opens a file as the document, as the framework does for a name on the command line or a
    // dropped file: the title and the recent-file list change, the list and the watch do not.
    bool OpenDocumentFile(const QString& path);

    CMainFrame* MainFrame() const { return m_frame.get(); }
    CVantrelDoc* Document() const { return m_document.get(); }
    const QStringList& RecentFiles() const { return m_recentFiles; }

    int m_exitCode = 0;
    // Shows the framework's messages; replaceable so that they can be read without a person.
    std::function<void(const QString& text)> m_showMessage;

private:
    void LoadStdProfileSettings();
    void SaveStdProfileSettings();
    void RegisterShellFileTypes();
    void UnregisterShellFileTypes();
    void AddToRecentFileList(const QString& path);

    std::unique_ptr<CVantrelDoc> m_document;
    std::unique_ptr<CMainFrame> m_frame;
    QStringList m_recentFiles;
    int m_previewPages = 0;
    bool m_writeSettings = true;
};
