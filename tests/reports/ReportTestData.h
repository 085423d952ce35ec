#pragma once

#include "ListRoles.h"

#include <QStandardItemModel>
#include <QStringList>
#include <memory>

// A stand-in for the main list: captions, rows of whole texts and item ids, with what the view
// shows (Qt::DisplayRole) shortened, as the main list may do while painting.
inline std::unique_ptr<QStandardItemModel>
makeSourceList(const QStringList& captions, const QList<QStringList>& rows, const QList<int>& ids) {
    auto model = std::make_unique<QStandardItemModel>(int(rows.size()), int(captions.size()));
    for (int c = 0; c < captions.size(); ++c) {
        model->setHeaderData(c, Qt::Horizontal, captions.at(c), Qt::DisplayRole);
        model->setHeaderData(c, Qt::Horizontal, int(Qt::AlignLeft | Qt::AlignVCenter), Qt::TextAlignmentRole);
    }
    for (int r = 0; r < rows.size(); ++r) {
        for (int c = 0; c < captions.size(); ++c) {
            auto* item = new QStandardItem;
            const QString text = rows.at(r).value(c);
            item->setData(text.left(3) + QStringLiteral("…"), Qt::DisplayRole);
            item->setData(text, ListRoles::FullText);
            item->setData(ids.at(r), ListRoles::ItemId);
            model->setItem(r, c, item);
        }
    }
    return model;
}
