#include "devserver/account_store.h"

#include <sqlite3.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace qiv::devserver {
namespace {

// A prepared statement that finalizes itself.
class Statement {
public:
    Statement(sqlite3* db, const char* sql)
    {
        if (sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr) != SQLITE_OK)
            stmt_ = nullptr;
    }
    ~Statement() { sqlite3_finalize(stmt_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    bool ok() const { return stmt_ != nullptr; }
    sqlite3_stmt* get() const { return stmt_; }

    // Texts are bound as blobs: they are GBK bytes, not UTF-8.
    void bind(int index, std::string_view bytes)
    {
        // A null pointer would bind NULL; an empty text is an empty blob.
        const char* data = bytes.data() != nullptr ? bytes.data() : "";
        sqlite3_bind_blob(stmt_, index, data, static_cast<int>(bytes.size()), SQLITE_TRANSIENT);
    }
    void bind(int index, int value) { sqlite3_bind_int(stmt_, index, value); }

    std::string column(int index) const
    {
        const void* data = sqlite3_column_blob(stmt_, index);
        const int size = sqlite3_column_bytes(stmt_, index);
        if (data == nullptr || size <= 0)
            return std::string();
        return std::string(static_cast<const char*>(data), static_cast<size_t>(size));
    }

private:
    sqlite3_stmt* stmt_ = nullptr;
};

const char* const kCreateTable = "CREATE TABLE IF NOT EXISTS accounts ("
                                 " name BLOB NOT NULL,"
                                 " suffix BLOB NOT NULL,"
                                 " password BLOB NOT NULL,"
                                 " title BLOB NOT NULL,"
                                 " send_url BLOB NOT NULL,"
                                 " hide INTEGER NOT NULL,"
                                 " email BLOB NOT NULL,"
                                 " reg_name BLOB NOT NULL,"
                                 " link_tel BLOB NOT NULL,"
                                 " address BLOB NOT NULL,"
                                 " PRIMARY KEY (name, suffix))";

void bindFields(Statement& st, const Account& a)
{
    st.bind(1, a.name);
    st.bind(2, a.suffix);
    st.bind(3, a.password);
    st.bind(4, a.title);
    st.bind(5, a.sendUrl);
    st.bind(6, a.hide ? 1 : 0);
    st.bind(7, a.email);
    st.bind(8, a.regName);
    st.bind(9, a.linkTel);
    st.bind(10, a.address);
}

} // namespace

AccountStore::~AccountStore()
{
    close();
}

bool AccountStore::open(const std::string& path, std::string* error)
{
    std::lock_guard lock(mutex_);
    if (db_ != nullptr)
        return true;
    const std::string target = path.empty() ? std::string(":memory:") : path;
    // The file holds passwords: it is made (or set) readable by its owner
    // only before SQLite opens it; SQLite gives its journal and WAL files
    // the database file's mode.
    if (!path.empty()) {
        const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd < 0 || ::fchmod(fd, 0600) != 0) {
            const int err = errno;
            if (fd >= 0)
                ::close(fd);
            if (error != nullptr)
                *error = "cannot open database " + target + ": " + std::strerror(err);
            return false;
        }
        ::close(fd);
    }
    const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX;
    if (sqlite3_open_v2(target.c_str(), &db_, flags, nullptr) != SQLITE_OK) {
        if (error != nullptr)
            *error = "cannot open database " + target + ": " +
                     (db_ != nullptr ? sqlite3_errmsg(db_) : "out of memory");
        sqlite3_close(db_);
        db_ = nullptr;
        return false;
    }
    char* message = nullptr;
    if (sqlite3_exec(db_, kCreateTable, nullptr, nullptr, &message) != SQLITE_OK) {
        if (error != nullptr)
            *error = "cannot use database " + target + ": " +
                     (message != nullptr ? message : "unknown error");
        sqlite3_free(message);
        sqlite3_close(db_);
        db_ = nullptr;
        return false;
    }
    return true;
}

bool AccountStore::isOpen() const
{
    std::lock_guard lock(mutex_);
    return db_ != nullptr;
}

void AccountStore::close()
{
    std::lock_guard lock(mutex_);
    if (db_ != nullptr)
        sqlite3_close(db_);
    db_ = nullptr;
}

std::optional<Account> AccountStore::find(std::string_view name, std::string_view suffix) const
{
    std::lock_guard lock(mutex_);
    if (db_ == nullptr)
        return std::nullopt;
    Statement st(db_, "SELECT name, suffix, password, title, send_url, hide, email, reg_name,"
                      " link_tel, address FROM accounts WHERE name = ?1 AND suffix = ?2");
    if (!st.ok())
        return std::nullopt;
    st.bind(1, name);
    st.bind(2, suffix);
    if (sqlite3_step(st.get()) != SQLITE_ROW)
        return std::nullopt;
    Account a;
    a.name = st.column(0);
    a.suffix = st.column(1);
    a.password = st.column(2);
    a.title = st.column(3);
    a.sendUrl = st.column(4);
    a.hide = sqlite3_column_int(st.get(), 5) != 0;
    a.email = st.column(6);
    a.regName = st.column(7);
    a.linkTel = st.column(8);
    a.address = st.column(9);
    return a;
}

bool AccountStore::insert(const Account& account)
{
    std::lock_guard lock(mutex_);
    if (db_ == nullptr)
        return false;
    Statement st(db_, "INSERT INTO accounts (name, suffix, password, title, send_url, hide,"
                      " email, reg_name, link_tel, address)"
                      " VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10)");
    if (!st.ok())
        return false;
    bindFields(st, account);
    return sqlite3_step(st.get()) == SQLITE_DONE;
}

bool AccountStore::update(const Account& account)
{
    std::lock_guard lock(mutex_);
    if (db_ == nullptr)
        return false;
    Statement st(db_, "UPDATE accounts SET password = ?3, title = ?4, send_url = ?5, hide = ?6,"
                      " email = ?7, reg_name = ?8, link_tel = ?9, address = ?10"
                      " WHERE name = ?1 AND suffix = ?2");
    if (!st.ok())
        return false;
    bindFields(st, account);
    return sqlite3_step(st.get()) == SQLITE_DONE && sqlite3_changes(db_) == 1;
}

bool AccountStore::remove(std::string_view name, std::string_view suffix)
{
    std::lock_guard lock(mutex_);
    if (db_ == nullptr)
        return false;
    Statement st(db_, "DELETE FROM accounts WHERE name = ?1 AND suffix = ?2");
    if (!st.ok())
        return false;
    st.bind(1, name);
    st.bind(2, suffix);
    return sqlite3_step(st.get()) == SQLITE_DONE && sqlite3_changes(db_) == 1;
}

std::size_t AccountStore::count() const
{
    std::lock_guard lock(mutex_);
    if (db_ == nullptr)
        return 0;
    Statement st(db_, "SELECT COUNT(*) FROM accounts");
    if (!st.ok() || sqlite3_step(st.get()) != SQLITE_ROW)
        return 0;
    return static_cast<std::size_t>(sqlite3_column_int64(st.get(), 0));
}

} // namespace qiv::devserver
