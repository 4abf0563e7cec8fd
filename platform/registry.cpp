#include "registry.h"

#include <cctype>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include "paths.h"
#include "text.h"

// Schema (see docs/registry.md):
//   reg_keys(root, path_fold, path)                   one row per key, parents included
//   reg_values(root, key_fold, name_fold, name, type, data)
// *_fold columns hold the case-folded UTF-8 spelling used for lookups; path and name keep
// the spelling of the writer that created them.

namespace plat {
namespace {

thread_local std::string t_last_error;

std::mutex g_lock;           // guards the connection below
sqlite3* g_db = nullptr;
std::string g_db_path;       // file the connection was opened on
pid_t g_db_pid = 0;          // a forked child must not reuse its parent's connection

int fail(int code, std::string message) {
  t_last_error = std::move(message);
  return code;
}

int store_fail(const char* what) {
  std::string msg = std::string("registry.db: ") + what;
  if (g_db != nullptr) msg += std::string(": ") + sqlite3_errmsg(g_db);
  return fail(kRegStoreFailed, msg);
}

void close_locked() {
  if (g_db != nullptr && g_db_pid == getpid()) sqlite3_close_v2(g_db);
  g_db = nullptr;
  g_db_path.clear();
}

bool exec(const char* sql) { return sqlite3_exec(g_db, sql, nullptr, nullptr, nullptr) == SQLITE_OK; }

// What open_locked answers, besides kRegOk and the failures, when a reader finds no
// store: the device has no registry.db yet, so it holds no key and no value.
constexpr int kStoreAbsent = -1;

enum class Open { kRead, kWrite };

// Opens (or reuses) the connection for the current device. A writer makes the store (and
// the device directory) when missing; a reader never does: it gets kStoreAbsent. Caller
// holds g_lock.
int open_locked(Open mode = Open::kWrite) {
  std::string path = device_file("registry.db");
  if (path.empty()) return fail(kRegStoreFailed, "no device directory (use --device DIR or VYRA_DEVICE)");
  if (g_db != nullptr && g_db_pid == getpid() && g_db_path == path) return kRegOk;
  struct stat st;
  if (mode == Open::kRead && stat(path.c_str(), &st) != 0 && errno == ENOENT) return kStoreAbsent;
  if (g_db_pid != getpid()) g_db = nullptr;  // inherited across fork: leave it to the parent
  close_locked();

  make_parent_dirs(path);
  std::string root = device_root();
  mkdir(root.c_str(), 0775);

  sqlite3* db = nullptr;
  int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                           nullptr);
  if (rc != SQLITE_OK) {
    std::string msg = "registry.db: cannot open " + path + ": " + (db ? sqlite3_errmsg(db) : "out of memory");
    if (db != nullptr) sqlite3_close_v2(db);
    return fail(kRegStoreFailed, msg);
  }
  g_db = db;
  g_db_path = path;
  g_db_pid = getpid();
  sqlite3_busy_timeout(g_db, 10000);
  // WAL lets readers and one writer work at once across processes; FULL makes a committed
  // value survive a power cut as well as a crash. Two processes opening a new store at the
  // same moment can see SQLITE_BUSY from the journal-mode switch without the busy handler
  // being consulted, so the set-up is retried for as long as the busy time-out.
  static const char* const kSetup[] = {
      "PRAGMA journal_mode=WAL",
      "PRAGMA synchronous=FULL",
      "CREATE TABLE IF NOT EXISTS reg_keys(root INTEGER NOT NULL, path_fold TEXT NOT NULL,"
      " path TEXT NOT NULL, PRIMARY KEY(root, path_fold)) WITHOUT ROWID",
      "CREATE TABLE IF NOT EXISTS reg_values(root INTEGER NOT NULL, key_fold TEXT NOT NULL,"
      " name_fold TEXT NOT NULL, name TEXT NOT NULL, type INTEGER NOT NULL, data BLOB,"
      " PRIMARY KEY(root, key_fold, name_fold)) WITHOUT ROWID",
  };
  for (const char* sql : kSetup) {
    int step = SQLITE_OK;
    for (int attempt = 0; attempt < 1000; ++attempt) {
      step = sqlite3_exec(g_db, sql, nullptr, nullptr, nullptr);
      if ((step & 0xFF) != SQLITE_BUSY && (step & 0xFF) != SQLITE_LOCKED) break;
      usleep(10000);
    }
    if (step != SQLITE_OK) {
      int code = store_fail("cannot use the store");
      close_locked();
      return code;
    }
  }
  return kRegOk;
}

// A key path in canonical form: components joined by '\', no empty components.
struct KeyPath {
  std::u16string path;
  std::string path_utf8;
  std::string fold_utf8;
  std::vector<std::u16string> components;
};

int normalize_key(std::u16string_view key, KeyPath* out) {
  if (key.size() > kRegMaxKeyPath) return fail(kRegBadArgument, "key path too long");
  size_t pos = 0;
  while (pos <= key.size()) {
    size_t end = key.find(u'\\', pos);
    if (end == std::u16string_view::npos) end = key.size();
    std::u16string_view part = key.substr(pos, end - pos);
    pos = end + 1;
    if (part.empty()) continue;
    if (part.size() > kRegMaxKeyComponent) return fail(kRegBadArgument, "key name too long");
    if (part.find(u'\0') != std::u16string_view::npos) return fail(kRegBadArgument, "NUL in key name");
    out->components.emplace_back(part);
  }
  for (size_t i = 0; i < out->components.size(); ++i) {
    if (i) out->path += u'\\';
    out->path += out->components[i];
  }
  out->path_utf8 = utf16_to_utf8(out->path);
  out->fold_utf8 = utf16_to_utf8(fold_case(out->path));
  return kRegOk;
}

int check_name(std::u16string_view name) {
  if (name.size() > kRegMaxValueName) return fail(kRegBadArgument, "value name too long");
  if (name.find(u'\0') != std::u16string_view::npos) return fail(kRegBadArgument, "NUL in value name");
  return kRegOk;
}

struct Stmt {
  sqlite3_stmt* s = nullptr;
  ~Stmt() { sqlite3_finalize(s); }
  bool prepare(const char* sql) { return sqlite3_prepare_v2(g_db, sql, -1, &s, nullptr) == SQLITE_OK; }
  void text(int i, const std::string& v) { sqlite3_bind_text(s, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT); }
  void integer(int i, int64_t v) { sqlite3_bind_int64(s, i, v); }
  void blob(int i, const void* d, size_t n) {
    sqlite3_bind_blob(s, i, n ? d : "", static_cast<int>(n), SQLITE_TRANSIENT);
  }
  std::string column_text(int i) {
    const unsigned char* t = sqlite3_column_text(s, i);
    return t ? std::string(reinterpret_cast<const char*>(t), sqlite3_column_bytes(s, i)) : std::string();
  }
};

// Rolls back unless committed.
struct WriteTxn {
  bool open = false;
  bool begin() { return open = exec("BEGIN IMMEDIATE"); }
  bool commit() {
    if (!exec("COMMIT")) return false;
    open = false;
    return true;
  }
  ~WriteTxn() {
    if (open) exec("ROLLBACK");
  }
};

// Inserts the key and its parents (keeping existing spellings). Caller is in a txn.
bool ensure_key(RegRoot root, const KeyPath& key) {
  Stmt st;
  if (!st.prepare("INSERT OR IGNORE INTO reg_keys(root, path_fold, path) VALUES(?1, ?2, ?3)")) return false;
  std::u16string prefix;
  for (size_t i = 0; i < key.components.size(); ++i) {
    if (i) prefix += u'\\';
    prefix += key.components[i];
    st.integer(1, static_cast<int>(root));
    st.text(2, utf16_to_utf8(fold_case(prefix)));
    st.text(3, utf16_to_utf8(prefix));
    if (sqlite3_step(st.s) != SQLITE_DONE) return false;
    sqlite3_reset(st.s);
  }
  return true;
}

std::u16string sz_from_blob(const void* data, int bytes) {
  std::u16string out(static_cast<size_t>(bytes) / 2, u'\0');
  const auto* p = static_cast<const unsigned char*>(data);
  for (size_t i = 0; i < out.size(); ++i) out[i] = static_cast<char16_t>(p[2 * i] | (p[2 * i + 1] << 8));
  return out;
}

std::string sz_to_blob(std::u16string_view sz) {
  std::string out;
  out.reserve(sz.size() * 2);
  for (char16_t ch : sz) {
    out.push_back(static_cast<char>(ch & 0xFF));
    out.push_back(static_cast<char>(ch >> 8));
  }
  return out;
}

// Reads one value; fills type and the raw column into the callback.
template <typename Fn>
int read_value(RegRoot root, std::u16string_view key, std::u16string_view name, Fn&& fn) {
  KeyPath kp;
  if (int rc = normalize_key(key, &kp); rc != kRegOk) return rc;
  if (int rc = check_name(name); rc != kRegOk) return rc;
  std::lock_guard<std::mutex> guard(g_lock);
  if (int rc = open_locked(Open::kRead); rc != kRegOk) return rc == kStoreAbsent ? fail(kRegNotFound, "no such value") : rc;
  Stmt st;
  if (!st.prepare("SELECT type, data FROM reg_values WHERE root=?1 AND key_fold=?2 AND name_fold=?3"))
    return store_fail("cannot read");
  st.integer(1, static_cast<int>(root));
  st.text(2, kp.fold_utf8);
  st.text(3, utf16_to_utf8(fold_case(name)));
  int step = sqlite3_step(st.s);
  if (step == SQLITE_DONE) return fail(kRegNotFound, "no such value");
  if (step != SQLITE_ROW) return store_fail("cannot read");
  return fn(static_cast<uint32_t>(sqlite3_column_int64(st.s, 0)), st.s);
}

int write_value(RegRoot root, std::u16string_view key, std::u16string_view name, RegType type,
                const void* data, size_t size, uint32_t dword) {
  KeyPath kp;
  if (int rc = normalize_key(key, &kp); rc != kRegOk) return rc;
  if (int rc = check_name(name); rc != kRegOk) return rc;
  if (size > kRegMaxData) return fail(kRegBadArgument, "value data too long");
  std::lock_guard<std::mutex> guard(g_lock);
  if (int rc = open_locked(); rc != kRegOk) return rc;
  WriteTxn txn;
  if (!txn.begin()) return store_fail("cannot write");
  if (!ensure_key(root, kp)) return store_fail("cannot create key");
  std::string name_fold = utf16_to_utf8(fold_case(name));
  Stmt st;
  // An existing value keeps the spelling of its name.
  if (!st.prepare("INSERT INTO reg_values(root, key_fold, name_fold, name, type, data)"
                  " VALUES(?1, ?2, ?3, ?4, ?5, ?6) ON CONFLICT(root, key_fold, name_fold)"
                  " DO UPDATE SET type=excluded.type, data=excluded.data"))
    return store_fail("cannot write");
  st.integer(1, static_cast<int>(root));
  st.text(2, kp.fold_utf8);
  st.text(3, name_fold);
  st.text(4, utf16_to_utf8(name));
  st.integer(5, type);
  if (type == kRegDword)
    st.integer(6, dword);
  else
    st.blob(6, data, size);
  if (sqlite3_step(st.s) != SQLITE_DONE) return store_fail("cannot write");
  if (!txn.commit()) return store_fail("cannot commit");
  return kRegOk;
}

}  // namespace

