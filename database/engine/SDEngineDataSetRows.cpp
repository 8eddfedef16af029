// database/engine/SDEngineDataSetRows.cpp: what a TSDDataSet does over its cached rows: filters,
// find moves, Locate and Lookup, the sort, and rows loaded from another data set or from text
// lines.
#include <algorithm>
#include <numeric>

#include "database/engine/SDCommonSqlText.h"
#include "database/engine/SDCommonValues.h"
#include "database/engine/SDEngineDataSet.h"
#include "rtl/Format.h"
#include "rtl/Text.h"

using rtl::RecordBuffer;
using rtl::TField;
using rtl::Variant;

// ---------------------------------------------------------------------------------------------
// Filters

std::unique_ptr<TSDExprParser> TSDDataSet::CompileFilter(const std::string& text,
                                                         rtl::TFilterOptions options) {
    return std::make_unique<TSDExprParser>(*this, text, options, rtl::poExtSyntax, SDFilterFieldMap());
}

bool TSDDataSet::FilterRecord(RecordBuffer& buffer) {
    const rtl::TDataSetState previous = SetTempState(rtl::dsFilter);
    RecordBuffer* previousBuffer = filterBuffer_;
    filterBuffer_ = &buffer;
    bool accept = true;
    try {
        if (filterParser_) accept = EvaluateFilterExpression(*filterParser_);
        if (accept && OnFilterRecord()) OnFilterRecord()(*this, accept);
    } catch (const std::exception& e) {
        accept = false;
        filterBuffer_ = previousBuffer;
        RestoreState(previous);
        InternalHandleException(e);
        return false;
    }
    filterBuffer_ = previousBuffer;
    RestoreState(previous);
    return accept;
}

// A text or options that do not compile raise before anything changes: the filter in force
// stays in force.
void TSDDataSet::SetFilterText(const std::string& text) {
    if (text == Filter()) return;
    std::unique_ptr<TSDExprParser> parser;
    if (Active()) {
        CheckBrowseMode();
        if (!rtl::Trim(text).empty()) parser = CompileFilter(rtl::Trim(text), FilterOptions());
    }
    filterParser_ = std::move(parser);
    rtl::TDataSet::SetFilterText(text);
    ++filterGeneration_;
    if (Active() && Filtered()) First();
}

void TSDDataSet::SetFilterOptions(rtl::TFilterOptions value) {
    if (value == FilterOptions()) return;
    std::unique_ptr<TSDExprParser> parser;
    if (Active()) {
        CheckBrowseMode();
        if (!rtl::Trim(Filter()).empty()) parser = CompileFilter(rtl::Trim(Filter()), value);
    }
    filterParser_ = std::move(parser);
    rtl::TDataSet::SetFilterOptions(value);
    ++filterGeneration_;
    if (Active() && Filtered()) First();
}

void TSDDataSet::SetFiltered(bool value) {
    if (!Active()) {
        rtl::TDataSet::SetFiltered(value);
        ++filterGeneration_;
        return;
    }
    CheckBrowseMode();
    if (value != Filtered()) {
        if (resultSet_) resultSet_->ResetPosition();
        rtl::TDataSet::SetFiltered(value);
        ++filterGeneration_;
    }
    First();
}

void TSDDataSet::SetOnFilterRecord(TFilterRecordEvent handler) {
    if (Active()) CheckBrowseMode();
    rtl::TDataSet::SetOnFilterRecord(std::move(handler));
    ++filterGeneration_;
    if (Active() && Filtered()) First();
}

// ---------------------------------------------------------------------------------------------
// Search

bool TSDDataSet::FindRecord(bool restart, bool goForward) {
    CheckBrowseMode();
    Fire(BeforeScroll);
    CursorPosChanged();
    UpdateCursorPos();
    if (!resultSet_) return false;
    // The find moves look for records that pass the filter whether or not the data set is
    // filtered.
    const bool wasFiltered = Filtered();
    if (!wasFiltered) {
        rtl::TDataSet::SetFiltered(true);
        ++filterGeneration_;
    }
    bool found = false;
    try {
        if (goForward) {
            if (restart) resultSet_->ResetPosition();
            found = resultSet_->MoveNextVisible();
        } else {
            if (restart) {
                RunWithWaitCursor([&] { resultSet_->FetchAll(); });
                resultSet_->SetPositionToEnd();
            }
            found = resultSet_->MovePrior();
        }
    } catch (...) {
        if (!wasFiltered) {
            rtl::TDataSet::SetFiltered(false);
            ++filterGeneration_;
        }
        throw;
    }
    if (!wasFiltered) {
        rtl::TDataSet::SetFiltered(false);
        ++filterGeneration_;
    }
    if (found) {
        Resync(rtl::rmExact | rtl::rmCenter);
        Fire(AfterScroll);
    } else {
        CursorPosChanged();
    }
    return found;
}

std::vector<TField*> TSDDataSet::FieldList(const std::string& names) {
    std::vector<TField*> fields;
    for (const std::string& name : rtl::SplitFields(names, ';')) {
        const std::string n = rtl::Trim(name);
        if (!n.empty()) fields.push_back(&FieldByName(n));
    }
    return fields;
}

