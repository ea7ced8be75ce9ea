#pragma once
#include "vardolistmodel.h"

#include <QIcon>
#include <QVector>

// The Vardo list as the main window's list shows it: each row's state by its picture, and a
// waiting entry's planned output path greyed, set apart from one that was written.
class VardoListDecoration : public VardoListModel {
    Q_OBJECT
public:
    explicit VardoListDecoration(QObject* parent = nullptr);

    QVariant data(const QModelIndex& index, int role) const override;

    // The list's pictures, indexed by state: 3 failed, 4 done, 5 waiting.
    const QVector<QIcon>& ImageList1() const { return imageList1_; }

private:
    QVector<QIcon> imageList1_;
};