bool reg_parse_root(std::string_view text, RegRoot* out) {
  std::string t(text);
  for (char& c : t) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  if (t == "HKLM" || t == "HKEY_LOCAL_MACHINE") {
    *out = RegRoot::HKLM;
    return true;
  }
  if (t == "HKCU" || t == "HKEY_CURRENT_USER") {
    *out = RegRoot::HKCU;
    return true;
  }
  return false;
}

const char* reg_root_name(RegRoot root) {
  return root == RegRoot::HKLM ? "HKEY_LOCAL_MACHINE" : "HKEY_CURRENT_USER";
}

int reg_create_key(RegRoot root, std::u16string_view key) {
  KeyPath kp;
  if (int rc = normalize_key(key, &kp); rc != kRegOk) return rc;
  std::lock_guard<std::mutex> guard(g_lock);
  if (int rc = open_locked(); rc != kRegOk) return rc;
  WriteTxn txn;
  if (!txn.begin() || !ensure_key(root, kp) || !txn.commit()) return store_fail("cannot create key");
  return kRegOk;
}

int reg_key_exists(RegRoot root, std::u16string_view key) {
  KeyPath kp;
  if (int rc = normalize_key(key, &kp); rc != kRegOk) return rc;
  if (kp.components.empty()) return kRegOk;  // the root itself
  std::lock_guard<std::mutex> guard(g_lock);
  if (int rc = open_locked(Open::kRead); rc != kRegOk) return rc == kStoreAbsent ? fail(kRegNotFound, "no such key") : rc;
  Stmt st;
  if (!st.prepare("SELECT 1 FROM reg_keys WHERE root=?1 AND path_fold=?2")) return store_fail("cannot read");
  st.integer(1, static_cast<int>(root));
  st.text(2, kp.fold_utf8);
  int step = sqlite3_step(st.s);
  if (step == SQLITE_ROW) return kRegOk;
  if (step == SQLITE_DONE) return fail(kRegNotFound, "no such key");
  return store_fail("cannot read");
}

