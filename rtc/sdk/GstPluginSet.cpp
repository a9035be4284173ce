#include <gst/gst.h>

#include "rtc/sdk/GstPluginSet.h"

#include <QByteArray>
#include <QFileInfo>
#include <QStringList>

namespace agora {
namespace rtc {

namespace {

// What the relays and the device list make: appsrc, voaacenc, aacparse, flvmux, rtmp2sink and
// the sound server's device provider.
const char* const kPlugins[] = {"app", "voaacenc", "audioparsers", "flv", "rtmp2", "pulseaudio"};
// What only the debug recording makes (wavenc, filesink): loaded when it first starts.
const char* const kRecordingPlugins[] = {"wavenc", "coreelements"};

// A user who sets any of these wants GStreamer's own choice of plugins.
const char* const kUserVariables[] = {"GST_PLUGIN_PATH",       "GST_PLUGIN_PATH_1_0", "GST_PLUGIN_SYSTEM_PATH",
                                      "GST_PLUGIN_SYSTEM_PATH_1_0", "GST_REGISTRY",   "GST_REGISTRY_1_0",
                                      "GST_REGISTRY_DISABLE"};

QString pluginFile(const char* name)
{
#ifdef Q_OS_WIN
    return QStringLiteral(TAVIO_GST_PLUGIN_DIR "/gst%1.dll").arg(QLatin1String(name));
#else
    return QStringLiteral(TAVIO_GST_PLUGIN_DIR "/libgst%1.so").arg(QLatin1String(name));
#endif
}

// Why GStreamer must choose its plugins itself; empty when ours can be loaded alone.
QString reasonForAllPlugins()
{
    for (const char* variable : kUserVariables) {
        if (qEnvironmentVariableIsSet(variable))
            return QStringLiteral("%1 is set").arg(QLatin1String(variable));
    }
    QStringList files;
    for (const char* name : kPlugins)
        files << pluginFile(name);
    for (const char* name : kRecordingPlugins)
        files << pluginFile(name);
    for (const QString& file : files) {
        if (!QFileInfo(file).isFile())
            return QStringLiteral("%1 is missing").arg(file);
    }
    return QString();
}

// The names of those that failed, with GStreamer's reason.
template <std::size_t N>
QStringList load(const char* const (&names)[N])
{
    QStringList failed;
    for (const char* name : names) {
        GError* error = nullptr;
        GstPlugin* plugin = gst_plugin_load_file(pluginFile(name).toUtf8().constData(), &error);
        if (plugin) {
            gst_object_unref(plugin);
        } else {
            failed << QStringLiteral("%1 (%2)").arg(QLatin1String(name),
                                                    QString::fromUtf8(error ? error->message : "unknown error"));
            g_clear_error(&error);
        }
    }
    return failed;
}

struct State
{
    bool ready = false;
    bool onlyOurs = false;
    QString description;
};

State start()
{
    State state;
    const QString reason = reasonForAllPlugins();
    if (!reason.isEmpty()) {
        state.ready = gst_init_check(nullptr, nullptr, nullptr);
        state.description = QStringLiteral("GStreamer with every installed plugin (%1)").arg(reason);
        return state;
    }
    // No registry file read or written (the user's shared one stays as it is), no plugin
    // folder scanned; GStreamer reads both variables only while it starts.
    qputenv("GST_REGISTRY_DISABLE", QByteArrayLiteral("yes"));
    qputenv("GST_PLUGIN_SYSTEM_PATH_1_0", QByteArray());
    state.ready = gst_init_check(nullptr, nullptr, nullptr);
    // Programs started from here must find GStreamer as the user set it up.
    qunsetenv("GST_REGISTRY_DISABLE");
    qunsetenv("GST_PLUGIN_SYSTEM_PATH_1_0");
    if (!state.ready)
        return state;
    state.onlyOurs = true;
    const QStringList failed = load(kPlugins);
    state.description = QStringLiteral("GStreamer with only the plugins the SDK uses");
    if (!failed.isEmpty())
        state.description += QStringLiteral("; not loaded: %1").arg(failed.join(QStringLiteral(", ")));
    return state;
}

const State& state()
{
    static const State started = start();
    return started;
}

} // namespace

bool GstPluginSet::initialize()
{
    return state().ready;
}

QString GstPluginSet::initializeRecording()
{
    if (!state().ready)
        return QStringLiteral("GStreamer is not available");
    static const QStringList failed = state().onlyOurs ? load(kRecordingPlugins) : QStringList();
    return failed.isEmpty() ? QString() : QStringLiteral("not loaded: %1").arg(failed.join(QStringLiteral(", ")));
}

QString GstPluginSet::description()
{
    return state().description;
}

} // namespace rtc
} // namespace agora
