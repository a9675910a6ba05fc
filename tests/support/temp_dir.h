// A temporary directory removed with everything in it at the end of a test.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

namespace kt::test {

class TempDir {
public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "kt6200-test-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        path_ = pattern;
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return path_; }

    std::string Write(const std::string& name, const std::string& content) const {
        const std::filesystem::path p = std::filesystem::path(path_) / name;
        std::filesystem::create_directories(p.parent_path());
        std::ofstream(p, std::ios::binary) << content;
        return p.string();
    }

    // "" when missing. In blocks: image files of a hundred MiB, byte by byte, take seconds under ASan.
    static std::string Read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::string bytes;
        std::string block(std::size_t{1} << 20, '\0');
        while (in.read(block.data(), static_cast<std::streamsize>(block.size())) || in.gcount() > 0)
            bytes.append(block.data(), static_cast<std::size_t>(in.gcount()));
        return bytes;
    }

private:
    std::string path_;
};

}  // namespace kt::test
