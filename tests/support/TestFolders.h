// Temporary folders and environment variables for tests, the same in both builds.
#ifndef ZD_TESTS_SUPPORT_TESTFOLDERS_H
#define ZD_TESTS_SUPPORT_TESTFOLDERS_H

#include <stdlib.h>

#include <filesystem>
#include <optional>
#include <random>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

namespace zdTest {

// Creates a new, empty folder under the system's temporary folder, named prefix plus a random
// suffix; empty when none could be made. Paths use the platform's own separator.
inline std::string MakeTempFolder(const std::string& prefix) {
    std::error_code error;
    const std::filesystem::path base = std::filesystem::temp_directory_path(error);
    if (error) return std::string();
    std::random_device seed;
    std::mt19937_64 random(seed());
    static const char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = prefix;
        for (int i = 0; i < 10; ++i)
            name += kLetters[random() % (sizeof(kLetters) - 1)];
        const std::filesystem::path path = base / name;
        if (std::filesystem::create_directory(path, error)) return path.string();
        if (error) return std::string();
    }
    return std::string();
}

inline void RemoveFolder(const std::string& path) {
    std::error_code ignored;
    if (!path.empty()) std::filesystem::remove_all(path, ignored);
}

// A temporary folder that lives as long as the object.
class TempFolder {
public:
    explicit TempFolder(const std::string& prefix) : path_(MakeTempFolder(prefix)) {}
    ~TempFolder() { RemoveFolder(path_); }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::string& path() const { return path_; }
    bool ok() const { return !path_.empty(); }

private:
    std::string path_;
};

inline bool SetEnv(const char* name, const char* value) {
#ifdef _WIN32
    return _putenv_s(name, value) == 0;
#else
    return setenv(name, value, 1) == 0;
#endif
}

inline bool UnsetEnv(const char* name) {
#ifdef _WIN32
    return _putenv_s(name, "") == 0;
#else
    return unsetenv(name) == 0;
#endif
}

// Unsets the named variables for a test's lifetime and puts back what was there.
class ClearedVariables {
public:
    explicit ClearedVariables(std::vector<std::string> names) : names_(std::move(names)) {
        for (const std::string& name : names_) {
            const char* value = getenv(name.c_str());
            saved_.push_back(value ? std::optional<std::string>(value) : std::nullopt);
            UnsetEnv(name.c_str());
        }
    }
    ~ClearedVariables() {
        for (size_t i = 0; i < names_.size(); ++i) {
            if (saved_[i]) {
                SetEnv(names_[i].c_str(), saved_[i]->c_str());
            } else {
                UnsetEnv(names_[i].c_str());
            }
        }
    }
    ClearedVariables(const ClearedVariables&) = delete;
    ClearedVariables& operator=(const ClearedVariables&) = delete;

private:
    std::vector<std::string> names_;
    std::vector<std::optional<std::string>> saved_;
};

}  // namespace zdTest

#endif