int reg_get_dword(RegRoot root, std::u16string_view key, std::u16string_view name, uint32_t* out) {
  if (out == nullptr) return fail(kRegBadArgument, "no output");
  return read_value(root, key, name, [&](uint32_t type, sqlite3_stmt* s) {
    if (type != kRegDword) return fail(kRegWrongType, "value is not a DWORD");
    *out = static_cast<uint32_t>(sqlite3_column_int64(s, 1));
    return kRegOk;
  });
}

int reg_get_sz(RegRoot root, std::u16string_view key, std::u16string_view name, std::u16string* out) {
  if (out == nullptr) return fail(kRegBadArgument, "no output");
  return read_value(root, key, name, [&](uint32_t type, sqlite3_stmt* s) {
    if (type != kRegSz) return fail(kRegWrongType, "value is not a string");
    *out = sz_from_blob(sqlite3_column_blob(s, 1), sqlite3_column_bytes(s, 1));
    return kRegOk;
  });
}

int reg_get_binary(RegRoot root, std::u16string_view key, std::u16string_view name,
                   std::vector<uint8_t>* out) {
  if (out == nullptr) return fail(kRegBadArgument, "no output");
  return read_value(root, key, name, [&](uint32_t type, sqlite3_stmt* s) {
    if (type != kRegBinary) return fail(kRegWrongType, "value is not binary");
    const auto* p = static_cast<const uint8_t*>(sqlite3_column_blob(s, 1));
    out->assign(p, p + sqlite3_column_bytes(s, 1));
    return kRegOk;
  });
}

