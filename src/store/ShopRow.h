#pragma once

#include <QString>
#include <QStringList>

class TCursor;

// A shop as a run mines it: what a search result or the stored shop tells of it. The run
// records and the queue keep it by field name, so fields may be added or reordered freely.
struct ShopRow
{
    QString shopkeeper; // dianzhu
    QString name;       // dianming
    QString business;   // loc: the main business
    QString webaddr;
    QString goods;    // commodityNum
    QString location; // addr
    QString category; // commodityKind

    // The shop at a cursor's row of dianbase, 0-based, the current row when -1 (goods "0"
    // when unknown).
    static ShopRow fromCursor(const TCursor& cursor, int row = -1);
    // The result grid's columns, in dianbase's column order as above.
    static ShopRow fromColumns(const QStringList& columns);
    QStringList columns() const;
    // As the run records and the queue keep it: a JSON object keyed by dianbase's column names.
    QString stored() const;
    // Reads stored(), and the texts joined by U+001F that earlier versions kept.
    static ShopRow fromStored(const QString& text);

    bool operator==(const ShopRow&) const = default;
};
