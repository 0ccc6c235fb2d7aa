#pragma once

#include "ui/TView.h"

class QTextBrowser;
class QUrl;
class TViewContext;

// The navigation page ("导航页"): the start page of the data folder with the last use, the
// program version and the collected counts filled in, whose helpyou:// links run commands or
// open help topics. The page is read and filled again each time the view is embedded, so
// the counts follow mining runs and deletions. UI thread only.
class TfrmIndex : public TView
{
    Q_OBJECT

public:
    static constexpr char16_t kQuickStartMessage[] =
        u"请先打开掌柜资料！\n在工具栏中单击《资料》或者在菜单中选择《会员资料》->《掌柜资料》";

    explicit TfrmIndex(TViewContext& context, QWidget* parent = nullptr);

    // The version compiled into the program.
    static QString versionText();
    // The data folder in use and where it comes from, as the page and the about box show it.
    static QString dataDirText();

    // Reads the start page again and fills its placeholders.
    void refresh();
    // What a click on a link of the page does.
    void indexWebBeforeNavigate(const QUrl& url);

protected:
    void showEvent(QShowEvent* event) override;

private:
    struct LoginInfo
    {
        bool ok = false;
        QString date;
    };
    LoginInfo readConfiguration();
    qlonglong count(const QString& sql);
    QString pageText(QString* path);

    TViewContext& m_context;
    QTextBrowser* m_indexWeb;
};
