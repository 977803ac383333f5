#pragma once

#include <QAbstractListModel>
#include <QListView>
#include <QStringList>

// The items of the link list. Appends, batch removals and clears each cost
// one model notification, so a harvest of 100,000 links is one insert.
class LinkListModel final : public QAbstractListModel
{
    Q_OBJECT
public:
    using QAbstractListModel::QAbstractListModel;

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

    const QStringList &items() const { return m_items; }
    qsizetype count() const { return m_items.size(); }
    // The text at row, or the empty text for a row out of range (-1 included).
    QString item(qsizetype row) const;

    // Takes the items over: into an empty list without copying, otherwise
    // moved in when nobody else shares them.
    void append(QStringList items);
    void removeAt(qsizetype row);
    // rows must be ascending and in range.
    void removeRows(const QList<qsizetype> &rows);
    void clear();

private:
    QStringList m_items;
};

// The link list: a single-selection list whose press and release reach the
// window only after the view has applied them to its selection.
class LinkListView final : public QListView
{
    Q_OBJECT
public:
    explicit LinkListView(QWidget *parent = nullptr);

    LinkListModel *links() const { return m_model; }
    // The selected row, or -1 when no item is selected.
    int selectedRow() const;
    void clearSelectionAndCurrent();

signals:
    void mouseDown(Qt::MouseButton button, const QPoint &globalPos);
    void mouseUp(Qt::MouseButton button, const QPoint &globalPos);

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    LinkListModel *m_model;
};