Variant TSDDataSet::FieldValues(const std::vector<TField*>& fields) {
    if (fields.size() == 1) return fields[0]->Value();
    std::vector<Variant> values;
    values.reserve(fields.size());
    for (TField* f : fields)
        values.push_back(f->Value());
    return Variant::FromArray(std::move(values));
}

int TSDDataSet::LocateRecord(const std::string& keyFields, const Variant& keyValues,
                             rtl::TLocateOptions options) {
    CheckBrowseMode();
    UpdateCursorPos();
    CursorPosChanged();
    if (!resultSet_) return -1;
    const std::vector<TField*> fields = FieldList(keyFields);
    const bool caseInsensitive = (options & rtl::loCaseInsensitive) != 0;
    const bool partialKey = (options & rtl::loPartialKey) != 0;
    int found = -1;
    const rtl::TDataSetState previous = SetTempState(rtl::dsFilter);
    RecordBuffer* previousBuffer = filterBuffer_;
    BeginSqlWaitCursor();
    try {
        for (int i = 0;; ++i) {
            if (i == resultSet_->Count()) {
                if (resultSet_->AllFetched()) break;
                // Rows are fetched in the browse state, as a move would fetch them.
                const rtl::TDataSetState filterState = SetTempState(previous);
                const int saved = resultSet_->Position();
                bool fetched = false;
                try {
                    fetched = resultSet_->FetchNext();
                } catch (...) {
                    RestoreState(filterState);
                    throw;
                }
                resultSet_->SetPosition(saved);
                RestoreState(filterState);
                if (!fetched) break;
            }
            if (!resultSet_->IsRowVisible(i)) continue;
            filterBuffer_ = &resultSet_->GetItemBuffer(i);
            if (SameVariantValues(FieldValues(fields), keyValues, caseInsensitive, partialKey, true)) {
                found = i;
                break;
            }
        }
    } catch (...) {
        filterBuffer_ = previousBuffer;
        RestoreState(previous);
        EndSqlWaitCursor();
        throw;
    }
    filterBuffer_ = previousBuffer;
    RestoreState(previous);
    EndSqlWaitCursor();
    return found;
}

bool TSDDataSet::Locate(const std::string& keyFields, const Variant& keyValues, rtl::TLocateOptions options) {
    CheckBrowseMode();
    Fire(BeforeScroll);
    const int found = LocateRecord(keyFields, keyValues, options);
    if (found < 0) return false;
    resultSet_->SetPosition(found);
    Resync(rtl::rmExact | rtl::rmCenter);
    Fire(AfterScroll);
    return true;
}

Variant TSDDataSet::Lookup(const std::string& keyFields, const Variant& keyValues,
                           const std::string& resultFields) {
    const int found = LocateRecord(keyFields, keyValues, 0);
    if (found < 0) return Variant::Null();
    // The row's calculated fields are computed in a buffer of its own, read in the calculating
    // state. That buffer goes at the end: a calculation that called Lookup (OnCalcFields of
    // another record) gets its own calculation buffer back.
    RecordBuffer* outerCalc = CalcBuffer();
    std::unique_ptr<RecordBuffer> row = NewRecordBuffer();
    resultSet_->CopyRow(resultSet_->GetItemBuffer(found), *row);
    Variant result;
    try {
        GetCalcFields(*row);
        const std::vector<TField*> fields = FieldList(resultFields);
        const rtl::TDataSetState previous = SetTempState(rtl::dsCalcFields);
        try {
            result = FieldValues(fields);
        } catch (...) {
            RestoreState(previous);
            throw;
        }
        RestoreState(previous);
    } catch (...) {
        RestoreCalcBuffer(outerCalc);
        throw;
    }
    RestoreCalcBuffer(outerCalc);
    return result;
}

// ---------------------------------------------------------------------------------------------
// Sort

