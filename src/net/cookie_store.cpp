#include "net/cookie_store.h"

#include "text/text.h"
#include "text/url.h"

#include <algorithm>
#include <ctime>
#include <set>

namespace qiv {
namespace {

constexpr std::string_view httpOnlyMarker = "#HttpOnly_";

// Splits a Netscape cookie line into its tab-separated fields: domain,
// include-subdomains flag, path, secure, expiry, name, value.
std::vector<std::string_view> fields(std::string_view line)
{
    if (line.starts_with(httpOnlyMarker))
        line.remove_prefix(httpOnlyMarker.size());
    std::vector<std::string_view> result;
    while (true) {
        size_t tab = line.find('\t');
        result.push_back(line.substr(0, tab));
        if (tab == std::string_view::npos)
            break;
        line.remove_prefix(tab + 1);
    }
    return result;
}

// curl keeps a cookie the server has just deleted (Max-Age=0, an expiry
// in the past) in its jar, with an expiry in the past, until it purges.
bool expired(std::string_view line)
{
    std::vector<std::string_view> f = fields(line);
    if (f.size() < 7)
        return false;
    long long expiry = 0;
    for (char c : f[4].substr(0, 18)) {
        if (c < '0' || c > '9')
            return false;
        expiry = expiry * 10 + (c - '0');
    }
    return expiry != 0 && expiry <= static_cast<long long>(std::time(nullptr));
}

} // namespace

std::string CookieStore::keyOf(std::string_view line)
{
    std::vector<std::string_view> f = fields(line);
    if (f.size() < 7 || f[0].empty())
        return {};
    std::string key = asciiLower(f[0]);
    key += '\t';
    key += f[2];
    key += '\t';
    key += f[5];
    return key;
}

std::string CookieStore::domainOf(std::string_view line)
{
    std::string_view domain = fields(line).front();
    if (domain.starts_with('.'))
        domain.remove_prefix(1);
    return asciiLower(domain);
}

bool CookieStore::belongsTo(std::string_view line, std::string_view host)
{
    const std::string wanted = asciiLower(host);
    const std::string domain = domainOf(line);
    return !domain.empty() &&
           (domain == wanted || (wanted.size() > domain.size() && wanted.ends_with("." + domain)));
}

std::vector<std::string> CookieStore::linesFor(std::string_view host) const
{
    std::vector<std::string> result;
    std::lock_guard lock(mutex_);
    for (const auto& [key, entry] : lines_) {
        if (belongsTo(entry.line, host))
            result.push_back(entry.line);
    }
    return result;
}

void CookieChanges::add(const std::vector<std::string>& loaded, const std::vector<std::string>& jar)
{
    std::set<std::string> given(loaded.begin(), loaded.end());
    std::set<std::string> kept;
    for (const std::string& line : jar) {
        std::string key = CookieStore::keyOf(line);
        if (key.empty() || expired(line))
            continue;
        kept.insert(key);
        if (!given.contains(line))
            set.push_back(line);
    }
    for (const std::string& line : loaded) {
        std::string key = CookieStore::keyOf(line);
        if (!key.empty() && !kept.contains(key))
            deleted.push_back(std::move(key));
    }
}

CookieStore::CookieStore(const std::vector<std::string>& protectedHosts)
{
    for (const std::string& hostPort : protectedHosts) {
        std::string host = urlHost(hostPort);
        if (!host.empty() && protected_.size() < maxProtectedHosts && !isProtected(host))
            protected_.push_back(std::move(host));
    }
}

bool CookieStore::isProtected(const std::string& domain) const
{
    return std::find(protected_.begin(), protected_.end(), domain) != protected_.end();
}

void CookieStore::erase(const std::string& key)
{
    auto found = lines_.find(key);
    if (found == lines_.end())
        return;
    const Entry& entry = found->second;
    auto domain = domains_.find(entry.domain);
    domain->second.bytes -= entry.line.size();
    domain->second.keysByAge.erase(entry.age);
    if (!isProtected(entry.domain))
        sharedBytes_ -= entry.line.size();
    if (domain->second.keysByAge.empty())
        domains_.erase(domain);
    lines_.erase(found);
}

size_t CookieStore::countOf(const std::string& domain) const
{
    auto found = domains_.find(domain);
    return found == domains_.end() ? 0 : found->second.keysByAge.size();
}

size_t CookieStore::bytesOf(const std::string& domain) const
{
    auto found = domains_.find(domain);
    return found == domains_.end() ? 0 : found->second.bytes;
}

void CookieStore::evictOldest(const std::string& domain)
{
    auto found = domains_.find(domain);
    if (found != domains_.end())
        erase(std::string(found->second.keysByAge.begin()->second));
}

std::string CookieStore::largestShared() const
{
    const std::pair<const std::string, Domain>* largest = nullptr;
    for (const auto& candidate : domains_) {
        if (isProtected(candidate.first))
            continue;
        if (largest == nullptr || candidate.second.bytes > largest->second.bytes ||
            (candidate.second.bytes == largest->second.bytes &&
             candidate.second.keysByAge.begin()->first < largest->second.keysByAge.begin()->first))
            largest = &candidate;
    }
    return largest == nullptr ? std::string() : largest->first;
}

void CookieStore::apply(const CookieChanges& changes)
{
    std::lock_guard lock(mutex_);
    for (const std::string& key : changes.deleted)
        erase(key);
    for (const std::string& line : changes.set) {
        std::string key = keyOf(line);
        if (key.empty() || line.size() > maxLineBytes)
            continue;
        erase(key);
        std::string domain = domainOf(line);
        // A host over its count loses its own oldest. For room in bytes a
        // protected host gives up only cookies of its own, the others those
        // of whichever holds the most of their shared budget. Each line the
        // store takes fits an empty budget, so these loops end.
        while (countOf(domain) >= maxCookiesPerHost)
            evictOldest(domain);
        if (isProtected(domain)) {
            while (bytesOf(domain) + line.size() > protectedHostBytes)
                evictOldest(domain);
        } else {
            while (sharedBytes_ + line.size() > sharedBytes)
                evictOldest(largestShared());
            sharedBytes_ += line.size();
        }
        const uint64_t age = nextAge_++;
        Domain& own = domains_[domain];
        own.keysByAge[age] = key;
        own.bytes += line.size();
        lines_[std::move(key)] = Entry{line, std::move(domain), age};
    }
}

void CookieStore::update(const std::vector<std::string>& loaded,
                         const std::vector<std::string>& jar)
{
    CookieChanges changes;
    changes.add(loaded, jar);
    apply(changes);
}

void CookieStore::clear()
{
    std::lock_guard lock(mutex_);
    lines_.clear();
    domains_.clear();
    sharedBytes_ = 0;
}

std::vector<std::string> CookieStore::all() const
{
    std::lock_guard lock(mutex_);
    std::vector<std::string> result;
    for (const auto& [key, entry] : lines_)
        result.push_back(entry.line);
    return result;
}

} // namespace qiv
