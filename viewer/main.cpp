// The process entry of the log viewer.
#include <QApplication>

#include "viewer/vantrelapp.h"

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Vantrel"));
    QApplication::setApplicationVersion(QStringLiteral("1.0.0.1"));
    CVantrelApp app;
    if (!app.InitInstance(QApplication::arguments())) {
        return app.m_exitCode;
    }
    const int result = QApplication::exec();
    app.ExitInstance();
    return result;
}