int reg_set_dword(RegRoot root, std::u16string_view key, std::u16string_view name, uint32_t value) {
  return write_value(root, key, name, kRegDword, nullptr, 0, value);
}

int reg_set_sz(RegRoot root, std::u16string_view key, std::u16string_view name,
               std::u16string_view value) {
  if (value.size() * 2 > kRegMaxData) return fail(kRegBadArgument, "value data too long");
  std::string blob = sz_to_blob(value);
  return write_value(root, key, name, kRegSz, blob.data(), blob.size(), 0);
}

int reg_set_binary(RegRoot root, std::u16string_view key, std::u16string_view name,
                   const void* data, size_t size) {
  if (data == nullptr && size != 0) return fail(kRegBadArgument, "no data");
  return write_value(root, key, name, kRegBinary, data, size, 0);
}

int reg_delete_value(RegRoot root, std::u16string_view key, std::u16string_view name) {
  KeyPath kp;
  if (int rc = normalize_key(key, &kp); rc != kRegOk) return rc;
  if (int rc = check_name(name); rc != kRegOk) return rc;
  std::lock_guard<std::mutex> guard(g_lock);
  if (int rc = open_locked(Open::kRead); rc != kRegOk) return rc == kStoreAbsent ? fail(kRegNotFound, "no such value") : rc;
  Stmt st;
  if (!st.prepare("DELETE FROM reg_values WHERE root=?1 AND key_fold=?2 AND name_fold=?3"))
    return store_fail("cannot delete");
  st.integer(1, static_cast<int>(root));
  st.text(2, kp.fold_utf8);
  st.text(3, utf16_to_utf8(fold_case(name)));
  if (sqlite3_step(st.s) != SQLITE_DONE) return store_fail("cannot delete");
  if (sqlite3_changes(g_db) == 0) return fail(kRegNotFound, "no such value");
  return kRegOk;
}

