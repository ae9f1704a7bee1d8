// Helpers shared by the zdsim tests: template texts, temporary folders, Base64 and MD5 of texts.
#ifndef ZD_TESTS_SIMTESTSUPPORT_H
#define ZD_TESTS_SIMTESTSUPPORT_H

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "PayloadText.h"
#include "ZRMd5.h"

namespace simtest {

// A valid template; `comment` goes first so texts of the same UID can differ in their bytes.
inline std::string TemplateText(int uid, const std::string& comment = "",
                                const std::string& lineEnd = "\n") {
    std::string text = comment.empty() ? "" : "# " + comment + lineEnd;
    text += "DECLARE TEMPLATE" + lineEnd + "{" + lineEnd + "SET TEMPLATE_NAME \"Template " +
            std::to_string(uid) + "\"" + lineEnd + "SET TEMPLATE_DESC \"A test template\"" +
            lineEnd + "SET TEMPLATE_UID " + std::to_string(uid) + lineEnd +
            "SET TEMPLATE_LOGIC SINGLE" + lineEnd + "}" + lineEnd + "DECLARE SINGLE" + lineEnd +
            "{" + lineEnd + "SET COMMAND run" + lineEnd + "}" + lineEnd;
    return text;
}

inline std::string Md5(const std::string& text) {
    using namespace ZRFramework::ZRMd5;
    md5_state_s state;
    md5_init(&state);
    md5_append(&state, reinterpret_cast<const unsigned char*>(text.data()),
               static_cast<int>(text.size()));
    unsigned char digest[16];
    md5_finish(&state, digest);
    char hex[33];
    md5_string(digest, hex);
    return hex;
}

// The decoded bytes, or "<not Base64>".
inline std::string DecodeBase64(const std::string& text) {
    std::string bytes;
    return zdProtocol::DecodeBase64(text, bytes) ? bytes : "<not Base64>";
}

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

inline void WriteFile(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
}

// A fresh folder under the system's temporary folder, removed with everything in it.
class TempFolder {
public:
    TempFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "zdsim-test-XXXXXX");
        if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
        EXPECT_FALSE(path_.empty());
    }
    ~TempFolder() {
        std::error_code ignored;
        if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::string& Path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

}  // namespace simtest

#endif
