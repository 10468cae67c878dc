// How the tests read and pick the rows of a tab's message list: the texts as the view shows them.
#pragma once

#include "MessageList.h"

#include <QItemSelectionModel>

inline QString RowText(const MessageList* list, int row, int column) {
    return list->model()->index(row, column).data().toString();
}

inline void SelectRow(MessageList* list, int row) {
    list->selectionModel()->select(list->model()->index(row, 0),
                                   QItemSelectionModel::Select | QItemSelectionModel::Rows);
}
