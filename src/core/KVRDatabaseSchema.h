#pragma once
// The database file's layout: one table per entity, its version (PRAGMA
// user_version), the identifier that marks the file as ours (PRAGMA
// application_id), the read-only checks of a file (the cheap ones before it is
// opened, the integrity check before anything is written to it), and the
// migration steps from older versions.
#include <QString>
#include <atomic>
#include <exception>
#include <functional>

namespace SQLite {
class Database;
}

namespace KVRDatabaseSchema {

// The layout this program writes. A file of a later version is refused.
inline constexpr int kVersion = 1;
// "VRTY": written in every file this program creates.
inline constexpr int kApplicationId = 0x56525459;
// How long a connection waits for another one's lock before failing.
inline constexpr int kBusyTimeoutMs = 10000;

// How a connection waits while another program holds the file's lock: up to
// timeoutMs, telling `waiting` (on the waiting thread) once a wait begins.
struct BusyWait {
  int timeoutMs = kBusyTimeoutMs;
  std::function<void()> waiting;
};
// Installs the wait on a connection; `wait` must outlive the connection.
void waitWhenBusy(SQLite::Database& db, const BusyWait& wait);
// Whether an SQLite failure is a lock that was still held when the wait ended.
bool isBusy(const std::exception& e);
// The user's explanation of such a failure.
QString busyFailure(const QString& path, const BusyWait& wait);

// What the read-only inspection of an existing file found.
struct FileCheck {
  bool sound = false;  // readable, passes the integrity check, ours or empty
  bool empty = true;   // no table at all: the layout is still to be created
  int version = 0;     // user_version of the file
  QString error;       // why the file is refused, when not sound
};

// Opens the file read-only (it is never written here) and checks that it is an
// SQLite database, as long as its header says (no lost end), that carries this
// program's application id (or holds no table at all) and has a version this
// program knows.
FileCheck inspect(const QString& path, const BusyWait& wait = BusyWait());
// Runs PRAGMA quick_check on a read-only connection of its own (any thread);
// an empty text when the file is sound, else why it is not. Setting `cancel`
// stops the check soon (its text then says it was interrupted).
QString integrityProblems(const QString& path, const BusyWait& wait = BusyWait(),
                          const std::atomic<bool>* cancel = nullptr);

// On a read-write connection: creates the tables of an empty file, or migrates
// an older layout to kVersion, in one transaction. False with a reason when a
// step fails; the file then keeps its earlier layout.
bool prepare(SQLite::Database& db, bool empty, int fromVersion, QString* error);

}  // namespace KVRDatabaseSchema
