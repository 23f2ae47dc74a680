#pragma once

// A cell of a list window's table that can be selected but not edited.

#include <QTableWidgetItem>

namespace pelkora::gui {

inline QTableWidgetItem* readOnlyItem(const QString& text,
                                      Qt::Alignment alignment = Qt::AlignLeft) {
    auto* item = new QTableWidgetItem(text);
    item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
    item->setTextAlignment(alignment | Qt::AlignVCenter);
    return item;
}

}  // namespace pelkora::gui
