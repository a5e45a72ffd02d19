#pragma once

#include <cstddef>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

struct sqlite3;

namespace qiv::devserver {

// One registered domain. Every text is kept as the GBK bytes the client
// sent (after form decoding), never re-encoded.
struct Account {
    std::string name;   // first label of the domain
    std::string suffix; // one of the served suffixes
    std::string password;
    std::string title;
    std::string sendUrl;
    bool hide = false; // forwarding hides the real address
    std::string email;
    std::string regName;
    std::string linkTel;
    std::string address;

    bool operator==(const Account&) const = default;
};

// The accounts, in SQLite: a file when a path is given, otherwise an
// in-memory database, so both modes run the same code. Thread-safe.
class AccountStore {
public:
    AccountStore() = default;
    ~AccountStore();
    AccountStore(const AccountStore&) = delete;
    AccountStore& operator=(const AccountStore&) = delete;

    // Opens (and creates the table of) the database; an empty path means in
    // memory. On failure returns false and describes why in *error.
    bool open(const std::string& path, std::string* error);
    bool isOpen() const;
    void close();

    std::optional<Account> find(std::string_view name, std::string_view suffix) const;
    // Fails when the name is already taken under that suffix.
    bool insert(const Account& account);
    // Replaces the account with the same name and suffix; false when absent.
    bool update(const Account& account);
    bool remove(std::string_view name, std::string_view suffix);
    std::size_t count() const;

private:
    mutable std::mutex mutex_;
    sqlite3* db_ = nullptr;
};

} // namespace qiv::devserver
