// The records inside applet sections whose layout depends on the applet's
// version: declarations and their type records, display declarations,
// gradients, backfills, region lists, menu trees and plugin tags.
#pragma once

#include <string>
#include <vector>

#include "core/appletreader.h"
#include "core/preproc.h"

struct qbApplet;

// The applet's version as the record layouts compare it (0.0 until tag 10).
struct AppletVersion {
    int major = 0;
    int minor = 0;
    bool AtLeast(int wantMajor, int wantMinor) const {
        return major > wantMajor || (major == wantMajor && minor >= wantMinor);
    }
};

// Menus nest at most this deep; deeper trees give ERR_MENUCOMPLEXITY.
constexpr int kMaxMenuDepth = 64;

int ReadGradientRecord(AppletReader& in, qbGradientOptions& gradient);
int ReadBackfillRecord(AppletReader& in, AppletVersion version, qbBackfillOptions& backfill);
int ReadRectList(AppletReader& in, std::vector<qbRegion>& regions);
int ReadMenuTree(AppletReader& in, qbMenuTree& tree);
int ReadPluginTags(AppletReader& in, qbPluginTagList& tags);
int ReadDisplayDeclaration(AppletReader& in, AppletVersion version, qbDisplayDeclaration& decl);
// Tag 2: a count, then the entries, appended to the applet's list.
int ReadPreprocessorEntries(AppletReader& in, AppletVersion version, const std::string& appletPath,
                            qbApplet* applet);
