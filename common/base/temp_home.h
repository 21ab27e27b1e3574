// For tests and benchmarks: a temporary folder removed with its content at the
// end, and a temporary home (XDG_DATA_HOME and XDG_CONFIG_HOME point into it
// while it lives; the previous values come back after); an environment variable
// and the C library's local zone set for the life of an object.
#pragma once

#include <stdlib.h>
#include <time.h>

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

class TempFolder {
public:
    explicit TempFolder(std::string_view prefix = "corvel-test") {
        std::string pattern =
            (std::filesystem::temp_directory_path() / (std::string(prefix) + "-XXXXXX")).string();
        if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    ~TempFolder() {
        std::error_code ignored;
        if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
    }
    // Empty when the folder could not be made.
    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

// name=value while the object lives; then the previous value, or none.
class ScopedVariable {
public:
    ScopedVariable(const char* name, const std::string& value) : name_(name) {
        if (const char* old = getenv(name)) old_ = old;
        setenv(name, value.c_str(), 1);
    }
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;
    ~ScopedVariable() {
        if (old_)
            setenv(name_, old_->c_str(), 1);
        else
            unsetenv(name_);
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

// The local zone of the C library's time functions is zone (TZ) while the object
// lives; then the previous one.
class ScopedZone {
public:
    explicit ScopedZone(const std::string& zone) : tz_(std::in_place, "TZ", zone) { tzset(); }
    ScopedZone(const ScopedZone&) = delete;
    ScopedZone& operator=(const ScopedZone&) = delete;
    ~ScopedZone() {
        tz_.reset();
        tzset();
    }

private:
    std::optional<ScopedVariable> tz_;
};

class TempHome {
public:
    explicit TempHome(std::string_view prefix = "corvel-home")
        : folder_(prefix),
          dataHome_("XDG_DATA_HOME", folder_.Path()),
          configHome_("XDG_CONFIG_HOME", folder_.Path()) {}
    const std::string& Path() const { return folder_.Path(); }
    // The server's data folder below this home.
    std::string DataFolder() const { return folder_.Path() + "/Norvex/Corvel"; }

private:
    TempFolder folder_;
    ScopedVariable dataHome_;
    ScopedVariable configHome_;
};
