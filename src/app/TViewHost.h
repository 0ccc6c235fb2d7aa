#pragma once

#include <QScrollArea>

class TView;

// The client area of the main window (fd1): a scroll box that embeds one view at a time.
// Views that are not shown stay alive, hidden, as children of the host. UI thread only.
class TViewHost : public QScrollArea
{
    Q_OBJECT

public:
    explicit TViewHost(QWidget* parent = nullptr);

    TView* current() const;
    // Removes the current view and embeds view (taking ownership); a view that is already
    // embedded is removed and embedded again.
    void embed(TView* view);

private:
    QWidget* m_parking; // hidden parent of the views not shown
};
