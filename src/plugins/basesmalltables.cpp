// Tables 10, 12 and 13 of the plugin base: zlib as the player links it, the
// plugin list, and the player's hashing and Base64 coders.
#include <zlib.h>

#include <cstdlib>
#include <string>

#include "core/chars.h"
#include "libs/base64.h"
#include "libs/md5.h"
#include "plugins/basetables.h"
#include "plugins/pluginlist.h"

namespace {

void FreeListedPlugins(qbPluginListEntry* list) { std::free(list); }

qbPluginHandle* HandleOf(const qbPluginRecord* plugin) {
    qbPluginNode* node = FindPluginNodeByInfo(plugin);
    return node ? node->handle.get() : nullptr;
}

void SetDisabled(qbPluginRecord* plugin, int64_t disabled) {
    qbPluginHandle* handle = HandleOf(plugin);
    if (handle == nullptr) return;
    handle->record.disabled = disabled;
    RefreshPluginView(handle);  // the loader lists read the view's copy
}
void SetValue(qbPluginRecord* plugin, int64_t value) {
    if (qbPluginHandle* handle = HandleOf(plugin)) handle->record.userValue = value;
}
int64_t GetValue(const qbPluginRecord* plugin) {
    qbPluginHandle* handle = HandleOf(plugin);
    return handle ? handle->record.userValue : 0;
}

void EncodeBlock(const void* data, size_t length, char* to, size_t* outLength) {
    size_t count = 0;
    if (to && (data || length == 0))
        EncodeBase64(nullptr, nullptr, reinterpret_cast<uint8_t*>(to), static_cast<const uint8_t*>(data), length,
                     &count, 1);
    if (outLength) *outLength = count;
}
int DecodeBlock(const char* text, size_t length, void* to, size_t* outLength) {
    size_t count = 0;
    const bool ok = text && to &&
                    DecodeBase64(reinterpret_cast<const uint8_t*>(text), length, static_cast<uint8_t*>(to), nullptr,
                                 &count) == 0;
    if (outLength) *outLength = ok ? count : 0;
    return ok ? 1 : 0;
}
int64_t BlockCrc(const void* data, int64_t length) {
    if (data == nullptr || length < 1) return -1;
    return UpdateCRC32(0, data, static_cast<size_t>(length));
}
void BlockMd5(const void* data, size_t length, char* to) {
    if (data == nullptr || length == 0 || to == nullptr) return;
    MD5Context context;
    MD5Init(&context);
    MD5Update(&context, data, length);
    uint8_t digest[16];
    MD5Final(digest, &context);
    const std::string hex = MD5Hex(digest);
    hex.copy(to, 32);
    to[32] = 0;
}

}  // namespace

const qbZlibTable kPluginZlibTable = {
    inflateInit_, inflate,     inflateEnd,    deflateInit_,  deflate, deflateEnd, deflateReset, deflateParams,
    inflateReset, inflateSync, inflateInit2_, deflateInit2_, crc32,   {nullptr, nullptr, nullptr},
};

const qbPluginListTable kPluginListTable = {ListLoadedPlugins, FreeListedPlugins, SetDisabled, SetValue, GetValue};

const qbHashTable kPluginHashTable = {EncodeBlock, DecodeBlock, BlockCrc, BlockMd5};
