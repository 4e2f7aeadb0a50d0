#include "viewer/vantreldoc.h"

#include <QFile>
#include <QFileInfo>

bool CVantrelDoc::OnNewDocument() {
    m_title = QStringLiteral("Untitled");
    m_pathName.clear();
    return true;
}

bool CVantrelDoc::OnOpenDocument(const QString& path, QString& error) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        error = file.errorString();
        return false;
    }
    file.close();
    const QFileInfo info(path);
    m_title = info.fileName();
    m_pathName = info.absoluteFilePath();
    return true;
}
