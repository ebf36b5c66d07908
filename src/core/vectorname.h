// The vector-image loader plugin whose first versions cannot open a part of
// the applet file by its chunk name: they get a virtual name of their own,
// and the host keeps the real name for their file opens during the call.
#pragma once

#include <string>

#include "core/plugin.h"

inline constexpr const char* kVectorLoaderName = "vectorgraphics.qbp";

// The name to hand the loader's LoadImage: for that plugin in versions 1.0
// and 1.1 and a well-formed file chunk name, ":::chunk<offset>:<size>*<applet
// file part>/<part name>"; otherwise the name unchanged.
std::string LoaderFileName(const qbPlugin* plugin, const char* fileName);

// While a loader runs with a virtual name: the real name it stands for, so
// that the plugin's file opens of the virtual name reach the part; null at
// other times.
const char* GetLoaderCallFileName();

class LoaderCallFileName {
public:
    // realName null keeps nothing (the loader got the name unchanged).
    explicit LoaderCallFileName(const char* realName);
    ~LoaderCallFileName();
    LoaderCallFileName(const LoaderCallFileName&) = delete;
    LoaderCallFileName& operator=(const LoaderCallFileName&) = delete;

private:
    const char* saved_;
};
