// The column layout of the panes' lists: the wide columns share what the list's
// width leaves after the narrow ones, so every column stays in view however wide
// the pane is. Thread use: user interface thread only.
#pragma once

#include <QHeaderView>
#include <QTreeWidget>
#include <vector>

// widths: one per column; a width of 0 marks a column that stretches (it takes an
// equal share of the rest), any other column keeps its width and can be resized.
inline void LayOutColumns(QTreeWidget* list, const std::vector<int>& widths) {
    QHeaderView* header = list->header();
    header->setStretchLastSection(false);
    header->setMinimumSectionSize(50);
    for (int i = 0; i < static_cast<int>(widths.size()); ++i) {
        if (widths[i] == 0) {
            header->setSectionResizeMode(i, QHeaderView::Stretch);
        } else {
            header->setSectionResizeMode(i, QHeaderView::Interactive);
            list->setColumnWidth(i, widths[i]);
        }
    }
}
