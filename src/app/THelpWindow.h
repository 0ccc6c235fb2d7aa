#pragma once

#include <QWidget>

class QTextBrowser;

// The help viewer: a window over the HTML topics in hlp/, one topic per file. One instance,
// reused for every topic; UI thread only.
class THelpWindow : public QWidget
{
    Q_OBJECT

public:
    static constexpr char kStartTopic[] = "index.htm";

    explicit THelpWindow(QWidget* parent = nullptr);

    // Shows a topic by file name; a leading "::" (the link form of the topics) is allowed and
    // an empty name is the start topic. Names that leave the help folder are refused.
    void openTopic(const QString& topic);

private:
    void updateTitle();

    QTextBrowser* m_view;
};
