// rtl/DataLink.h: data sources and data links of the data-set base.
//
// A TDataSource stands between one data set and the links that follow it (a detail query follows
// its master through a link on the master's data source). The data set tells its data sources of
// every data event; each source passes the event to its links, which turn it into the calls
// ActiveChanged, RecordChanged, DataSetChanged, CheckBrowseMode and UpdateData.
//
// Lifetimes: none of the three owns another. Whichever goes first unhooks itself: a data set
// clears the data set of its sources, a source clears the source of its links and leaves its data
// set's list, a link leaves its source's list.
#pragma once

#include <cstdint>
#include <vector>

#include "rtl/Component.h"
#include "rtl/DataSet.h"

namespace rtl {

class TDataSource : public Component {
public:
    explicit TDataSource(Component* owner = nullptr) : Component(owner) {}
    ~TDataSource() override;

    TDataSet* DataSet() const { return dataSet_; }
    void SetDataSet(TDataSet* dataSet);
    bool Enabled() const { return enabled_; }
    void SetEnabled(bool value);
    TDataSetState State() const { return dataSet_ != nullptr && enabled_ ? dataSet_->State() : dsInactive; }
    const std::vector<TDataLink*>& Links() const { return links_; }

private:
    friend class TDataSet;
    friend class TDataLink;
    void NotifyLinks(TDataEvent event, intptr_t info);
    void DataSetGone();

    TDataSet* dataSet_ = nullptr;
    bool enabled_ = true;
    std::vector<TDataLink*> links_;
};

class TDataLink {
public:
    TDataLink() = default;
    virtual ~TDataLink();
    TDataLink(const TDataLink&) = delete;
    TDataLink& operator=(const TDataLink&) = delete;

    TDataSource* DataSource() const { return dataSource_; }
    void SetDataSource(TDataSource* source);
    TDataSet* DataSet() const { return dataSource_ != nullptr ? dataSource_->DataSet() : nullptr; }
    // The source is enabled and its data set open.
    bool Active() const { return active_; }
    bool Editing() const { return editing_; }

protected:
    virtual void ActiveChanged() {}
    virtual void EditingChanged() {}
    // Field nullptr: the whole record changed.
    virtual void RecordChanged(TField*) {}
    virtual void DataSetChanged() { RecordChanged(nullptr); }
    virtual void DataSetScrolled(int) { DataSetChanged(); }
    virtual void CheckBrowseMode() {}
    virtual void UpdateData() {}

private:
    friend class TDataSource;
    void DataEvent(TDataEvent event, intptr_t info);
    void UpdateState();
    void SourceGone() {
        dataSource_ = nullptr;
        UpdateState();
    }

    TDataSource* dataSource_ = nullptr;
    bool active_ = false;
    bool editing_ = false;
};

// A link whose owner is a detail data set (master-detail chains are followed through it).
class TDetailDataLink : public TDataLink {
public:
    virtual TDataSet* GetDetailDataSet() { return nullptr; }
};

}  // namespace rtl
