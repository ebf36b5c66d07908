// The virtual-file list, the table of lent buffers and the memory-file
// operations. Loader threads open files too, so both lists take a lock.
#include "core/memfile.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include "core/errcodes.h"
#include "core/file.h"

namespace {

struct LentBuffer {
    uintptr_t start;
    uint64_t size;
};

struct MemoryLists {
    std::mutex lock;
    MemoryFile* virtualFiles = nullptr;
    std::vector<LentBuffer> lent;
};

MemoryLists& Lists() {
    static MemoryLists lists;
    return lists;
}

constexpr size_t kPrefixLength = sizeof(kMemoryNamePrefix) - 1;
constexpr size_t kHexDigits = 16;

bool ParseHex(const char* text, uint64_t* value) {
    uint64_t v = 0;
    for (size_t i = 0; i < kHexDigits; ++i) {
        const char c = text[i];
        int digit;
        if (c >= '0' && c <= '9') digit = c - '0';
        else if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
        else return false;  // also stops at the terminator of a short name
        v = (v << 4) | static_cast<uint64_t>(digit);
    }
    *value = v;
    return true;
}

}  // namespace

void AddVirtualFile(MemoryFile* file) {
    if (!file) return;
    MemoryLists& lists = Lists();
    std::lock_guard guard(lists.lock);
    for (MemoryFile* f = lists.virtualFiles; f; f = f->next)
        if (f == file) return;
    file->next = lists.virtualFiles;
    lists.virtualFiles = file;
}

void RemoveVirtualFile(MemoryFile* file) {
    MemoryLists& lists = Lists();
    std::lock_guard guard(lists.lock);
    for (MemoryFile** link = &lists.virtualFiles; *link; link = &(*link)->next) {
        if (*link == file) {
            *link = file->next;
            file->next = nullptr;
            return;
        }
    }
}

int IsVirtualFile(const MemoryFile* file) {
    if (!file) return 0;
    MemoryLists& lists = Lists();
    std::lock_guard guard(lists.lock);
    for (const MemoryFile* f = lists.virtualFiles; f; f = f->next)
        if (f == file) return 1;
    return 0;
}

MemoryFile* FindVirtualFile(int32_t registryRef) {
    MemoryLists& lists = Lists();
    std::lock_guard guard(lists.lock);
    for (MemoryFile* f = lists.virtualFiles; f; f = f->next)
        if (f->registryRef == registryRef) return f;
    return nullptr;
}

int RegisterMemoryBuffer(const void* data, uint64_t size) {
    if (!data || size == 0 || size > static_cast<uint64_t>(INT64_MAX)) return ERR_WRONGUSAGE;
    const uintptr_t start = reinterpret_cast<uintptr_t>(data);
    if (start + size < start) return ERR_WRONGUSAGE;
    MemoryLists& lists = Lists();
    std::lock_guard guard(lists.lock);
    try {
        lists.lent.push_back({start, size});
    } catch (const std::bad_alloc&) {
        return ERR_MEM;
    }
    return 0;
}

void UnregisterMemoryBuffer(const void* data) {
    const uintptr_t start = reinterpret_cast<uintptr_t>(data);
    MemoryLists& lists = Lists();
    std::lock_guard guard(lists.lock);
    auto it = std::find_if(lists.lent.begin(), lists.lent.end(),
                           [start](const LentBuffer& b) { return b.start == start; });
    if (it != lists.lent.end()) lists.lent.erase(it);
}

int IsRegisteredMemory(const void* data, uint64_t size) {
    const uintptr_t start = reinterpret_cast<uintptr_t>(data);
    if (!data || start + size < start) return 0;
    MemoryLists& lists = Lists();
    std::lock_guard guard(lists.lock);
    for (const LentBuffer& b : lists.lent)
        if (start >= b.start && start - b.start <= b.size && size <= b.size - (start - b.start)) return 1;
    return 0;
}

std::string MakeMemoryName(const void* data, uint64_t size) {
    char text[kPrefixLength + 2 * kHexDigits + 1];
    std::snprintf(text, sizeof text, "%s%016llx%016llx", kMemoryNamePrefix,
                  static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(data)),
                  static_cast<unsigned long long>(size));
    return text;
}

int IsMemoryName(const char* name) { return name && std::strncmp(name, kMemoryNamePrefix, kPrefixLength) == 0; }

int ParseMemoryName(const char* name, const void** data, uint64_t* size) {
    if (!IsMemoryName(name)) return 0;
    const char* digits = name + kPrefixLength;
    uint64_t address = 0;
    uint64_t length = 0;
    if (!ParseHex(digits, &address) || !ParseHex(digits + kHexDigits, &length) || digits[2 * kHexDigits] != 0)
        return 0;
    *data = reinterpret_cast<const void*>(static_cast<uintptr_t>(address));
    *size = length;
    return 1;
}

size_t MemoryFileRead(MemoryFile* file, int64_t* position, void* buffer, size_t count) {
    const int64_t left = file->size - *position;
    if (left <= 0 || count == 0) return 0;
    if (static_cast<uint64_t>(left) < count) count = static_cast<size_t>(left);
    std::memcpy(buffer, file->data + *position, count);
    *position += static_cast<int64_t>(count);
    return count;
}

size_t MemoryFileWrite(MemoryFile* file, int64_t* position, const void* buffer, size_t count) {
    if (!file->writable || count == 0) return 0;
    int64_t end;
    if (count > static_cast<uint64_t>(INT64_MAX) ||
        __builtin_add_overflow(*position, static_cast<int64_t>(count), &end) || end > INT64_MAX - kMemoryFileGrowStep)
        return 0;
    if (end > file->capacity) {
        int64_t capacity = file->capacity;
        while (capacity < end) capacity += kMemoryFileGrowStep;
        if (static_cast<uint64_t>(capacity) > SIZE_MAX) return 0;
        // A failed growth keeps the old block and writes nothing.
        void* grown = std::realloc(file->data, static_cast<size_t>(capacity));
        if (!grown) return 0;
        file->data = static_cast<uint8_t*>(grown);
        file->capacity = capacity;
    }
    // A write after a seek past nothing can't leave a gap: seeks stop at size.
    std::memcpy(file->data + *position, buffer, count);
    *position = end;
    if (end > file->size) file->size = end;
    return count;
}

int64_t MemoryFileSeek(MemoryFile* file, int64_t* position, int64_t offset, int mode) {
    const int64_t previous = *position;
    int64_t from = 0;
    if (mode == kSeekCurrent) from = previous;
    else if (mode == kSeekEnd) from = file->size;
    else if (mode != kSeekBeginning) return -1;
    int64_t target;
    if (__builtin_add_overflow(from, offset, &target)) target = offset < 0 ? 0 : file->size;
    *position = std::clamp<int64_t>(target, 0, file->size);
    return previous;
}
