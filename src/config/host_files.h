#pragma once

#include "config/hosts.h"

#include <string>
#include <vector>

// Where each host of a run comes from. The sources, first wins: the options,
// an account's follow config (qiv-follow), the user's hosts.conf, the
// system's, the hosts built in.
namespace qiv::config {

// Host values with, for each, where it was set: an option's name, a file's
// path or "built in". An empty value is one not set there.
struct SourcedHosts {
    Hosts value;
    Hosts from;
};

// The file keys of the three hosts, in the order of kHostOptions.
inline constexpr const char* kHostKeys[] = {"service-host", "ip-host", "ad-host"};

// The option whose file key is `key`; null when there is none.
const HostOption* hostOptionForKey(std::string_view key);

// The hosts built in, from "built in"; a package build may have none (the
// tests make it so with QIV_HOSTS_NONE_BUILT_IN=1).
SourcedHosts builtInSourcedHosts();

// $XDG_CONFIG_HOME/qiv-forward/hosts.conf, or under ~/.config.
std::string userHostsFilePath();
// /etc/qiv-forward/hosts.conf (the tests name another in
// QIV_HOSTS_SYSTEM_FILE).
std::string systemHostsFilePath();

// $variable when it holds an absolute path, else ~/`underHome`: the XDG base
// folders (XDG_CONFIG_HOME and .config, XDG_STATE_HOME and .local/state).
std::string xdgDirectory(const char* variable, const char* underHome);

// Reads a hosts file's lines into `layer`, each value from `path`: key =
// value, '#' comments and blank lines; the last line of a key wins. A file
// that does not exist sets nothing. Returns the message for the user when
// the file is refused: one others can write, owned by neither root nor this
// user, not a regular file, too large, or a bad line ("path:line: ...").
std::string readHostsFile(const std::string& path, SourcedHosts* layer);

// One "key = value" of a hosts key into `layer`, from `where`; the message
// for the user when the value is no host.
std::string setHostKey(SourcedHosts* layer, const HostOption& option, const std::string& value,
                       const std::string& where);

// Per host, the first layer that sets it; both empty when none does.
SourcedHosts layered(const std::vector<const SourcedHosts*>& layers);

// The user's file over the system's over the built-in hosts, or the message
// of the first file refused.
std::string hostsBelowOptions(SourcedHosts* hosts);

// The words of both programs when no layer gives a service host.
std::string noServiceHostMessage();

// "HOST (from SOURCE)" or "none set", for the help texts.
std::string shownHost(const SourcedHosts& hosts, std::string Hosts::*host);

// The help texts' paragraph on the hosts: the files, their order, and the
// value of each host that applies now with its source.
std::string hostsHelp(const SourcedHosts& hosts);

} // namespace qiv::config
