// qbFileInfo from stat, adapter records and open handles; dates.
#include "core/fileinfo.h"

#include <climits>
#include <ctime>

#include <sys/stat.h>

#include "core/chunkname.h"
#include "core/file.h"
#include "core/filenames.h"
#include "core/memfile.h"

namespace {

struct ModeBit {
    uint32_t attr;
    uint32_t mode;
};

constexpr ModeBit kModeBits[] = {
    {kFileAttrReadUsr, 0400},   {kFileAttrWriteUsr, 0200},   {kFileAttrExecuteUsr, 0100},
    {kFileAttrReadGrp, 040},    {kFileAttrWriteGrp, 020},    {kFileAttrExecuteGrp, 010},
    {kFileAttrReadOth, 04},     {kFileAttrWriteOth, 02},     {kFileAttrExecuteOth, 01},
};

int64_t DateOrZero(const qbDateRecord& date) {
    bool ok = false;
    const int64_t t = DateToTime(date, &ok);
    return ok ? t : 0;
}

void FillVirtualInfo(qbFileInfo* info, int64_t size, int64_t time) {
    info->kind = 0;
    info->size = size;
    info->protection = kFileAttrAllUser;
    info->accessTime = info->modifyTime = info->changeTime = time;
}

}  // namespace

qbDateRecord TimeToDate(int64_t seconds) {
    const time_t t = static_cast<time_t>(seconds);
    struct tm local {};
    qbDateRecord date;
    if (!localtime_r(&t, &local)) return date;
    date.seconds = local.tm_sec;
    date.minutes = local.tm_min;
    date.hours = local.tm_hour;
    date.day = local.tm_mday;
    date.month = local.tm_mon;
    date.year = local.tm_year + 1900;
    return date;
}

int64_t DateToTime(const qbDateRecord& date, bool* ok) {
    if (date.year < INT_MIN + 1900) {
        if (ok) *ok = false;
        return 0;
    }
    struct tm local {};
    local.tm_sec = date.seconds;
    local.tm_min = date.minutes;
    local.tm_hour = date.hours;
    local.tm_mday = date.day;
    local.tm_mon = date.month;
    local.tm_year = date.year - 1900;
    local.tm_isdst = -1;
    const time_t t = mktime(&local);
    bool failed = false;
    if (t == static_cast<time_t>(-1)) {
        // -1 is also the last second of 1969: a real answer when the
        // normalised fields are that second's local time.
        const time_t minusOne = -1;
        struct tm check {};
        failed = !localtime_r(&minusOne, &check) || check.tm_year != local.tm_year ||
                 check.tm_yday != local.tm_yday || check.tm_hour != local.tm_hour || check.tm_min != local.tm_min ||
                 check.tm_sec != local.tm_sec;
    }
    if (ok) *ok = !failed;
    return failed ? 0 : static_cast<int64_t>(t);
}

bool ParseDateString(const char* text, qbDateRecord* out) {
    static constexpr const char* kMonths[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                              "jul", "aug", "sep", "oct", "nov", "dec"};
    if (!text || !out) return false;
    const char* p = text;
    auto number = [&p](int minDigits, int maxDigits, int32_t* value) {
        int digits = 0;
        int64_t v = 0;
        while (*p >= '0' && *p <= '9' && digits < maxDigits) {
            v = v * 10 + (*p++ - '0');
            ++digits;
        }
        *value = static_cast<int32_t>(v);
        return digits >= minDigits;
    };
    auto expect = [&p](char c) { return *p == c ? (++p, true) : false; };
    qbDateRecord d;
    if (!number(1, 2, &d.day) || !expect('-')) return false;
    int month = -1;
    for (int m = 0; m < 12 && month < 0; ++m) {
        bool same = true;
        for (int i = 0; i < 3 && same; ++i) same = p[i] && (p[i] | 0x20) == kMonths[m][i];
        if (same) month = m;
    }
    if (month < 0) return false;
    p += 3;
    d.month = month;
    if (!expect('-') || !number(1, 9, &d.year) || !expect(' ')) return false;
    if (!number(1, 2, &d.hours) || !expect(':') || !number(1, 2, &d.minutes) || !expect(':') ||
        !number(1, 2, &d.seconds) || *p != 0)
        return false;
    if (d.day < 1 || d.day > 31 || d.hours > 23 || d.minutes > 59 || d.seconds > 59) return false;
    *out = d;
    return true;
}

