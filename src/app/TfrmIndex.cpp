#include "app/TfrmIndex.h"

#include "app/StartPage.h"
#include "settings/IniFile.h"
#include "settings/Paths.h"
#include "settings/Settings.h"
#include "store/DatabaseChoice.h"
#include "store/TDM.h"
#include "ui/TPrompt.h"
#include "ui/TViewContext.h"

#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScrollBar>
#include <QShowEvent>
#include <QStringDecoder>
#include <QTextBrowser>
#include <QVBoxLayout>

using startpage::LinkAction;

namespace {

const QString kBase = QStringLiteral("Base");

QString missingPage(const QString& path, const QString& why)
{
    return QStringLiteral("<html><body><h2>导航页无法显示</h2>"
                          "<p>找不到或读不了导航页文件：<br><tt>%1</tt></p><p>%2</p>"
                          "<p>其他功能不受影响：可以从菜单或工具栏选择“查找掌柜”、“掌柜资料”等命令。</p>"
                          "</body></html>")
        .arg(path.toHtmlEscaped(), why.toHtmlEscaped());
}

} // namespace

TfrmIndex::TfrmIndex(TViewContext& context, QWidget* parent)
    : TView(parent), m_context(context), m_indexWeb(new QTextBrowser(this))
{
    setObjectName(QStringLiteral("frmIndex"));
    setWindowTitle(QStringLiteral("导航页"));

    m_indexWeb->setObjectName(QStringLiteral("indexWeb"));
    m_indexWeb->setFrameShape(QFrame::NoFrame);
    // Every link comes to us: the markers become commands, the rest opens outside.
    m_indexWeb->setOpenLinks(false);
    connect(m_indexWeb, &QTextBrowser::anchorClicked, this, &TfrmIndex::indexWebBeforeNavigate);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_indexWeb);
}

QString TfrmIndex::versionText()
{
    return QStringLiteral(KESTROVA_VERSION);
}

QString TfrmIndex::dataDirText()
{
    const QString dir = QDir::toNativeSeparators(Paths::dataDir());
    switch (Paths::dataDirKind()) {
    case Paths::Kind::Given:
        return dir + QStringLiteral("（--data-dir 指定）");
    case Paths::Kind::Portable:
        return dir + QStringLiteral("（程序文件夹旁）");
    case Paths::Kind::User:
        break;
    }
    return dir + QStringLiteral("（本用户的数据文件夹）");
}

void TfrmIndex::showEvent(QShowEvent* event)
{
    TView::showEvent(event);
    // A window coming back from the task bar is no new visit.
    if (!event->spontaneous())
        refresh();
}

