// The Linux backend's folders, preferences path, URL opener, memory size and
// dates, against a temporary home, a fake opener on PATH, injected clocks
// and locales that the test builds itself.
#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <chrono>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <thread>

#include "core/errcodes.h"
#include "core/errors.h"
#include "platform/linux/linux_backend.h"

namespace fs = std::filesystem;
namespace lb = linux_backend;

namespace {

// Sets environment variables for the test's span and puts back what was.
class EnvScope {
public:
    void Set(const char* name, const std::optional<std::string>& value) {
        if (!saved_.count(name)) {
            const char* old = std::getenv(name);
            saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
        }
        if (value) {
            setenv(name, value->c_str(), 1);
        } else {
            unsetenv(name);
        }
    }
    ~EnvScope() {
        for (const auto& [name, value] : saved_) {
            if (value) {
                setenv(name.c_str(), value->c_str(), 1);
            } else {
                unsetenv(name.c_str());
            }
        }
    }

private:
    std::map<std::string, std::optional<std::string>> saved_;
};

class LinuxSystemTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("qb_linuxsystem_" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_ / "home");
    }
    void TearDown() override { fs::remove_all(dir_); }

    static std::string Folder(int index) {
        char buffer[1024] = "junk";
        EXPECT_EQ(lb::GetSystemFolderPath(index, buffer, sizeof buffer), 0);
        return buffer;
    }

    fs::path dir_;
    EnvScope env_;
};

std::tm Day(int year, int month, int day) {
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = 7;
    t.tm_min = 8;
    t.tm_sec = 9;
    std::mktime(&t);  // fills the weekday
    return t;
}

std::string Format(const std::tm& t, int kind, std::string* second = nullptr) {
    char first[128], other[128];
    lb::FormatDateTimeAt(t, kind, first, sizeof first, other, sizeof other);
    if (second) *second = other;
    return first;
}

}  // namespace

TEST_F(LinuxSystemTest, FoldersFollowTheEnvironmentAndTheUserDirsFile) {
    const std::string home = (dir_ / "home").string();
    env_.Set("HOME", home);
    env_.Set("XDG_CONFIG_HOME", (dir_ / "config").string());
    env_.Set("XDG_CONFIG_DIRS", std::string("/opt/xdg:/etc/xdg"));
    fs::create_directories(dir_ / "config");
    std::ofstream(dir_ / "config" / "user-dirs.dirs") << "# written by a test\nXDG_DESKTOP_DIR=\"$HOME/Desk\"\n"
                                                         "XDG_DOCUMENTS_DIR=\"$HOME/Papers\"\n";
    EXPECT_EQ(Folder(0), "/usr/bin");
    EXPECT_EQ(Folder(1), (dir_ / "config").string());
    EXPECT_EQ(Folder(2), home);
    EXPECT_EQ(Folder(3), home + "/Papers");
    const passwd* me = getpwuid(getuid());
    ASSERT_NE(me, nullptr);
    EXPECT_EQ(Folder(4), me->pw_name);
    EXPECT_EQ(Folder(5), "/opt/xdg");
    EXPECT_EQ(Folder(6), "");
    EXPECT_EQ(Folder(7), "");
    EXPECT_EQ(Folder(-1), "");

    // Without the file: ~/Documents when it is there, else the home itself;
    // without XDG variables, ~/.config and /etc/xdg.
    fs::remove(dir_ / "config" / "user-dirs.dirs");
    EXPECT_EQ(Folder(3), home);
    fs::create_directories(dir_ / "home" / "Documents");
    EXPECT_EQ(Folder(3), home + "/Documents");
    env_.Set("XDG_CONFIG_HOME", std::nullopt);
    env_.Set("XDG_CONFIG_DIRS", std::nullopt);
    EXPECT_EQ(Folder(1), home + "/.config");
    EXPECT_EQ(Folder(5), "/etc/xdg");
    // No HOME: the password entry's home.
    env_.Set("HOME", std::nullopt);
    EXPECT_EQ(Folder(2), me->pw_dir);

    // A buffer too small for the path stays empty rather than cut.
    env_.Set("HOME", home);
    char tiny[4] = "abc";
    EXPECT_EQ(lb::GetSystemFolderPath(2, tiny, sizeof tiny), 0);
    EXPECT_STREQ(tiny, "");
}