void TSDDataSet::SortRecords(const std::vector<int>& fieldIndexes, const std::vector<bool>& caseInsensitive,
                             const std::vector<bool>& ascending) {
    CheckBrowseMode();
    if (!resultSet_) return;
    if (resultSet_->AllFetched() && resultSet_->Count() < 2) return;
    UpdateCursorPos();
    int active = HasActiveRecord() && ActiveBuffer() != nullptr ? BookmarkOf(*ActiveBuffer()) : -1;
    CursorPosChanged();
    RunWithWaitCursor([&] { resultSet_->FetchAll(); });
    const int count = resultSet_->Count();
    if (count >= 2) {
        if (fieldIndexes.empty()) throw rtl::Exception("Invalid array in GetRecordFieldsValue");
        std::vector<TField*> fields;
        for (int index : fieldIndexes)
            fields.push_back(&Fields(index));
        // Each row's sort values are read once, in the filter state over the row's buffer.
        std::vector<std::vector<Variant>> keys(static_cast<size_t>(count));
        const rtl::TDataSetState previous = SetTempState(rtl::dsFilter);
        RecordBuffer* previousBuffer = filterBuffer_;
        try {
            for (int i = 0; i < count; ++i) {
                filterBuffer_ = &resultSet_->GetItemBuffer(i);
                keys[size_t(i)].reserve(fields.size());
                for (TField* f : fields)
                    keys[size_t(i)].push_back(f->Value());
            }
        } catch (...) {
            filterBuffer_ = previousBuffer;
            RestoreState(previous);
            throw;
        }
        filterBuffer_ = previousBuffer;
        RestoreState(previous);
        auto flag = [](const std::vector<bool>& flags, size_t i, bool otherwise) {
            if (i < flags.size()) return bool(flags[i]);
            return flags.empty() ? otherwise : bool(flags[0]);
        };
        std::vector<int> order(static_cast<size_t>(count));
        std::iota(order.begin(), order.end(), 0);
        // A stable merge sort: O(n log n) whatever the order of the rows, equal rows keep theirs.
        std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
            for (size_t k = 0; k < fields.size(); ++k) {
                int c =
                    CompareVariants(keys[size_t(a)][k], keys[size_t(b)][k], flag(caseInsensitive, k, false));
                if (!flag(ascending, k, true)) c = -c;
                if (c != 0) return c < 0;
            }
            return false;
        });
        resultSet_->Reorder(order);
        if (active >= 0) {
            for (int p = 0; p < count; ++p)
                if (order[size_t(p)] == active) {
                    active = p;
                    break;
                }
        }
    }
    resultSet_->SetPosition(active);
    Resync(0);
    Fire(AfterScroll);
}

// ---------------------------------------------------------------------------------------------
// Local rows

void TSDDataSet::MakeDefsFromFields() {
    FieldDefs().Clear();
    for (int i = 0; i < FieldCount(); ++i) {
        const TField& f = Fields(i);
        if (f.Calculated() || f.FieldKind() == rtl::fkInternalCalc) continue;
        rtl::TFieldDef& def = FieldDefs().Add(f.FieldName(), f.DataType(), f.Size(), f.Required);
        def.Precision = f.Precision;
        def.FixedChar = f.FixedChar;
    }
    defsFromFields_ = true;
}

void TSDDataSet::OpenAsLocalData() {
    if (FieldCount() > 0 && FieldDefs().Count() == 0) MakeDefsFromFields();
    if (FieldDefs().Count() == 0) InitFieldDefs();
    if (CommandHasHandle()) Detach();
    localData_ = true;
    try {
        Open();
    } catch (...) {
        localData_ = false;
        throw;
    }
}

void TSDDataSet::LoadLocalRows(const std::function<void()>& appendRows) {
    OpenAsLocalData();
    DisableControls();
    try {
        appendRows();
        if (!Eof()) {
            resultSet_->CommitStatuses();
            First();
        }
    } catch (...) {
        EnableControls();
        throw;
    }
    EnableControls();
}

void TSDDataSet::LoadFromDataSet(rtl::TDataSet& source) {
    CheckInactive();
    if (!source.Active()) source.FieldDefs().Update();
    FieldDefs().Clear();
    defsFromFields_ = false;
    if (FieldCount() == 0)
        FieldDefs().Assign(source.FieldDefs());
    else
        MakeDefsFromFields();
    if (!source.Active()) return;
    LoadLocalRows([&] {
        source.First();
        while (!source.Eof()) {
            Append();
            const int n = std::min(FieldCount(), source.FieldCount());
            for (int i = 0; i < n; ++i) {
                TField& target = Fields(i);
                const TField& from = source.Fields(i);
                if (target.Calculated()) continue;
                if (from.IsNull())
                    target.Clear();
                else if (from.DataType() == ftLargeint || target.DataType() == ftLargeint)
                    target.SetAsString(from.AsString());
                else
                    target.Assign(from);
            }
            Post();
            source.Next();
        }
    });
}

void TSDDataSet::LoadFromStrings(const rtl::StringList& lines) {
    CheckInactive();
    TSDDatabase* db = FindDatabase();
    const std::string delimiterText =
        db != nullptr ? rtl::Trim(db->Params().Values("CSV FIELD DELIMITER")) : "";
    const char delimiter = delimiterText.empty() ? ',' : delimiterText[0];
    FieldDefs().Clear();
    defsFromFields_ = false;
    if (FieldCount() == 0) {
        int longest = 10;
        for (int i = 0; i < lines.Count(); ++i)
            longest = std::max(longest, int(lines[i].size()));
        FieldDefs().Add(rtl::Format("COLUMN%d", 1), ftString, longest, false);
    } else {
        MakeDefsFromFields();
    }
    LoadLocalRows([&] {
        for (int i = 0; i < lines.Count(); ++i) {
            const std::string& line = lines[i];
            Append();
            int position = 1;
            for (int f = 0; f < FieldCount(); ++f) {
                TField& field = Fields(f);
                if (field.Calculated()) continue;
                const std::string piece = ExtractListItem(line, delimiter, position);
                if (piece.empty())
                    field.Clear();
                else
                    field.SetAsString(piece);
            }
            Post();
        }
    });
}
