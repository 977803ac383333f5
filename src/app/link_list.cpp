#include "app/link_list.h"

#include <QMouseEvent>

namespace {

// The most of an item the list shows: far more than any screen is wide.
// Painting is laid out over the whole text, and a page of 100 KB addresses
// held the window for most of a second at every paint. The item stays whole.
constexpr qsizetype shownUnits = 2048;

QString shown(const QString &item)
{
    if (item.size() <= shownUnits)
        return item;
    // Never leave half a surrogate pair at the cut.
    return item.left(item.at(shownUnits - 1).isHighSurrogate() ? shownUnits - 1 : shownUnits);
}

} // namespace

int LinkListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_items.size());
}

QVariant LinkListModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_items.size())
        return {};
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole)
        return shown(m_items.at(index.row()));
    return {};
}

Qt::ItemFlags LinkListModel::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemNeverHasChildren;
}

QString LinkListModel::item(qsizetype row) const
{
    return row >= 0 && row < m_items.size() ? m_items.at(row) : QString();
}

void LinkListModel::append(QStringList items)
{
    if (items.isEmpty())
        return;
    const auto first = int(m_items.size());
    beginInsertRows({}, first, first + int(items.size()) - 1);
    if (m_items.isEmpty())
        m_items = std::move(items);
    else
        m_items.append(std::move(items));
    endInsertRows();
}

void LinkListModel::removeAt(qsizetype row)
{
    if (row < 0 || row >= m_items.size())
        return;
    beginRemoveRows({}, int(row), int(row));
    m_items.removeAt(row);
    endRemoveRows();
}

void LinkListModel::removeRows(const QList<qsizetype> &rows)
{
    if (rows.isEmpty())
        return;
    if (rows.size() == 1) {
        removeAt(rows.first());
        return;
    }
    // Many scattered rows: one reset is far cheaper than a notification per
    // row, which makes the view relayout once for each.
    beginResetModel();
    QStringList kept;
    kept.reserve(m_items.size() - rows.size());
    qsizetype next = 0;
    for (qsizetype row = 0; row < m_items.size(); ++row) {
        if (next < rows.size() && rows.at(next) == row) {
            ++next;
            continue;
        }
        kept.append(std::move(m_items[row]));
    }
    m_items = std::move(kept);
    endResetModel();
}

void LinkListModel::clear()
{
    if (m_items.isEmpty())
        return;
    beginResetModel();
    m_items = QStringList();
    endResetModel();
}

LinkListView::LinkListView(QWidget *parent) : QListView(parent), m_model(new LinkListModel(this))
{
    // Without uniform sizes the first layout of 100,000 items takes most of a
    // second and appends while events run become quadratic.
    setUniformItemSizes(true);
    setLayoutMode(QListView::SinglePass);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setTextElideMode(Qt::ElideRight);
    // The window opens its own menu on the right release; Qt's context-menu
    // event must not open another one or reach the main window.
    setContextMenuPolicy(Qt::PreventContextMenu);
    viewport()->setContextMenuPolicy(Qt::PreventContextMenu);
    setModel(m_model);
}

int LinkListView::selectedRow() const
{
    const QModelIndexList rows = selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.first().row();
}

void LinkListView::clearSelectionAndCurrent()
{
    selectionModel()->clear();
}

void LinkListView::mousePressEvent(QMouseEvent *event)
{
    QListView::mousePressEvent(event);
    const QModelIndex index = indexAt(event->position().toPoint());
    if (!index.isValid()) {
        // Qt clears the selection for a press on empty space only at the
        // release; the window must see the press's effect now.
        selectionModel()->clearSelection();
    } else if (event->button() == Qt::RightButton) {
        // A right press selects like a left one.
        selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
    }
    emit mouseDown(event->button(), event->globalPosition().toPoint());
}

void LinkListView::mouseReleaseEvent(QMouseEvent *event)
{
    QListView::mouseReleaseEvent(event);
    emit mouseUp(event->button(), event->globalPosition().toPoint());
}
