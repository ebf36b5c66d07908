// Table 0 of the plugin base: the system's libc, except where plugins need
// the player's own case folding or records of a layout fixed for them.
#include <sys/stat.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "plugins/basetables.h"
#include "vm/casefold.h"

namespace {

int FoldCompare(const char* a, const char* b) { return StrCmpNoCase(a, b); }
int FoldCompareN(const char* a, const char* b, size_t n) { return StrNCmpNoCase(a, b, n); }
int FoldLower(int c) { return kLowerCaseTable[static_cast<unsigned char>(c)]; }
int FoldUpper(int c) { return kUpperCaseTable[static_cast<unsigned char>(c)]; }
char* FoldStringLower(char* text) { return text ? StrToLower(text) : nullptr; }
char* FoldStringUpper(char* text) {
    if (text == nullptr) return nullptr;
    for (char* p = text; *p; ++p) *p = static_cast<char>(kUpperCaseTable[static_cast<unsigned char>(*p)]);
    return text;
}

int TimeOfDay(struct timeval* tv, void*) { return gettimeofday(tv, nullptr); }
long RoundToLong(double x) { return std::lrint(x); }

void ToRecord(const struct tm& tm, qbTimeRecord* r) {
    *r = qbTimeRecord{48, tm.tm_sec, tm.tm_min, tm.tm_hour, tm.tm_mday, tm.tm_mon, tm.tm_year, tm.tm_wday,
                      tm.tm_yday, tm.tm_isdst, static_cast<int32_t>(tm.tm_gmtoff), 0};
}

struct tm FromRecord(const qbTimeRecord& r) {
    struct tm tm {};
    tm.tm_sec = r.sec;
    tm.tm_min = r.min;
    tm.tm_hour = r.hour;
    tm.tm_mday = r.mday;
    tm.tm_mon = r.mon;
    tm.tm_year = r.year;
    tm.tm_wday = r.wday;
    tm.tm_yday = r.yday;
    tm.tm_isdst = r.isdst;
    tm.tm_gmtoff = r.gmtoff;
    return tm;
}

// One static record per function, as plugins written against the C library
// expect; they copy it before the next call.
qbTimeRecord* LocalTime(const time_t* t) {
    static qbTimeRecord record;
    struct tm tm {};
    if (t == nullptr || localtime_r(t, &tm) == nullptr) return nullptr;
    ToRecord(tm, &record);
    return &record;
}
qbTimeRecord* GmTime(const time_t* t) {
    static qbTimeRecord record;
    struct tm tm {};
    if (t == nullptr || gmtime_r(t, &tm) == nullptr) return nullptr;
    ToRecord(tm, &record);
    return &record;
}
char* AscTime(const qbTimeRecord* r) {
    if (r == nullptr) return nullptr;
    static char text[64];
    struct tm tm = FromRecord(*r);
    return asctime_r(&tm, text);
}
char* CTime(const time_t* t) {
    static char text[64];
    return t ? ctime_r(t, text) : nullptr;
}
time_t MakeTime(qbTimeRecord* r) {
    if (r == nullptr) return -1;
    struct tm tm = FromRecord(*r);
    const time_t t = mktime(&tm);
    ToRecord(tm, r);  // mktime normalises the fields, as the C library's does
    return t;
}
size_t FormatTime(char* to, size_t size, const char* format, const qbTimeRecord* r) {
    if (r == nullptr || to == nullptr || format == nullptr) return 0;
    struct tm tm = FromRecord(*r);
    return strftime(to, size, format, &tm);
}
void TimeDifference(double* result, time_t end, time_t start) {
    if (result) *result = difftime(end, start);
}

void ToStatus(const struct stat& st, qbFileStatus* s) {
    *s = qbFileStatus{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino), st.st_mode,
                      static_cast<uint32_t>(st.st_nlink), st.st_uid, st.st_gid, static_cast<uint64_t>(st.st_rdev),
                      st.st_size, st.st_blksize, st.st_blocks, st.st_atime, st.st_mtime, st.st_ctime};
}
int FileStatus(int fd, qbFileStatus* s) {
    struct stat st {};
    if (s == nullptr || fstat(fd, &st) != 0) return -1;
    ToStatus(st, s);
    return 0;
}
int PathStatus(const char* path, qbFileStatus* s) {
    struct stat st {};
    if (s == nullptr || path == nullptr || stat(path, &st) != 0) return -1;
    ToStatus(st, s);
    return 0;
}

int GetErrnoValue() { return errno; }
void SetErrnoValue(int value) { errno = value; }

}  // namespace

const qbStdlibTable kPluginStdlibTable = {
    malloc,     calloc,       realloc,  free,     strdup,    fopen,          fclose,        fseek,
    ftell,      fread,        fwrite,   fgetc,    fputc,     ferror,         feof,          vfprintf,
    vsnprintf,  vprintf,      qsort,    vsscanf,  strtod,    strtol,         strtoul,       FoldCompare,
    FoldCompareN, FoldLower,  FoldUpper, FoldStringLower, FoldStringUpper, TimeOfDay, time, RoundToLong,
    LocalTime,  GmTime,       AscTime,  CTime,    MakeTime,  FormatTime,     clock,         TimeDifference,
    clearerr,   fileno,       fflush,   FileStatus, PathStatus, vfscanf,     ungetc,        rename,
    remove,     GetErrnoValue, SetErrnoValue,
};