TEST_F(LinuxSystemTest, PrefsPathIsCreatedBelowTheConfigFolder) {
    env_.Set("HOME", (dir_ / "home").string());
    env_.Set("XDG_CONFIG_HOME", (dir_ / "config").string());
    char buffer[1024];
    ASSERT_EQ(lb::GetPrefsPath(buffer, sizeof buffer), 0);
    const fs::path expected = dir_ / "config" / "MorvaleLumegrid" / "Quenbrook" / "Preferences";
    EXPECT_EQ(buffer, expected.string());
    EXPECT_TRUE(fs::is_directory(expected));
    // A second call finds it there.
    ASSERT_EQ(lb::GetPrefsPath(buffer, sizeof buffer), 0);
    EXPECT_EQ(buffer, expected.string());
}

TEST_F(LinuxSystemTest, UrlsReachTheOpenerAsOneArgumentAndAMissingOpenerIsAnError) {
    fs::create_directories(dir_ / "bin");
    const fs::path record = dir_ / "argv.txt";
    std::ofstream(dir_ / "bin" / "xdg-open") << "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done >\""
                                             << record.string() << ".part\"\nmv \"" << record.string()
                                             << ".part\" \"" << record.string() << "\"\n";
    fs::permissions(dir_ / "bin" / "xdg-open", fs::perms::owner_all);
    env_.Set("PATH", (dir_ / "bin").string() + ":/usr/bin:/bin");
    ASSERT_EQ(lb::OpenURLNative("http://x/?a=1&b=$(id);c \xE9"), 0);
    for (int i = 0; i < 500 && !fs::exists(record); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::ifstream in(record);
    const std::string argv((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(argv, "http://x/?a=1&b=$(id);c \xC3\xA9\n");

    env_.Set("PATH", (dir_ / "empty").string());
    EXPECT_EQ(lb::OpenURLNative("http://x/"), ERR_EXECUTE);
    EXPECT_STREQ(GetErrorDetail(), "xdg-open");
}

TEST(LinuxSystemFacts, MemoryAbove4GiBSaturatesAndYearsHaveTwoDigits) {
    EXPECT_EQ(lb::PhysicalMemoryFromPages(6170601, 4096), 0xFFFFFFFFu);
    EXPECT_EQ(lb::PhysicalMemoryFromPages(1024, 4096), 4194304u);
    EXPECT_EQ(lb::PhysicalMemoryFromPages(-1, 4096), 0u);
    std::string time;
    EXPECT_EQ(Format(Day(1999, 3, 5), 1, &time), "03-05-99");
    EXPECT_EQ(time, "07:08:09");
    EXPECT_EQ(Format(Day(2016, 3, 5), 1), "03-05-16");
    EXPECT_EQ(Format(Day(2100, 3, 5), 1), "03-05-00");
    EXPECT_EQ(Format(Day(2016, 3, 5), 2), "07:08:09");
    EXPECT_EQ(Format(Day(2016, 3, 5), 9), "");
}

// Weekday names in the user's LC_TIME, from locales built for the test.
TEST_F(LinuxSystemTest, WeekdaysFollowTheUsersTimeLocaleWhileTheProcessStaysInC) {
    if (std::system("command -v localedef >/dev/null") != 0 || !fs::exists("/usr/share/i18n/locales/es_ES"))
        GTEST_SKIP() << "localedef or the locale sources are missing";
    for (const char* name : {"es_ES", "de_DE"}) {
        const std::string command = std::string("localedef -i ") + name + " -f UTF-8 " +
                                    (dir_ / "locales" / (std::string(name) + ".UTF-8")).string() + " 2>/dev/null";
        fs::create_directories(dir_ / "locales");
        ASSERT_EQ(std::system(command.c_str()), 0) << name;
    }
    env_.Set("LOCPATH", (dir_ / "locales").string());
    env_.Set("LANG", std::nullopt);
    env_.Set("LC_ALL", std::nullopt);
    const std::tm wednesday = Day(2016, 3, 2);
    env_.Set("LC_TIME", std::string("es_ES.UTF-8"));
    EXPECT_EQ(Format(wednesday, 3), "mi\xE9rcoles");
    env_.Set("LC_TIME", std::nullopt);
    env_.Set("LC_ALL", std::string("de_DE.UTF-8"));
    EXPECT_EQ(Format(wednesday, 3), "Mittwoch");
    EXPECT_EQ(Format(wednesday, 0), "02.03.2016");
    EXPECT_STREQ(std::setlocale(LC_ALL, nullptr), "C");
    char printed[32];
    std::snprintf(printed, sizeof printed, "%.14g", 1.5);
    EXPECT_STREQ(printed, "1.5");
    env_.Set("LC_ALL", std::nullopt);
    env_.Set("LC_TIME", std::string("xx_XX.UTF-8"));
    EXPECT_EQ(Format(wednesday, 3), "Wednesday");
}