int reg_list(RegRoot root, std::u16string_view key, std::vector<RegValue>* out) {
  if (out == nullptr) return fail(kRegBadArgument, "no output");
  std::vector<std::u16string> keys;
  if (int rc = reg_list_keys(root, key, &keys); rc != kRegOk) return rc;
  if (keys.empty()) return kRegOk;
  std::lock_guard<std::mutex> guard(g_lock);
  if (int rc = open_locked(Open::kRead); rc != kRegOk) return rc == kStoreAbsent ? kRegOk : rc;
  Stmt st;
  if (!st.prepare("SELECT name, type, data FROM reg_values WHERE root=?1 AND key_fold=?2 ORDER BY name_fold"))
    return store_fail("cannot list");
  for (const std::u16string& k : keys) {
    st.integer(1, static_cast<int>(root));
    st.text(2, utf16_to_utf8(fold_case(k)));
    int step;
    while ((step = sqlite3_step(st.s)) == SQLITE_ROW) {
      RegValue v;
      v.root = root;
      v.key = k;
      v.name = utf8_to_utf16(st.column_text(0));
      v.type = static_cast<RegType>(sqlite3_column_int64(st.s, 1));
      if (v.type == kRegDword) {
        v.dword = static_cast<uint32_t>(sqlite3_column_int64(st.s, 2));
      } else if (v.type == kRegSz) {
        v.sz = sz_from_blob(sqlite3_column_blob(st.s, 2), sqlite3_column_bytes(st.s, 2));
      } else {
        const auto* p = static_cast<const uint8_t*>(sqlite3_column_blob(st.s, 2));
        v.binary.assign(p, p + sqlite3_column_bytes(st.s, 2));
      }
      out->push_back(std::move(v));
    }
    if (step != SQLITE_DONE) return store_fail("cannot list");
    sqlite3_reset(st.s);
  }
  return kRegOk;
}

int reg_list_keys(RegRoot root, std::u16string_view key, std::vector<std::u16string>* out) {
  if (out == nullptr) return fail(kRegBadArgument, "no output");
  KeyPath kp;
  if (int rc = normalize_key(key, &kp); rc != kRegOk) return rc;
  std::lock_guard<std::mutex> guard(g_lock);
  if (int rc = open_locked(Open::kRead); rc != kRegOk) {
    if (rc != kStoreAbsent) return rc;
    return kp.components.empty() ? kRegOk : fail(kRegNotFound, "no such key");
  }
  Stmt st;
  // Keys equal to the prefix, or below it at a '\' boundary.
  if (!st.prepare("SELECT path FROM reg_keys WHERE root=?1 AND (?2 = '' OR path_fold = ?2 OR"
                  " substr(path_fold, 1, length(?2) + 1) = ?2 || '\\') ORDER BY path_fold"))
    return store_fail("cannot list");
  st.integer(1, static_cast<int>(root));
  st.text(2, kp.fold_utf8);
  int step;
  bool found = kp.components.empty();
  while ((step = sqlite3_step(st.s)) == SQLITE_ROW) {
    out->push_back(utf8_to_utf16(st.column_text(0)));
    found = true;
  }
  if (step != SQLITE_DONE) return store_fail("cannot list");
  if (!found) return fail(kRegNotFound, "no such key");
  return kRegOk;
}

int reg_delete_key(RegRoot root, std::u16string_view key) {
  KeyPath kp;
  if (int rc = normalize_key(key, &kp); rc != kRegOk) return rc;
  if (kp.components.empty()) return fail(kRegBadArgument, "a root cannot be deleted");
  std::lock_guard<std::mutex> guard(g_lock);
  if (int rc = open_locked(Open::kRead); rc != kRegOk) return rc == kStoreAbsent ? fail(kRegNotFound, "no such key") : rc;
  WriteTxn txn;
  if (!txn.begin()) return store_fail("cannot delete");
  // The key itself and every key below it at a '\' boundary, with their values.
  static const char* const kDelete[] = {
      "DELETE FROM reg_values WHERE root=?1 AND (key_fold = ?2 OR substr(key_fold, 1, length(?2) + 1) = ?2 || '\\')",
      "DELETE FROM reg_keys WHERE root=?1 AND (path_fold = ?2 OR substr(path_fold, 1, length(?2) + 1) = ?2 || '\\')",
  };
  for (const char* sql : kDelete) {
    Stmt st;
    if (!st.prepare(sql)) return store_fail("cannot delete");
    st.integer(1, static_cast<int>(root));
    st.text(2, kp.fold_utf8);
    if (sqlite3_step(st.s) != SQLITE_DONE) return store_fail("cannot delete");
  }
  bool deleted = sqlite3_changes(g_db) > 0;
  if (!txn.commit()) return store_fail("cannot commit");
  return deleted ? kRegOk : fail(kRegNotFound, "no such key");
}

std::string reg_last_error() { return t_last_error; }

void reg_close() {
  std::lock_guard<std::mutex> guard(g_lock);
  close_locked();
}

}  // namespace plat
