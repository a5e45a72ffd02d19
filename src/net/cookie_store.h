#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

// The program's cookie store (one per Network): in memory only, shared by
// every request and every thread. It holds cookies as the Netscape-format
// lines that libcurl reads and writes (CURLOPT_COOKIELIST /
// CURLINFO_COOKIELIST), so curl keeps doing all the parsing and matching;
// this store only keeps them between transfers and hands each transfer the
// cookies of its own host.
namespace qiv {

// What one exchange did to the cookies: the lines its servers set or
// changed and the cookies they deleted. Lines a transfer was given and
// still holds unchanged are no change, so a transfer that ends late never
// writes back a value another transfer has replaced meanwhile.
struct CookieChanges {
    std::vector<std::string> set;     // whole lines
    std::vector<std::string> deleted; // keyOf() of each deleted cookie

    // Adds the difference between what a transfer was given (`loaded`) and
    // what it held at its end (`jar`).
    void add(const std::vector<std::string>& loaded, const std::vector<std::string>& jar);
};

class CookieStore {
public:
    // A server may set cookies freely, so the store is bounded; the cookies
    // set longest ago go first. The service itself sets a handful per host.
    static constexpr size_t maxCookiesPerHost = 50;
    static constexpr size_t maxTotalBytes = 64 * 1024;
    // curl makes no line longer than about 5000 bytes; a longer one is not
    // a cookie curl would send, and is not kept.
    static constexpr size_t maxLineBytes = 8 * 1024;

    // The cookies a transfer to `host` may need: those whose domain is the
    // host itself or one of its parent domains. curl then decides what is
    // sent, so a host-only cookie never reaches another host.
    std::vector<std::string> linesFor(std::string_view host) const;

    // Stores what one exchange did, in one step.
    void apply(const CookieChanges& changes);
    // apply() of the difference between `loaded` and `jar` (CookieChanges::add).
    void update(const std::vector<std::string>& loaded, const std::vector<std::string>& jar);

    void clear();
    std::vector<std::string> all() const;

    // The identity of a cookie line, "domain\tpath\tname" (domain lower
    // case, a leading "." kept); empty for a line that is not a cookie.
    static std::string keyOf(std::string_view line);
    // The host a cookie line belongs to: its domain without the HttpOnly
    // marker or leading ".", lower case.
    static std::string domainOf(std::string_view line);
    // True when a request to `host` may carry the cookie of `line` (its
    // domain is the host or a parent domain of it), which is also when the
    // host may have set it.
    static bool belongsTo(std::string_view line, std::string_view host);

private:
    struct Entry {
        std::string line;
        uint64_t age; // order of setting; smaller is older
    };
    void erase(const std::string& key);
    void evictOldest(const std::string& domain); // empty: of any domain

    mutable std::mutex mutex_;
    std::map<std::string, Entry> lines_;   // keyOf(line) -> entry
    std::map<uint64_t, std::string> ages_; // age -> key, oldest first
    uint64_t nextAge_ = 0;
    size_t totalBytes_ = 0;
};

} // namespace qiv
