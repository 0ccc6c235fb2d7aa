#include "app/THelpWindow.h"

#include "settings/Paths.h"

#include <QDir>
#include <QFileInfo>
#include <QTextBrowser>
#include <QToolBar>
#include <QVBoxLayout>

THelpWindow::THelpWindow(QWidget* parent) : QWidget(parent, Qt::Window), m_view(new QTextBrowser(this))
{
    setObjectName(QStringLiteral("helpWindow"));
    setWindowTitle(QStringLiteral("Kestrova 帮助"));
    resize(760, 600);

    m_view->setObjectName(QStringLiteral("helpView"));
    m_view->setSearchPaths({Paths::helpDir()});
    // Web addresses in a topic open in the system's browser, topics open here.
    m_view->setOpenExternalLinks(true);

    auto* tools = new QToolBar(this);
    tools->setObjectName(QStringLiteral("helpTools"));
    QAction* home = tools->addAction(QStringLiteral("目录"));
    home->setObjectName(QStringLiteral("helpHome"));
    QAction* back = tools->addAction(QStringLiteral("后退"));
    back->setObjectName(QStringLiteral("helpBack"));
    QAction* forward = tools->addAction(QStringLiteral("前进"));
    forward->setObjectName(QStringLiteral("helpForward"));
    back->setEnabled(false);
    forward->setEnabled(false);
    connect(home, &QAction::triggered, this, [this] { openTopic(QString()); });
    connect(back, &QAction::triggered, m_view, &QTextBrowser::backward);
    connect(forward, &QAction::triggered, m_view, &QTextBrowser::forward);
    connect(m_view, &QTextBrowser::backwardAvailable, back, &QAction::setEnabled);
    connect(m_view, &QTextBrowser::forwardAvailable, forward, &QAction::setEnabled);
    connect(m_view, &QTextBrowser::sourceChanged, this, &THelpWindow::updateTitle);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(tools);
    layout->addWidget(m_view);
}

void THelpWindow::openTopic(const QString& topic)
{
    QString name = topic.startsWith(QLatin1String("::")) ? topic.mid(2) : topic;
    if (name.isEmpty())
        name = QLatin1String(kStartTopic);
    // A topic is a file directly in the help folder, never a path.
    const bool plainName = !name.contains(u'/') && !name.contains(u'\\') && name != QLatin1String("..") &&
                           name != QLatin1String(".");
    const QString path = QDir(Paths::helpDir()).filePath(name);
    if (plainName && QFileInfo(path).isFile()) {
        m_view->setSource(QUrl::fromLocalFile(path));
    } else {
        m_view->setHtml(QStringLiteral("<h2>找不到帮助主题</h2><p>帮助文件夹 %1 中没有主题“%2”。</p>")
                            .arg(Paths::helpDir().toHtmlEscaped(), name.toHtmlEscaped()));
        updateTitle();
    }
}

void THelpWindow::updateTitle()
{
    const QString title = m_view->documentTitle();
    setWindowTitle(title.isEmpty() ? QStringLiteral("Kestrova 帮助")
                                   : QStringLiteral("Kestrova 帮助 - ") + title);
}
