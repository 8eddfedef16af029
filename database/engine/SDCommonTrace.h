// database/engine/SDCommonTrace.h: the SQL trace hooks of the driver layer (part of unit SDCommon).
//
// The connection and command wrappers report SQL events (connect, transactions, prepare,
// execute, fetch) to a process-wide trace sink. This system never installs a sink: then
// every hook returns at once and the wrappers behave exactly as without them. A sink that is
// installed (a test, a diagnostic build) receives fixed-size records in a locked queue.
//
// Record layout: sequence number (-1 until queued), event kind, server type (-1 without
// one), time of the event (local date-time), elapsed time (days), text (1025 characters),
// application name and component name (256 characters each), every text zero-terminated
// inside its field.
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>

#include "rtl/DateTime.h"

class TISqlDatabase;
class TISqlCommand;

enum TSDTraceEvent : int32_t {
    teAppStarted = 0,
    teAppFinished = 1,
    teConnect = 2,
    teDisconnect = 3,
    teTrStart = 4,
    teTrCommit = 5,
    teTrRollback = 6,
    tePrepare = 7,
    teExecute = 8,
    teFetch = 9,
    teDataIn = 10,
    teDataOut = 11,
    teError = 12,
};

// "AppStarted", "AppFinished", "Connect", ... "Error".
const char* TraceEventName(TSDTraceEvent e);

// Event flags of a sink.
enum : uint32_t {
    tfConnect = 1,
    tfTransact = 2,
    tfPrepare = 4,
    tfExecute = 8,
    tfFetch = 32,
};

struct TSDTraceRecord {
    int32_t Sequence = -1;
    int32_t Event = 0;
    int32_t ServerType = -1;
    rtl::TDateTime Time = 0;
    rtl::TDateTime Elapsed = 0;
    char Text[1025] = {};
    char AppName[256] = {};
    char ComponentName[256] = {};
};

class TSDSqlTraceHooks {
public:
    TSDSqlTraceHooks(std::string appName, uint32_t flags) : appName_(std::move(appName)), flags_(flags) {}

    const std::string& AppName() const { return appName_; }
    uint32_t Flags() const { return flags_; }
    void SetPaused(bool paused) { paused_ = paused; }

    // The message of the last driver error, recorded after the next statement event.
    void SetPendingError(const std::string& text);
    std::string TakePendingError();

    // Numbers and queues a copy of the record (nothing while paused).
    void Queue(TSDTraceRecord record);
    // Removes and returns every queued record, oldest first.
    std::deque<TSDTraceRecord> TakeRecords();
    int32_t Counter() const { return counter_; }

private:
    std::string appName_;
    uint32_t flags_;
    std::atomic<bool> paused_{false};
    std::mutex mutex_;
    std::string pendingError_;
    std::deque<TSDTraceRecord> queue_;
    std::atomic<int32_t> counter_{0};
};

// The installed sink, or nullptr (always nullptr in this system).
TSDSqlTraceHooks* GetSqlTraceHooks();
// Installs a sink (nullptr removes it); returns the previous one.
std::unique_ptr<TSDSqlTraceHooks> InstallSqlTraceHooks(std::unique_ptr<TSDSqlTraceHooks> hooks);
// Records raised by every sink so far, across sinks.
int32_t SqlTraceSharedCounter();

// The start of a traced step; reads the clock only when a sink exists.
class TSDTraceStart {
public:
    TSDTraceStart();
    // The time since the start, in days.
    rtl::TDateTime Elapsed() const;

private:
    uint64_t ticks_ = 0;
};

void TraceSqlConnection(const TISqlDatabase& database, TSDTraceEvent event, const TSDTraceStart& start);
// Statement events; a pending error becomes an Error record after them.
void TraceSqlPrepare(TISqlCommand& command, const TSDTraceStart& start);
void TraceSqlExecute(TISqlCommand& command, const TSDTraceStart& start);
// A Fetch record and, with the fetch flag, one DataOut record per column.
void TraceSqlFetch(TISqlCommand& command, const TSDTraceStart& start);
void TraceSqlError(const std::string& message);
