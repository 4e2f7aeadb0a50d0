#include "viewer/aboutbox.h"

#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

CAboutBox::CAboutBox(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("About Vantrel"));
    setModal(true);
    auto* icon = new QLabel(this);
    icon->setObjectName(QStringLiteral("icon"));
    icon->setPixmap(QIcon(QStringLiteral(":/vantrel.png")).pixmap(32, 32));
    auto* text = new QLabel(QStringLiteral("Vantrel Version 1.0"), this);
    text->setObjectName(QStringLiteral("version"));
    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    auto* buttons = new QVBoxLayout;
    buttons->addWidget(ok);
    buttons->addStretch();
    auto* layout = new QHBoxLayout(this);
    layout->addWidget(icon, 0, Qt::AlignTop);
    layout->addWidget(text, 1, Qt::AlignTop);
    layout->addLayout(buttons);
    setFixedSize(sizeHint().expandedTo(QSize(350, 90)));
}
