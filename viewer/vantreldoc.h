// The document: it holds nothing of the file, only the name that the window title shows.
#pragma once

#include <QString>

class CVantrelDoc {
public:
    // A new, empty document, named "Untitled".
    bool OnNewDocument();
    // Opens the file as the document: it is opened for reading and closed again, and nothing of
    // it is kept but its name. False, with the reason in error, when it cannot be opened or is no
    // regular file.
    bool OnOpenDocument(const QString& path, QString& error);
    // The document keeps no data, so there is nothing to read or write.
    void Serialize() {}

    const QString& GetTitle() const { return m_title; }
    const QString& GetPathName() const { return m_pathName; }

private:
    QString m_title = QStringLiteral("Untitled");
    QString m_pathName;
};
