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
    // A server may set cookies freely, and a redirect can reach any host, so
    // the store is bounded, per host and in bytes. The hosts the program
    // itself talks to (service, IP lookup, advertisements) are protected:
    // each has a byte budget of its own that no other host can take from,
    // so a flood from one of them or from a redirect target never pushes
    // out the service's session cookie. All other hosts share one budget.
    // A host over its share loses its own oldest cookies first; in the
    // shared budget, the host holding the most of it does. The service
    // itself sets a handful per host.
    static constexpr size_t maxCookiesPerHost = 50;
    // curl makes no line longer than about 5000 bytes; a longer one is not
    // a cookie curl would send, and is not kept.
    static constexpr size_t maxLineBytes = 8 * 1024;
    // Two of the longest lines, or 50 cookies of the 300 bytes a session
    // cookie rarely exceeds.
    static constexpr size_t protectedHostBytes = 16 * 1024;
    static constexpr size_t maxProtectedHosts = 3;
    // Redirect targets and any other host together: a few hosts' sessions.
    static constexpr size_t sharedBytes = 32 * 1024;
    // 80 KiB at most, whatever the servers send.
    static constexpr size_t maxTotalBytes = maxProtectedHosts * protectedHostBytes + sharedBytes;
    static_assert(maxLineBytes <= protectedHostBytes && maxLineBytes <= sharedBytes,
                  "every line the store takes fits its budget");

    CookieStore() = default;
    // `protectedHosts`: each "host" or "host:port"; the host part counts, as
    // a cookie's domain carries no port. Only a cookie whose domain is that
    // host is protected, not one set for a parent domain. The first
    // maxProtectedHosts distinct hosts are taken.
    explicit CookieStore(const std::vector<std::string>& protectedHosts);

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
        std::string domain; // domainOf(line)
        uint64_t age;       // order of setting; smaller is older
    };
    // The cookies of one domain, oldest first, and their bytes.
    struct Domain {
        std::map<uint64_t, std::string> keysByAge;
        size_t bytes = 0;
    };
    void erase(const std::string& key);
    void evictOldest(const std::string& domain);
    size_t countOf(const std::string& domain) const;
    size_t bytesOf(const std::string& domain) const;
    // The unprotected domain holding the most bytes; of two, the one with
    // the older cookie.
    std::string largestShared() const;
    bool isProtected(const std::string& domain) const;

    // Fixed at construction, read without the lock.
    std::vector<std::string> protected_;
    mutable std::mutex mutex_;
    std::map<std::string, Entry> lines_;    // keyOf(line) -> entry
    std::map<std::string, Domain> domains_; // domain -> its cookies; none empty
    uint64_t nextAge_ = 0;
    size_t sharedBytes_ = 0; // of the unprotected domains
};

} // namespace qiv
