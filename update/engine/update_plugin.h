// The calling contract between the update engine and update plug-ins:
// libraries in the plug-in folder that export "AutoUpdateLoadPlugin" and
// (optionally) "AutoUpdateUnloadPlugin" with C linkage and the default C
// calling convention. All calls come on the engine's worker thread.
#pragma once

#include "engine/auto_updater.h"

// "AutoUpdateLoadPlugin": takes the PluginContext, returns the plug-in's
// instance (see PluginInstance) or 0 to decline.
struct PluginContext;
typedef void* (*AutoUpdateLoadPluginFunction)(PluginContext* context);
// "AutoUpdateUnloadPlugin": takes the instance; its result is not used.
typedef void (*AutoUpdateUnloadPluginFunction)(void* instance);
// A plug-in's notification function: the record and the plug-in's user data.
typedef void (*PluginNotifyFunction)(const FileUpdateStatus* status, void* userData);

// Handed to "AutoUpdateLoadPlugin". Both pointers stay valid while the engine
// lives.
struct PluginContext {
    IVkAutoUpdater* engine;
    const PluginOptions* options;
};

// The words of a plug-in instance that the engine reads (memory owned by the
// plug-in, pointer-sized words).
struct PluginInstance {
    void* reserved;               // word 0: not read
    void* userData;               // word 1
    PluginNotifyFunction notify;  // word 2
};

