// The table of the plug-ins that hound knows.
#include "host/known_plugins.h"

const std::vector<KnownPlugin>& KnownPlugins() {
    static const std::vector<KnownPlugin> plugins = {
        {"jpeghound",
         "JPEG images of every kind the JPEG standard defines but hierarchical ones, read strictly", true,
         "", StrictJpegFilter, false, {"jpeg"}},
        {"formathound",
         "audio and video files (MP4, MOV, Matroska, Ogg, FLAC, AVI, MPEG, MP3 and more), walked to their end",
         true, "", FormatMagicFilter, false, {}},
        {"markhound", "the signatures in signs.ini", true, "", nullptr, true, {"zip"}},
        {"photohound", "baseline JPEG images, read leniently", false,
         "its lenient walk claims spans that hide the items behind them", JpegFilter, false, {"jpeg"}},
    };
    return plugins;
}

const KnownPlugin* FindKnownPlugin(std::string_view name) {
    for (const KnownPlugin& plugin : KnownPlugins()) {
        if (name == plugin.name) return &plugin;
    }
    return nullptr;
}

std::string SignaturePluginName() {
    for (const KnownPlugin& plugin : KnownPlugins()) {
        if (plugin.reads_signatures) return plugin.name;
    }
    return "";
}

std::string DefaultOrder() {
    std::string order;
    for (const KnownPlugin& plugin : KnownPlugins()) {
        if (plugin.in_default_order) order += (order.empty() ? "" : ",") + std::string(plugin.name);
    }
    return order;
}