const qbDateRecord& GetStartupDate() {
    static const qbDateRecord date = TimeToDate(static_cast<int64_t>(std::time(nullptr)));
    return date;
}

int64_t GetChunkFileTime() {
    const qbDateRecord date{0, 30, 10, 4, 10, 2002};
    return DateOrZero(date);
}

uint32_t ModeToFileAttr(uint32_t mode) {
    uint32_t attr = 0;
    for (const ModeBit& bit : kModeBits)
        if (mode & bit.mode) attr |= bit.attr;
    return attr;
}

uint32_t FileAttrToMode(uint32_t attr) {
    if (attr & kFileAttrNormal) return 0644;
    uint32_t mode = 0;
    for (const ModeBit& bit : kModeBits)
        if (attr & bit.attr) mode |= bit.mode;
    return mode;
}

void StatToFileInfo(const struct stat& st, qbFileInfo* info) {
    info->kind = S_ISDIR(st.st_mode) ? 1 : 0;
    info->size = static_cast<int64_t>(st.st_size);
    info->protection = ModeToFileAttr(static_cast<uint32_t>(st.st_mode));
    info->accessTime = static_cast<int64_t>(st.st_atime);
    info->modifyTime = static_cast<int64_t>(st.st_mtime);
    info->changeTime = static_cast<int64_t>(st.st_ctime);
}

void AdapterStatToFileInfo(const qbAdapterStat& st, qbFileInfo* info) {
    info->kind = st.type == 1 ? 1 : 0;
    info->size = st.size;
    info->protection = st.protection;
    info->modifyTime = DateOrZero(st.modified);
    info->accessTime = DateOrZero(st.accessed);
    info->changeTime = info->modifyTime;
    info->extra[0] = st.extra[0];
    info->extra[1] = st.extra[1];
    if (st.name) {
        size_t i = 0;
        for (; st.name[i] && i + 1 < sizeof info->name; ++i) info->name[i] = st.name[i];
        info->name[i] = 0;
    }
}

qbAdapterStat PresetAdapterStat() {
    qbAdapterStat st;
    st.modified = st.accessed = st.third = GetStartupDate();
    return st;
}

int GetFileInfo(qbFile* file, qbFileInfo* info) {
    if (!file || !info) return 0;
    *info = qbFileInfo{};
    if (file->adapter) {
        if (!AdapterCallable(file->adapter) || !file->adapter->slots.FStat) return 0;
        qbAdapterStat st = PresetAdapterStat();
        if (!file->adapter->slots.FStat(file->adapterHandle, &st)) return 0;
        AdapterStatToFileInfo(st, info);
        info->path = st.path;
        return 1;
    }
    if (MemoryFile* m = file->memory) {
        bool ok = false;
        FillVirtualInfo(info, m->size, DateToTime(GetStartupDate(), &ok));
        info->path = m->name;
        return 1;
    }
    StdioFile* s = file->stdio.get();
    if (!s) return 0;
    info->path = s->path.c_str();
    if (s->limit) {
        // The container's own dates and size would describe the applet.
        FillVirtualInfo(info, s->size, GetChunkFileTime());
        return 1;
    }
    struct stat st;
    if (!s->stream || fstat(s->stream->fd, &st) != 0) return 0;
    StatToFileInfo(st, info);
    return 1;
}

int DescribeNativeName(const char* name, qbFileInfo* info) {
    if (!name || !info || IsChunkName(name) || IsMemoryName(name) || GetAdapterList(kPluginCapsFileAdapter))
        return 0;
    struct stat st;
    if (stat(NativePathOf(name).c_str(), &st) != 0) return 0;
    *info = qbFileInfo{};
    StatToFileInfo(st, info);
    return 1;
}
