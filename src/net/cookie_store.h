#pragma once

#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

// The process's cookie store: in memory only, shared by every request and
// every thread. It holds cookies as the Netscape-format lines that libcurl
// reads and writes (CURLOPT_COOKIELIST / CURLINFO_COOKIELIST), so curl keeps
// doing all the parsing and matching; this store only keeps them between
// transfers and hands each transfer the cookies of its own host.
namespace qiv {

class CookieStore {
public:
    // The cookies a transfer to `host` may need: those whose domain is the
    // host itself or one of its parent domains. curl then decides what is
    // sent, so a host-only cookie never reaches another host.
    std::vector<std::string> linesFor(std::string_view host) const;

    // Takes back the cookies of one finished transfer. `loaded` is what the
    // transfer was given, `jar` what it held at its end: cookies it set or
    // changed replace the stored ones, cookies that were loaded but are gone
    // from the jar (deleted or expired by the server) are dropped. Cookies
    // of other transfers running at the same time are left alone.
    void update(const std::vector<std::string>& loaded, const std::vector<std::string>& jar);

    void clear();
    std::vector<std::string> all() const;

    // The identity of a cookie line, "domain\tpath\tname" (domain lower
    // case, a leading "." kept); empty for a line that is not a cookie.
    static std::string keyOf(std::string_view line);
    // The host a cookie line belongs to: its domain without the HttpOnly
    // marker or leading ".", lower case.
    static std::string domainOf(std::string_view line);

private:
    mutable std::mutex mutex_;
    std::map<std::string, std::string> lines_; // keyOf(line) -> line
};

// The one store of the process. It is never destroyed, so a worker that
// outlives main() cannot touch a dead object.
CookieStore& cookieStore();

// Forgets every cookie (tests start from an empty store).
void clearCookies();

} // namespace qiv