QString TfrmIndex::pageText(QString* path)
{
    *path = Paths::startPage();
    QFile file(*path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    const QByteArray bytes = file.readAll();
    // The page names its own character set; without one it is UTF-8.
    QStringDecoder decoder = QStringDecoder::decoderForHtml(bytes);
    if (!decoder.isValid())
        decoder = QStringDecoder(QStringDecoder::Utf8);
    return decoder.decode(bytes);
}

TfrmIndex::LoginInfo TfrmIndex::readConfiguration()
{
    IniFile ini(Paths::configFile());
    if (!ini.load())
        return {};
    // A file that is not a settings file was told at start and is left as it is.
    if (!ini.understood())
        return {true, QString()};
    const QString version = versionText();
    if (ini.value(kBase, QStringLiteral("ver")) != version) {
        ini.setValue(kBase, QStringLiteral("ver"), version);
        if (!ini.save())
            return {};
    }
    return {true, ini.value(QStringLiteral("Login"), QStringLiteral("date"))};
}

qlonglong TfrmIndex::count(const QString& sql)
{
    TDM& dm = m_context.dm();
    // A database that could not be opened was reported at start; the page shows 0.
    if (!dm.adoCn.isOpen())
        return 0;
    TQuery* query = dm.ADOQuery1;
    query->SetSQL(sql);
    if (!query->Open()) {
        TPrompt::instance().error(m_context.dialogParent(), query->lastError());
        return 0;
    }
    const qlonglong n = query->Eof() ? 0 : query->FieldByName(QStringLiteral("recordNum")).asInteger();
    query->Close();
    return n;
}

void TfrmIndex::refresh()
{
    const LoginInfo login = readConfiguration();
    if (!login.ok) {
        m_context.endForConfigFault();
    }

    QString path;
    QString html = pageText(&path);
    if (html.isEmpty()) {
        const QFileInfo info(path);
        m_indexWeb->setHtml(missingPage(
            path, info.exists()
                      ? QStringLiteral("文件无法读取或是空的。")
                      : QStringLiteral("文件不存在，请重新安装程序或把 index.html 放回数据文件夹。")));
        return;
    }

    // The date is a text of the configuration file, shown as text.
    startpage::setInnerHtml(html, QStringLiteral("loginDate"), login.date.toHtmlEscaped());
    startpage::setInnerHtml(html, QStringLiteral("curVer"), versionText().toHtmlEscaped());
    startpage::setInnerHtml(html, QStringLiteral("dataDir"), dataDirText().toHtmlEscaped());
    if (html.contains(QLatin1String("dataInfo"))) {
        const qlonglong shops = count(QStringLiteral("select count(*) as recordNum from dianBase"));
        const qlonglong trades = count(QStringLiteral(
            "select count(*) as recordNum from pjInfo inner join dianBase on pjInfo.dian_id=dianBase.id"));
        // The counts say where they were read: the file or a server shared with others.
        const QString store = startpage::storeText(databasechoice::describe(m_context.dm().adoCn));
        startpage::setInnerHtml(html, QStringLiteral("dataInfo"),
                                startpage::dataInfo(shops, trades) + QStringLiteral("<br>") +
                                    store.toHtmlEscaped());
    }
    // The note on where the data is kept follows the database in use; a page without the
    // element (an older or edited one) has the shipped sentence replaced.
    const QString note = startpage::storeNote(m_context.dm().adoCn.path()).toHtmlEscaped();
    if (!startpage::setInnerHtml(html, QStringLiteral("storeNote"), note))
        html.replace(QString::fromUtf16(startpage::kLocalNote), note);
    // Relative images and style sheets of the page are found beside it.
    m_indexWeb->setSearchPaths({QFileInfo(path).absolutePath()});
    // A refresh keeps the reader where they were.
    const int scroll = m_indexWeb->verticalScrollBar()->value();
    m_indexWeb->setHtml(html);
    m_indexWeb->verticalScrollBar()->setValue(scroll);
}

void TfrmIndex::indexWebBeforeNavigate(const QUrl& url)
{
    const LinkAction action = startpage::actionFor(url.toString());
    switch (action) {
    case LinkAction::Browser:
        m_context.showView(ViewId::Browser);
        return;
    case LinkAction::Search:
        m_context.showView(ViewId::Search);
        return;
    case LinkAction::Rank:
    case LinkAction::Trend:
    case LinkAction::Dist:
        // The analyses work on the browser's current shop: without a stored shop there is none.
        if (!m_context.commandsAvailable()) {
            TPrompt::instance().information(m_context.dialogParent(), QString::fromUtf16(kQuickStartMessage));
            return;
        }
        m_context.showView(action == LinkAction::Rank    ? ViewId::Rank
                           : action == LinkAction::Trend ? ViewId::Trend
                                                         : ViewId::Dist);
        return;
    case LinkAction::Changes:
        m_context.showView(ViewId::Changes);
        return;
    case LinkAction::HelpQuick:
    case LinkAction::HelpBrowser:
    case LinkAction::HelpAnalysis:
        m_context.openHelp(startpage::helpTopic(action));
        return;
    case LinkAction::None:
        break;
    }
    if (url.scheme() == QLatin1String("helpyou"))
        return; // a marker this program does not know
    if (url.isRelative() && url.path().isEmpty() && url.hasFragment()) {
        m_indexWeb->scrollToAnchor(url.fragment());
        return;
    }
    // The page component cannot follow a link inside, so pages open in the system's browser;
    // a relative link is taken beside the start page.
    QDesktopServices::openUrl(QUrl::fromLocalFile(Paths::startPage()).resolved(url));
}
