#include "vardolistdecoration.h"

#include "module1.h"

#include <QPalette>

VardoListDecoration::VardoListDecoration(QObject* parent)
    : VardoListModel(parent)
    , imageList1_(6)
{
    Module1::LoadResources();
    imageList1_[static_cast<int>(vardune::EntryState::Failed)] = QIcon(QStringLiteral(":/icons/failed.svg"));
    imageList1_[static_cast<int>(vardune::EntryState::Done)] = QIcon(QStringLiteral(":/icons/done.svg"));
    imageList1_[static_cast<int>(vardune::EntryState::Waiting)] = QIcon(QStringLiteral(":/icons/waiting.svg"));
}

QVariant VardoListDecoration::data(const QModelIndex& index, int role) const
{
    if (role == Qt::DecorationRole && index.column() == 0 && index.isValid() && index.row() < rowCount())
        return imageList1_.value(VardoListModel::data(index, Qt::UserRole).toInt());
    if (role == Qt::ForegroundRole && VardoListModel::data(index, PlannedRole).toBool())
        return QPalette().brush(QPalette::Disabled, QPalette::Text);
    return VardoListModel::data(index, role);
}
