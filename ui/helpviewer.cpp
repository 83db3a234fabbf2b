// SPDX-License-Identifier: MIT
#include "ui/helpviewer.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QPushButton>
#include <QTextBrowser>
#include <QUrl>
#include <QVBoxLayout>

namespace quorlin
{

QString HelpFilePath(const QString &ProgramDir)
{
    // The main sequence names the application's help file; a bare name is
    // looked for in the program's directory.
    QString name;
    if (QCoreApplication::instance())
        name = QCoreApplication::instance()->property("HelpFile").toString();
    if (name.isEmpty())
        name = QStringLiteral("Quorlin.hlp");
    return QDir(ProgramDir.isEmpty() ? QCoreApplication::applicationDirPath() : ProgramDir)
        .filePath(name);
}

THelpViewer::THelpViewer(QWidget *parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("HelpViewer"));
    setWindowTitle(QStringLiteral("Quorlin Help"));
    resize(680, 560);

    ContentsButton = new QPushButton(QStringLiteral("&Contents"), this);
    ContentsButton->setObjectName(QStringLiteral("ContentsButton"));
    BackButton = new QPushButton(QStringLiteral("&Back"), this);
    BackButton->setObjectName(QStringLiteral("BackButton"));
    BackButton->setEnabled(false);
    ForwardButton = new QPushButton(QStringLiteral("&Forward"), this);
    ForwardButton->setObjectName(QStringLiteral("ForwardButton"));
    ForwardButton->setEnabled(false);

    Browser = new QTextBrowser(this);
    Browser->setObjectName(QStringLiteral("Browser"));
    // Links to web pages and mail addresses go to the user's own programs.
    Browser->setOpenExternalLinks(true);

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(ContentsButton);
    buttons->addWidget(BackButton);
    buttons->addWidget(ForwardButton);
    buttons->addStretch();
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(buttons);
    layout->addWidget(Browser);

    connect(ContentsButton, &QPushButton::clicked, this, [this] {
        if (m_hasDocument) {
            Browser->home();
            Browser->scrollToAnchor(QStringLiteral("contents"));
        }
    });
    connect(BackButton, &QPushButton::clicked, Browser, &QTextBrowser::backward);
    connect(ForwardButton, &QPushButton::clicked, Browser, &QTextBrowser::forward);
    connect(Browser, &QTextBrowser::backwardAvailable, BackButton, &QPushButton::setEnabled);
    connect(Browser, &QTextBrowser::forwardAvailable, ForwardButton, &QPushButton::setEnabled);
}

void THelpViewer::ShowContents(const QString &helpFile)
{
    const QFileInfo info(helpFile);
    if (info.isFile() && info.isReadable()) {
        Browser->clearHistory();
        // The file's suffix says nothing about its contents; it is HTML.
        Browser->setSource(QUrl::fromLocalFile(info.absoluteFilePath()),
                           QTextDocument::HtmlResource);
        m_hasDocument = !Browser->document()->isEmpty();
    } else {
        m_hasDocument = false;
    }
    if (!m_hasDocument) {
        Browser->clearHistory();
        Browser->setHtml(
            QStringLiteral("<h2>The help file cannot be shown</h2>"
                           "<p>The help file <b>%1</b> %2.</p>"
                           "<p>Quorlin looks for its manual, <tt>Quorlin.hlp</tt>, in the "
                           "directory that holds the <tt>quorlin</tt> program (an installed "
                           "Quorlin: in <tt>share/quorlin</tt> beside its <tt>bin</tt>; "
                           "<tt>quorlin --paths</tt> says where). Copy it there "
                           "from the <tt>docs</tt> directory of the source tree, or rebuild "
                           "the program, which puts it there.</p>")
                .arg(helpFile.toHtmlEscaped(), info.exists() ? QStringLiteral("could not be read")
                                                             : QStringLiteral("was not found")));
    }
    show();
    raise();
    activateWindow();
}

} // namespace quorlin
