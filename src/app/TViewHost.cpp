#include "app/TViewHost.h"

#include "ui/TView.h"

TViewHost::TViewHost(QWidget* parent) : QScrollArea(parent), m_parking(new QWidget(this))
{
    setObjectName(QStringLiteral("fd1"));
    setWidgetResizable(true);
    setFrameShape(QFrame::NoFrame);
    m_parking->setObjectName(QStringLiteral("fd1Parking"));
    m_parking->hide();
}

TView* TViewHost::current() const
{
    return qobject_cast<TView*>(widget());
}

void TViewHost::embed(TView* view)
{
    // takeWidget() hands the view back without a parent; parking keeps it (and its state).
    if (QWidget* old = takeWidget()) {
        old->hide();
        old->setParent(m_parking);
    }
    setWidget(view);
    view->show();
}
