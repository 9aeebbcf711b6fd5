// The alarm store against raw SQLite: the cost of InsertAlarm over the same prepared insert with
// the same pragmas (every commit synced to disk), what that sync costs over synchronous=NORMAL, and
// the unread lookups on a large store with and without the lookup indexes.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>

#include "alarm/record/utf_text.h"
#include "alarm/store/md_sqlite.h"

using namespace rovik::alarm;

namespace {

constexpr int kStoredAlarms = 1000000;
constexpr int kUnreadEvery = kStoredAlarms / 100;

std::string MakeTempFolder() {
  std::string pattern =
      (std::filesystem::temp_directory_path() / "rovik-bench-store-XXXXXX").string();
  return mkdtemp(pattern.data());
}

AlarmRecord SampleAlarm() {
  AlarmRecord r;
  ClearRecord(r);
  rovik::alarm::CopyField(r.account, "13800000000");
  rovik::alarm::CopyField(r.ipcId, "A1");
  rovik::alarm::CopyField(r.ipcName, "客厅摄像机");
  rovik::alarm::CopyField(r.deviceName, "前门");
  rovik::alarm::CopyField(r.deviceType, "DS");
  rovik::alarm::CopyField(r.alarmTime, "2015-03-01 08:00:00");
  rovik::alarm::CopyField(r.userName, u"张三");
  return r;
}

void BM_InsertAlarm(benchmark::State& state) {
  const std::string folder = MakeTempFolder();
  {
    MdSQLite store;
    store.Open(folder);
    const AlarmRecord r = SampleAlarm();
    for (auto _ : state) {
      benchmark::DoNotOptimize(store.InsertAlarm(r));
    }
  }
  std::filesystem::remove_all(folder);
}

// The references: the same insert, prepared once, on a file with the same pragmas
// (synchronous=FULL), and with commits synced only at checkpoints (synchronous=NORMAL).
void RawInsert(benchmark::State& state, const char* pragmas) {
  const std::string folder = MakeTempFolder();
  {
    MdSQLite schema;  // the same tables and indexes
    schema.Open(folder);
  }
  sqlite3* db = nullptr;
  sqlite3_open((folder + "/ROVIK_ALARM.sdb").c_str(), &db);
  sqlite3_exec(db, pragmas, nullptr, nullptr, nullptr);
  sqlite3_stmt* stmt = nullptr;
  sqlite3_prepare_v2(
      db,
      "Insert into Alarm(Alarm_Account,Alarm_Username,Alarm_IpcID,Alarm_IpcName,Alarm_DevName,"
      "Alarm_DevType,Alarm_Time) values(?1,?2,?3,?4,?5,?6,?7);",
      -1, &stmt, nullptr);
  const char* values[] = {"13800000000",        "张三", "A1", "客厅摄像机", "前门", "DS",
                          "2015-03-01 08:00:00"};
  for (auto _ : state) {
    for (int i = 0; i < 7; ++i) sqlite3_bind_text(stmt, i + 1, values[i], -1, SQLITE_TRANSIENT);
    sqlite3_step(stmt);
    sqlite3_reset(stmt);
    benchmark::DoNotOptimize(sqlite3_last_insert_rowid(db));
  }
  sqlite3_finalize(stmt);
  sqlite3_close(db);
  std::filesystem::remove_all(folder);
}

void BM_RawInsert(benchmark::State& state) {
  RawInsert(state, "pragma journal_mode=WAL; pragma synchronous=FULL;");
}
void BM_RawInsertNormalSync(benchmark::State& state) {
  RawInsert(state, "pragma journal_mode=WAL; pragma synchronous=NORMAL;");
}

// A store of a million alarms, 100 of them unread; one copy with the lookup indexes, one without.
struct LargeStore {
  std::string folder = MakeTempFolder();
  std::string plainFolder = MakeTempFolder();
  LargeStore() {
    sqlite3* db = nullptr;
    sqlite3_open((plainFolder + "/ROVIK_ALARM.sdb").c_str(), &db);
    {
      MdSQLite schema;
      schema.Open(plainFolder);
    }
    sqlite3_exec(db,
                 "drop index Alarm_State_Index; drop index Alarm_Time_Index; drop index "
                 "Alarm_RecvTime_Index;",
                 nullptr, nullptr, nullptr);
    const std::string fill =
        "with recursive c(x) as (select 1 union all select x+1 from c where x<" +
        std::to_string(kStoredAlarms) +
        ") insert into "
        "Alarm(Alarm_Account,Alarm_Username,Alarm_IpcID,Alarm_IpcName,Alarm_DevName,Alarm_DevType,"
        "Alarm_Time,Alarm_RecvTime,Alarm_ReadTime,Alarm_State) select "
        "'13800000000','张三','A1','客厅','door '||x,'DS',"
        "datetime(1400000000+x*60,'unixepoch'),datetime(1400000000+x*60,'unixepoch'),"
        "case when x%" +
        std::to_string(kUnreadEvery) +
        "=0 then '' else datetime(1400000000+x*60,'unixepoch') end,"
        "case when x%" +
        std::to_string(kUnreadEvery) + "=0 then 0 else 1 end from c;";
    sqlite3_exec(db, fill.c_str(), nullptr, nullptr, nullptr);
    const std::string copy = "vacuum into '" + folder + "/ROVIK_ALARM.sdb';";
    sqlite3_exec(db, copy.c_str(), nullptr, nullptr, nullptr);
    sqlite3_close(db);
    store.Open(folder);  // adds the indexes to the copy
  }
  ~LargeStore() {
    std::filesystem::remove_all(folder);
    std::filesystem::remove_all(plainFolder);
  }
  MdSQLite store;
};

LargeStore& Large() {
  static LargeStore large;
  return large;
}

void BM_UnreadLookup(benchmark::State& state) {
  MdSQLite& store = Large().store;
  for (auto _ : state) {
    AlarmList list;
    benchmark::DoNotOptimize(store.GetUnreadCount());
    if (store.QueryUnread(list) != 100) state.SkipWithError("expected 100 unread alarms");
  }
}

// The reference: the same two statements on the copy without the lookup indexes.
void BM_UnreadLookupWithoutIndexes(benchmark::State& state) {
  sqlite3* db = nullptr;
  sqlite3_open((Large().plainFolder + "/ROVIK_ALARM.sdb").c_str(), &db);
  sqlite3_stmt* count = nullptr;
  sqlite3_stmt* query = nullptr;
  sqlite3_prepare_v2(
      db, "select count(Alarm_ID) from Alarm where Alarm_state = 0 order by Alarm_Time desc;", -1,
      &count, nullptr);
  sqlite3_prepare_v2(
      db,
      "select Alarm_ID, Alarm_Account, Alarm_Username, Alarm_IpcID,Alarm_IpcName,Alarm_DevName,"
      "Alarm_DevType,Alarm_Time,Alarm_ReadTime,Alarm_State from Alarm where Alarm_State = '0' "
      "order by Alarm_Time desc;",
      -1, &query, nullptr);
  for (auto _ : state) {
    sqlite3_step(count);
    benchmark::DoNotOptimize(sqlite3_column_int(count, 0));
    sqlite3_reset(count);
    int rows = 0;
    while (sqlite3_step(query) == SQLITE_ROW) {
      AlarmRecord r;
      ClearRecord(r);
      r.id = sqlite3_column_int(query, 0);
      benchmark::DoNotOptimize(r);
      ++rows;
    }
    sqlite3_reset(query);
    if (rows != 100) state.SkipWithError("expected 100 unread alarms");
  }
  sqlite3_finalize(count);
  sqlite3_finalize(query);
  sqlite3_close(db);
}

BENCHMARK(BM_InsertAlarm)->MinTime(1.0);
BENCHMARK(BM_RawInsert)->MinTime(1.0);
BENCHMARK(BM_RawInsertNormalSync)->MinTime(1.0);
BENCHMARK(BM_UnreadLookup);
BENCHMARK(BM_UnreadLookupWithoutIndexes);

// Remembers each benchmark's time per iteration so the ratios can be printed after the run.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      if (!run.error_occurred && run.iterations > 0) {
        nanos_[run.run_name.function_name] = run.GetAdjustedRealTime();
      }
    }
  }
  double Time(const std::string& name) const {
    const auto found = nanos_.find(name);
    return found == nanos_.end() ? 0.0 : found->second;
  }

 private:
  std::map<std::string, double> nanos_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  const double insert = reporter.Time("BM_InsertAlarm");
  const double rawInsert = reporter.Time("BM_RawInsert");
  const double normalInsert = reporter.Time("BM_RawInsertNormalSync");
  const double lookup = reporter.Time("BM_UnreadLookup");
  const double plainLookup = reporter.Time("BM_UnreadLookupWithoutIndexes");
  if (insert > 0 && rawInsert > 0) {
    std::printf(
        "InsertAlarm: %.0f inserts/s, raw SQLite %.0f inserts/s, overhead ratio %.2f (target <= "
        "1.3)\n",
        1e9 / insert, 1e9 / rawInsert, insert / rawInsert);
  }
  if (rawInsert > 0 && normalInsert > 0) {
    std::printf(
        "synchronous=FULL (every alarm commit on disk): raw %.0f inserts/s, NORMAL %.0f inserts/s, "
        "cost ratio "
        "%.2f (no target: the price of keeping acknowledged alarms over a power loss)\n",
        1e9 / rawInsert, 1e9 / normalInsert, rawInsert / normalInsert);
  }
  if (lookup > 0 && plainLookup > 0) {
    std::printf(
        "GetUnreadCount+QueryUnread on %d alarms: %.1f us, without indexes %.1f us, speed-up %.0f "
        "(target >= 50)\n",
        kStoredAlarms, lookup / 1e3, plainLookup / 1e3, plainLookup / lookup);
  }
  benchmark::Shutdown();
  return 0;
}
