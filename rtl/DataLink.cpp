// rtl/DataLink.cpp: data sources and data links.
#include "rtl/DataLink.h"

#include <algorithm>

namespace rtl {

TDataSource::~TDataSource() {
    SetDataSet(nullptr);
    const std::vector<TDataLink*> links = links_;
    for (TDataLink* link : links)
        link->SourceGone();
}

void TDataSource::SetDataSet(TDataSet* dataSet) {
    if (dataSet == dataSet_) return;
    if (dataSet_ != nullptr) dataSet_->RemoveDataSource(this);
    dataSet_ = dataSet;
    if (dataSet_ != nullptr) dataSet_->AddDataSource(this);
    const std::vector<TDataLink*> links = links_;
    for (TDataLink* link : links)
        link->UpdateState();
}

void TDataSource::DataSetGone() {
    dataSet_ = nullptr;
    const std::vector<TDataLink*> links = links_;
    for (TDataLink* link : links)
        link->UpdateState();
}

void TDataSource::SetEnabled(bool value) {
    if (value == enabled_) return;
    enabled_ = value;
    const std::vector<TDataLink*> links = links_;
    for (TDataLink* link : links)
        link->UpdateState();
}

void TDataSource::NotifyLinks(TDataEvent event, intptr_t info) {
    const std::vector<TDataLink*> links = links_;
    for (TDataLink* link : links) {
        // A link that went away during an earlier call is not called.
        if (std::find(links_.begin(), links_.end(), link) == links_.end()) continue;
        if (event == deUpdateState)
            link->UpdateState();
        else if (enabled_)
            link->DataEvent(event, info);
    }
}

TDataLink::~TDataLink() {
    if (dataSource_ != nullptr) {
        auto& links = dataSource_->links_;
        links.erase(std::remove(links.begin(), links.end(), this), links.end());
    }
}

void TDataLink::SetDataSource(TDataSource* source) {
    if (source == dataSource_) return;
    if (dataSource_ != nullptr) {
        auto& links = dataSource_->links_;
        links.erase(std::remove(links.begin(), links.end(), this), links.end());
    }
    dataSource_ = source;
    if (dataSource_ != nullptr) dataSource_->links_.push_back(this);
    UpdateState();
}

void TDataLink::UpdateState() {
    TDataSet* ds = DataSet();
    const bool active = dataSource_ != nullptr && dataSource_->Enabled() && ds != nullptr && ds->Active();
    if (active != active_) {
        active_ = active;
        ActiveChanged();
    }
    const bool editing = active_ && ds != nullptr && (ds->State() == dsEdit || ds->State() == dsInsert);
    if (editing != editing_) {
        editing_ = editing;
        EditingChanged();
    }
}

void TDataLink::DataEvent(TDataEvent event, intptr_t info) {
    if (!active_) return;
    switch (event) {
        case deFieldChange:
            RecordChanged(reinterpret_cast<TField*>(info));
            break;
        case deRecordChange:
            RecordChanged(nullptr);
            break;
        case deDataSetChange:
        case deLayoutChange:
            DataSetChanged();
            break;
        case deDataSetScroll:
            DataSetScrolled(int(info));
            break;
        case deUpdateRecord:
            UpdateData();
            break;
        case deCheckBrowseMode:
            CheckBrowseMode();
            break;
        default:
            break;
    }
}

}  // namespace rtl
