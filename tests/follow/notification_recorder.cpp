// A stand-in notification server for the tests: owns
// org.freedesktop.Notifications on the session bus and appends each
// Notify call to the file given, "summary<TAB>body" a line. The file
// FILE.ready appears once the name is owned.
#include <gio/gio.h>

#include <cstdio>
#include <string>

namespace {

const char kInterface[] = R"(<node>
  <interface name="org.freedesktop.Notifications">
    <method name="Notify">
      <arg type="s" direction="in"/><arg type="u" direction="in"/>
      <arg type="s" direction="in"/><arg type="s" direction="in"/>
      <arg type="s" direction="in"/><arg type="as" direction="in"/>
      <arg type="a{sv}" direction="in"/><arg type="i" direction="in"/>
      <arg type="u" direction="out"/>
    </method>
  </interface>
</node>)";

std::string file;
guint32 calls = 0;

void onCall(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* method,
            GVariant* args, GDBusMethodInvocation* invocation, gpointer)
{
    if (g_strcmp0(method, "Notify") != 0) {
        g_dbus_method_invocation_return_dbus_error(invocation, "org.example.Unknown", method);
        return;
    }
    const gchar *app = nullptr, *summary = nullptr, *body = nullptr;
    g_variant_get_child(args, 0, "&s", &app);
    g_variant_get_child(args, 3, "&s", &summary);
    g_variant_get_child(args, 4, "&s", &body);
    if (std::FILE* out = std::fopen(file.c_str(), "a")) {
        std::fprintf(out, "%s\t%s\t%s\n", app, summary, body);
        std::fclose(out);
    }
    g_dbus_method_invocation_return_value(invocation, g_variant_new("(u)", ++calls));
}

void onBus(GDBusConnection* bus, const gchar*, gpointer)
{
    static const GDBusInterfaceVTable table{onCall, nullptr, nullptr, {}};
    GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(kInterface, nullptr);
    g_dbus_connection_register_object(bus, "/org/freedesktop/Notifications", node->interfaces[0],
                                      &table, nullptr, nullptr, nullptr);
    g_dbus_node_info_unref(node);
}

void onName(GDBusConnection*, const gchar*, gpointer)
{
    if (std::FILE* ready = std::fopen((file + ".ready").c_str(), "w"))
        std::fclose(ready);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2)
        return 2;
    file = argv[1];
    g_bus_own_name(G_BUS_TYPE_SESSION, "org.freedesktop.Notifications", G_BUS_NAME_OWNER_FLAGS_NONE,
                   onBus, onName, nullptr, nullptr, nullptr);
    g_main_loop_run(g_main_loop_new(nullptr, false));
}
