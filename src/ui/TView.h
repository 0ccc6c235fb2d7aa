#pragma once

#include <QWidget>
#include <optional>

// A working view the main window embeds, one at a time; its windowTitle() is its caption.
// Created on first use and kept until exit. UI thread only.
class TView : public QWidget
{
    Q_OBJECT

public:
    explicit TView(QWidget* parent = nullptr);

    // What the status-bar gauge copies each second while a download run is busy; nothing when
    // the view runs no background work.
    virtual std::optional<int> backgroundProgress() const;
};
