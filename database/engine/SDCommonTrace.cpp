// database/engine/SDCommonTrace.cpp: the trace sink and the hooks the wrappers call.
#include "database/engine/SDCommonTrace.h"

#include <algorithm>
#include <cstring>

#include "database/engine/SDCommon.h"
#include "database/engine/SDCommonCommand.h"
#include "platform/Clock.h"
#include "rtl/Format.h"
#include "rtl/Text.h"

namespace {

std::unique_ptr<TSDSqlTraceHooks> gHooks;
std::atomic<TSDSqlTraceHooks*> gHooksPtr{nullptr};
std::atomic<int32_t> gSharedCounter{0};

// Copies as much of the text as leaves room for the terminating zero.
template <size_t N>
void CopyField(char (&field)[N], const std::string& text) {
    const size_t n = std::min(text.size(), N - 1);
    std::memcpy(field, text.data(), n);
    field[n] = 0;
}

TSDTraceRecord NewRecord(TSDSqlTraceHooks& hooks, TSDTraceEvent event, int32_t serverType,
                         const rtl::Component* owner, rtl::TDateTime elapsed, const std::string& text) {
    TSDTraceRecord r;
    r.Sequence = -1;
    r.Event = event;
    r.ServerType = serverType;
    r.Time = rtl::DateTimeFromTimePoint(plat::GetClock().Now());
    r.Elapsed = elapsed;
    CopyField(r.Text, text);
    CopyField(r.AppName, hooks.AppName());
    CopyField(r.ComponentName, owner ? owner->Name() : std::string());
    return r;
}

uint32_t FlagOf(TSDTraceEvent e) {
    switch (e) {
        case teConnect:
        case teDisconnect:
            return tfConnect;
        case teTrStart:
        case teTrCommit:
        case teTrRollback:
            return tfTransact;
        case tePrepare:
            return tfPrepare;
        case teExecute:
            return tfExecute;
        case teFetch:
            return tfFetch;
        default:
            return 0;
    }
}

std::string StatementText(const TISqlCommand& command) {
    return rtl::Trim(command.PreparedText).empty() ? command.CommandText : command.PreparedText;
}

int32_t ServerTypeOf(const TISqlCommand& command) {
    return command.SqlDatabase ? int32_t(command.SqlDatabase->GetServerType()) : -1;
}

void StatementEvent(TISqlCommand& command, TSDTraceEvent event, const TSDTraceStart& start) {
    TSDSqlTraceHooks* hooks = GetSqlTraceHooks();
    if (hooks == nullptr || (hooks->Flags() & FlagOf(event)) == 0) return;
    hooks->Queue(NewRecord(*hooks, event, ServerTypeOf(command), command.Owner, start.Elapsed(),
                           StatementText(command)));
    const std::string pending = hooks->TakePendingError();
    if (!pending.empty())
        hooks->Queue(NewRecord(*hooks, teError, ServerTypeOf(command), command.Owner, 0, pending));
}

}  // namespace

const char* TraceEventName(TSDTraceEvent e) {
    static constexpr const char* kNames[] = {"AppStarted", "AppFinished", "Connect", "Disconnect", "TrStart",
                                             "TrCommit",   "TrRollback",  "Prepare", "Execute",    "Fetch",
                                             "DataIn",     "DataOut",     "Error"};
    if (e < teAppStarted || e > teError) return "";
    return kNames[e];
}

void TSDSqlTraceHooks::SetPendingError(const std::string& text) {
    std::lock_guard lock(mutex_);
    pendingError_ = text;
}

std::string TSDSqlTraceHooks::TakePendingError() {
    std::lock_guard lock(mutex_);
    return std::exchange(pendingError_, std::string());
}

void TSDSqlTraceHooks::Queue(TSDTraceRecord record) {
    if (paused_) return;
    {
        // Numbering and counting under one lock, so two threads never take the same number.
        std::lock_guard lock(mutex_);
        record.Sequence = counter_ + 1;
        queue_.push_back(record);
        ++counter_;
    }
    ++gSharedCounter;
}

std::deque<TSDTraceRecord> TSDSqlTraceHooks::TakeRecords() {
    std::lock_guard lock(mutex_);
    return std::exchange(queue_, {});
}

TSDSqlTraceHooks* GetSqlTraceHooks() {
    return gHooksPtr.load();
}

std::unique_ptr<TSDSqlTraceHooks> InstallSqlTraceHooks(std::unique_ptr<TSDSqlTraceHooks> hooks) {
    gHooksPtr.store(hooks.get());
    std::swap(gHooks, hooks);
    return hooks;
}

int32_t SqlTraceSharedCounter() {
    return gSharedCounter;
}

TSDTraceStart::TSDTraceStart() {
    if (GetSqlTraceHooks() != nullptr) ticks_ = plat::GetClock().Ticks();
}

rtl::TDateTime TSDTraceStart::Elapsed() const {
    if (GetSqlTraceHooks() == nullptr) return 0;
    return double(plat::GetClock().Ticks() - ticks_) / double(rtl::MSecsPerDay);
}

void TraceSqlConnection(const TISqlDatabase& database, TSDTraceEvent event, const TSDTraceStart& start) {
    TSDSqlTraceHooks* hooks = GetSqlTraceHooks();
    if (hooks == nullptr || (hooks->Flags() & FlagOf(event)) == 0) return;
    hooks->Queue(NewRecord(*hooks, event, database.GetServerType(), database.Owner, start.Elapsed(), ""));
}

void TraceSqlPrepare(TISqlCommand& command, const TSDTraceStart& start) {
    StatementEvent(command, tePrepare, start);
}

void TraceSqlExecute(TISqlCommand& command, const TSDTraceStart& start) {
    StatementEvent(command, teExecute, start);
}

void TraceSqlFetch(TISqlCommand& command, const TSDTraceStart& start) {
    TSDSqlTraceHooks* hooks = GetSqlTraceHooks();
    if (hooks == nullptr || (hooks->Flags() & tfFetch) == 0) return;
    hooks->Queue(NewRecord(*hooks, teFetch, ServerTypeOf(command), command.Owner, start.Elapsed(),
                           StatementText(command)));
    const TSDServerType server = command.GetSqlDatabase().GetServerType();
    for (int i = 0; i < command.FieldDescs->Count(); ++i) {
        const TSDFieldDesc& d = command.FieldDescs->GetFieldDesc(i);
        std::string data;
        if (IsBlobFieldType(server, d.FieldType)) {
            data = "<BLOB>";
        } else if ((d.FieldType >= ftBytes && d.FieldType <= ftTypedBinary && d.FieldType != ftAutoInc) ||
                   d.FieldType == ftGuid) {
            // ftAutoInc sits inside the binary range of the type ordinals but is an integer.
            data = "<BINARY>";
        } else {
            command.GetFieldAsString(d.FieldNo, data);
        }
        const std::string text =
            rtl::Format("Field = %d, Name = %s, Type = %s, Size = %d, Data = %s", d.FieldNo, d.FieldName,
                        rtl::FieldTypeName(d.FieldType), d.DataSize, data);
        hooks->Queue(NewRecord(*hooks, teDataOut, int32_t(server), command.Owner, 0, text));
    }
}

void TraceSqlError(const std::string& message) {
    if (TSDSqlTraceHooks* hooks = GetSqlTraceHooks()) hooks->SetPendingError(message);
}
