#include "viewer/vantreldoc.h"

#include <QFileInfo>

#include "platform/errors.h"
#include "platform/files.h"

bool CVantrelDoc::OnNewDocument() {
    m_title = QStringLiteral("Untitled");
    m_pathName.clear();
    return true;
}

bool CVantrelDoc::OnOpenDocument(const QString& path, QString& error) {
    // Only a regular file is a log file; the look never blocks on a FIFO or a device.
    if (!platform::CanReadRegularFile(path.toLocal8Bit().toStdString())) {
        error = QString::fromLocal8Bit(platform::LastErrorMessage().value_or("Unknown error"))
                    .trimmed();
        return false;
    }
    const QFileInfo info(path);
    m_title = info.fileName();
    m_pathName = info.absoluteFilePath();
    return true;
}
