#include "follow/notifier.h"

#include <gio/gio.h>

#include <cstdlib>
#include <memory>

namespace qiv::follow {

namespace {

constexpr char kName[] = "org.freedesktop.Notifications";
// Each call on the bus is bounded.
constexpr int kCallMs = 5000;

struct Unref {
    void operator()(gpointer object) const { g_object_unref(object); }
};
using Connection = std::unique_ptr<GDBusConnection, Unref>;

// The session bus of the environment: never one launched for the asking.
Connection sessionBus()
{
    std::string address;
    if (const char* given = std::getenv("DBUS_SESSION_BUS_ADDRESS"); given && *given) {
        address = given;
    } else if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime) {
        const std::string socket = std::string(runtime) + "/bus";
        if (g_file_test(socket.c_str(), G_FILE_TEST_EXISTS))
            address = "unix:path=" + socket;
    }
    if (address.empty() || address.starts_with("autolaunch:"))
        return {};
    GError* error = nullptr;
    GDBusConnection* bus = g_dbus_connection_new_for_address_sync(
        address.c_str(),
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, &error);
    g_clear_error(&error);
    return Connection(bus);
}

// A call to the bus itself; nothing when it fails.
GVariant* askBus(GDBusConnection* bus, const char* method, GVariant* args, const char* type)
{
    return g_dbus_connection_call_sync(bus, "org.freedesktop.DBus", "/org/freedesktop/DBus",
                                       "org.freedesktop.DBus", method, args, G_VARIANT_TYPE(type),
                                       G_DBUS_CALL_FLAGS_NONE, kCallMs, nullptr, nullptr);
}

bool hasServer(GDBusConnection* bus)
{
    gboolean owned = false;
    if (GVariant* reply = askBus(bus, "NameHasOwner", g_variant_new("(s)", kName), "(b)")) {
        g_variant_get(reply, "(b)", &owned);
        g_variant_unref(reply);
    }
    if (owned)
        return true;
    bool activatable = false;
    if (GVariant* reply = askBus(bus, "ListActivatableNames", nullptr, "(as)")) {
        GVariantIter* names = nullptr;
        g_variant_get(reply, "(as)", &names);
        for (const gchar* name = nullptr; g_variant_iter_loop(names, "&s", &name);)
            activatable = activatable || g_str_equal(name, kName);
        g_variant_iter_free(names);
        g_variant_unref(reply);
    }
    return activatable;
}

// A text some servers read as markup, shown as written: only what would
// start markup is escaped, so that a server without markup shows little
// of it.
std::string plain(const std::string& text)
{
    std::string out;
    for (char c : text)
        out += c == '&' ? "&amp;" : c == '<' ? "&lt;" : c == '>' ? "&gt;" : std::string(1, c);
    return out;
}

std::string orNone(const std::string& text)
{
    return text.empty() ? "（无）" : text;
}

} // namespace

std::optional<Notice> noticeFor(const EventFacts& f)
{
    const std::string& d = f.domain;
    if (f.event == "changed")
        return Notice{d + "：转发目标已更新", "公网 IP 变为 " + f.ip + "，转发目标已由 " +
                                                  orNone(f.oldTarget) + " 改为 " + f.newTarget +
                                                  "，重新登录核对无误。无需操作。"};
    if (f.event == "refused")
        return Notice{d + "：登录被拒绝",
                      "服务拒绝了 " + d +
                          " 的登录（密码错误，或域名未注册），转发目标未改动。请改正密码文件或"
                          "钥匙环中的密码；密码文件一改即重试，否则执行 systemctl --user reload "
                          "qiv-follow。"};
    if (f.event == "not-read")
        return Notice{d + "：账户页未能完整读取",
                      "未做任何修改：" + f.message +
                          "\n请用 qiv-forward 登录该域名，检查并修正账户资料。"};
    if (f.event == "not-verified")
        return Notice{d + "：修改未能核对",
                      "已把转发目标改为 " + orNone(f.newTarget) + "，但重新登录后所见与所发不符：" +
                          f.message + "\n请用 qiv-forward 登录该域名，检查转发目标和其余资料。"};
    if (f.event == "bad-ip")
        return Notice{d + "：没有可用的公网 IP",
                      "IP 查询页没有给出可以转发的地址，转发目标未改动：" + f.message +
                          "\n请检查网络连接，或用 ip-url 指定其他 IP 查询页。"};
    return {};
}

bool showNotice(const Notice& notice, std::string* error)
{
    error->clear();
    const Connection bus = sessionBus();
    if (!bus || !hasServer(bus.get()))
        return false;
    GVariantBuilder actions, hints;
    g_variant_builder_init(&actions, G_VARIANT_TYPE("as"));
    g_variant_builder_init(&hints, G_VARIANT_TYPE("a{sv}"));
    GError* failure = nullptr;
    GVariant* reply = g_dbus_connection_call_sync(
        bus.get(), kName, "/org/freedesktop/Notifications", kName, "Notify",
        g_variant_new("(susssasa{sv}i)", "qiv-follow", 0u, "network-transmit",
                      plain(notice.summary).c_str(), plain(notice.body).c_str(), &actions, &hints,
                      -1),
        G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, kCallMs, nullptr, &failure);
    if (!reply) {
        *error = failure ? failure->message : "no reply";
        g_clear_error(&failure);
        return false;
    }
    g_variant_unref(reply);
    return true;
}

} // namespace qiv::follow
