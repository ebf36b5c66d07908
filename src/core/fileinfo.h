// File descriptions: qbFileInfo, the FILEATTR protection bits, and dates in
// both forms (seconds since 1970 and the six-word date record).
#pragma once

#include <cstdint>

#include "core/pluginadapters.h"

struct qbFile;
struct stat;

// FILEATTR_* bits.
enum : uint32_t {
    kFileAttrReadUsr = 1,
    kFileAttrWriteUsr = 2,
    kFileAttrDeleteUsr = 4,
    kFileAttrExecuteUsr = 8,
    kFileAttrReadGrp = 512,
    kFileAttrWriteGrp = 1024,
    kFileAttrExecuteGrp = 2048,
    kFileAttrReadOth = 4096,
    kFileAttrWriteOth = 8192,
    kFileAttrExecuteOth = 16384,
    kFileAttrNormal = 65536,
};
// What files with no protection of their own (memory files, applet chunks) report.
constexpr uint32_t kFileAttrAllUser = 15;

struct qbFileInfo {
    int32_t kind = 0;  // 1 directory, 0 file
    int64_t size = 0;
    uint32_t protection = 0;
    char name[256] = {};  // empty for the native back-end
    // Seconds since 1970, 64-bit so that nothing wraps in 2038.
    int64_t accessTime = 0;
    int64_t modifyTime = 0;
    int64_t changeTime = 0;
    uint32_t extra[2] = {};   // passed through from an adapter's stat record
    const char* path = nullptr;  // owned by the handle the info came from
};

// Through local time; DateToTime takes the fields as given, lets the system
// decide daylight saving, and gives 0 with *ok false when the date can't be
// represented.
qbDateRecord TimeToDate(int64_t seconds);
int64_t DateToTime(const qbDateRecord& date, bool* ok);

// Reads a date in the file-date form "05-Mar-2016 09:04:01" (day, month
// abbreviation in any letter case, year, and the time); false for any other
// text or a field out of its range.
bool ParseDateString(const char* text, qbDateRecord* out);

// The date the player started, taken once at the first call.
const qbDateRecord& GetStartupDate();
// Files inside the applet have no dates of their own: 4 November 2002,
// 10:30:00 local time.
int64_t GetChunkFileTime();

uint32_t ModeToFileAttr(uint32_t mode);
uint32_t FileAttrToMode(uint32_t attr);
// Kind, size, protection and times; the name and path stay as they are.
void StatToFileInfo(const struct stat& st, qbFileInfo* info);
// An adapter's stat record (dates as records) into the info.
void AdapterStatToFileInfo(const qbAdapterStat& st, qbFileInfo* info);
// A fresh stat record whose dates are the start-up date.
qbAdapterStat PresetAdapterStat();

// Describes a native file by its name, never opening it (a FIFO would hold
// the open until written to): 1, or 0 for names that file adapters may
// serve, applet parts, memory files and names that don't exist.
int DescribeNativeName(const char* name, qbFileInfo* info);
// Describes an open file: the adapter's FStat, a memory file (the start-up
// date, flags 15), or fstat of the stream. 1 on success.
int GetFileInfo(qbFile* file, qbFileInfo* info);
