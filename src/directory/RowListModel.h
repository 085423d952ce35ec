#pragma once

#include <QAbstractTableModel>
#include <QIcon>
#include <QList>
#include <QString>

// A one-column list of texts, each with a number of its own and the same icon; rows are
// striped by their index.
class RowListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    struct Row {
        QString text;
        int number = 0;
    };

    RowListModel(QString caption, QIcon icon, QObject* parent = nullptr);

    void setRows(QList<Row> rows); // one reset
    void removeRowAt(int row);
    const Row& rowAt(int row) const { return m_rows.at(row); }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    QString m_caption;
    QIcon m_icon;
    QList<Row> m_rows;
};
