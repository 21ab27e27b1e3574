// The single-valued keys of settings.inf, each named once, in the order the file
// holds them. A row gives the key and its form (setting_forms.h: type, default,
// limits). The key's name is also where its value lives: the field of
// CSettingsFileValues and the accessor pair Name()/SetName() of Settings. Reading,
// writing, merging and the accessors are all made from this table.
//
// The keys that stand on several lines are not rows here: "Device=<id>:<name>"
// lines come before these keys, "WebDir=..." lines after them (settings_file.h).
#pragma once

#include <type_traits>

#include "server/config/setting_forms.h"

// KEY(Name, form)
#define CORVEL_SETTINGS_KEYS(KEY)                                                                 \
    /* The folder the web server serves files from. */                                            \
    KEY(WebBaseDir, TextSetting{})                                                                \
    KEY(AnswerWeb, NumberSetting{})                                                               \
    KEY(TraceXML, SwitchSetting{.initial = true})                                                 \
    KEY(TraceWEB, SwitchSetting{.initial = true})                                                 \
    KEY(TraceLive, SwitchSetting{.initial = true})                                                \
    KEY(StartOutlook, SwitchSetting{.initial = false})                                            \
    KEY(HttpPort, NumberSetting{.initial = 80, .lowest = 1, .highest = 65535, .what = "port"})    \
    KEY(KeepSyncFiles, NumberSetting{})                                                           \
    /* Largest request body taken, in MiB (read at start). */                                     \
    KEY(MaxBodyMB, NumberSetting{.initial = 64, .lowest = 1})                                     \
    /* All request bodies held in memory at once, in MiB (read at start). */                      \
    KEY(BodyBudgetMB, NumberSetting{.initial = 256, .lowest = 1})                                 \
    /* The HTTPS listener's port (0: none), read at start. */                                     \
    KEY(HttpsPort, NumberSetting{.initial = 8443, .lowest = 0, .highest = 65535, .what = "port"}) \
    /* The certificate and key of the HTTPS listener (empty: those corvel made in the */          \
    /* data folder), read at start. */                                                            \
    KEY(TlsCertFile, TextSetting{})                                                               \
    KEY(TlsKeyFile, TextSetting{})                                                                \
    /* The plain listener refuses log-ons, attachments and protected directories. */              \
    KEY(RequireTls, SwitchSetting{.initial = false})

// The form of each key as a constant: SettingKeys::HttpPort.initial is its default.
namespace SettingKeys {
#define CORVEL_SETTING_FORM(Name, ...) inline constexpr auto Name = __VA_ARGS__;
CORVEL_SETTINGS_KEYS(CORVEL_SETTING_FORM)
#undef CORVEL_SETTING_FORM
}  // namespace SettingKeys

// The type the key Name holds in memory.
#define CORVEL_SETTING_TYPE(Name) SettingValue<std::remove_cv_t<decltype(SettingKeys::Name)>>
