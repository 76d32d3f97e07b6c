// tests/platform/temp_directory.h
// A fresh directory under the system's temporary folder for one test, removed
// with everything in it when the test ends.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

namespace qob::testing {

class TempDirectory {
public:
    TempDirectory() {
        std::string pattern = (std::filesystem::temp_directory_path() / "qob-test-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "mkdtemp failed";
        root = pattern;
    }
    ~TempDirectory() {
        std::error_code ignored;
        std::filesystem::remove_all(root, ignored);
    }
    TempDirectory(const TempDirectory&) = delete;
    TempDirectory& operator=(const TempDirectory&) = delete;

    // Host path of the directory itself, without a trailing separator.
    const std::string& Path() const { return root; }

    // Host path of a name inside it ("a/b" style).
    std::string Join(std::string_view relative) const { return root + "/" + std::string(relative); }

    // Creates the file (and its directories) with these bytes; returns its path.
    std::string Write(std::string_view relative, std::string_view bytes) const {
        const std::string path = Join(relative);
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        return path;
    }

    std::string MakeDirectory(std::string_view relative) const {
        const std::string path = Join(relative);
        std::filesystem::create_directories(path);
        return path;
    }

    // The same path written the way programs write it: "\" separators.
    static std::string Backslashed(std::string path) {
        for (char& c : path)
            if (c == '/') c = '\\';
        return path;
    }

private:
    std::string root;
};

// Sets an environment variable for the lifetime of the object and restores
// the previous value (or its absence) afterwards.
class ScopedEnvironment {
public:
    ScopedEnvironment(const char* variable, const char* value) : name(variable) {
        if (const char* old = std::getenv(variable)) oldValue = old, hadOld = true;
        if (value)
            setenv(variable, value, 1);
        else
            unsetenv(variable);
    }
    ~ScopedEnvironment() {
        if (hadOld)
            setenv(name, oldValue.c_str(), 1);
        else
            unsetenv(name);
    }
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
    const char* name;
    std::string oldValue;
    bool hadOld = false;
};

}  // namespace qob::testing
