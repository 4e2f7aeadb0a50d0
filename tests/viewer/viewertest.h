// Shared pieces of the viewer's tests: a frame of its own and files in a directory of its own.
#pragma once

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPrinter>
#include <QString>
#include <QTemporaryDir>
#include <QtTest>

#include <filesystem>
#include <memory>

#include "viewer/mainframe.h"
#include "viewer/vantrelapp.h"
#include "viewer/vantreldoc.h"
#include "viewer/vantrelview.h"

// Writes the bytes to the file, replacing it.
inline void WriteFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), bytes.size());
}

inline void AppendFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Append));
    QCOMPARE(file.write(bytes), bytes.size());
}

// Sets the file's last-write time, in nanoseconds since the epoch.
inline void SetWriteTime(const QString& path, std::int64_t ns) {
    const std::chrono::sys_time<std::chrono::nanoseconds> when{std::chrono::nanoseconds(ns)};
    std::filesystem::last_write_time(path.toStdString(), std::chrono::file_clock::from_sys(when));
}

// The rows of the list, top first.
inline QStringList ListRows(CMainFrame& frame) {
    CLogModel& model = frame.GetActiveView()->Model();
    QStringList rows;
    for (int row = 0; row < model.rowCount(); ++row) {
        rows << model.data(model.index(row, 0), Qt::DisplayRole).toString();
    }
    return rows;
}

// The viewer as the start-up builds it from a command line, with the messages it would show
// collected instead of shown.
struct Viewer {
    explicit Viewer(const QStringList& arguments = {QStringLiteral("vantrel")}) {
        app.m_showMessage = [this](const QString& text) { messages << text; };
        started = app.InitInstance(arguments);
    }
    CMainFrame& frame() { return *app.MainFrame(); }

    CVantrelApp app;
    QStringList messages;
    bool started = false;
};
