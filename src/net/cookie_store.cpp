#include "net/cookie_store.h"

#include <set>

namespace qiv {
namespace {

constexpr std::string_view httpOnlyMarker = "#HttpOnly_";

std::string lower(std::string_view text)
{
    std::string result(text);
    for (char& c : result) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return result;
}

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

} // namespace

std::string CookieStore::keyOf(std::string_view line)
{
    std::vector<std::string_view> f = fields(line);
    if (f.size() < 7 || f[0].empty())
        return {};
    std::string key = lower(f[0]);
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
    return lower(domain);
}

std::vector<std::string> CookieStore::linesFor(std::string_view host) const
{
    std::string wanted = lower(host);
    std::vector<std::string> result;
    std::lock_guard lock(mutex_);
    for (const auto& [key, line] : lines_) {
        std::string domain = domainOf(line);
        bool match = domain == wanted || (wanted.size() > domain.size() && !domain.empty() &&
                                          wanted.ends_with("." + domain));
        if (match)
            result.push_back(line);
    }
    return result;
}

void CookieStore::update(const std::vector<std::string>& loaded,
                         const std::vector<std::string>& jar)
{
    std::set<std::string> kept;
    for (const std::string& line : jar) {
        std::string key = keyOf(line);
        if (!key.empty())
            kept.insert(key);
    }
    std::lock_guard lock(mutex_);
    for (const std::string& line : loaded) {
        std::string key = keyOf(line);
        if (!key.empty() && !kept.contains(key))
            lines_.erase(key);
    }
    for (const std::string& line : jar) {
        std::string key = keyOf(line);
        if (!key.empty())
            lines_[key] = line;
    }
}

void CookieStore::clear()
{
    std::lock_guard lock(mutex_);
    lines_.clear();
}

std::vector<std::string> CookieStore::all() const
{
    std::lock_guard lock(mutex_);
    std::vector<std::string> result;
    for (const auto& [key, line] : lines_)
        result.push_back(line);
    return result;
}

CookieStore& cookieStore()
{
    static CookieStore* store = new CookieStore;
    return *store;
}

void clearCookies()
{
    cookieStore().clear();
}

} // namespace qiv
