// The examples of docs/production.md, so that what the document shows is what the program reads.
#pragma once

#include <string>

#include "tests/support/temp_dir.h"

namespace kt::test {

// The first fenced block of docs/production.md whose fence opens with "```" + `tag`.
inline std::string DocExample(const std::string& tag) {
    const std::string doc = TempDir::Read(KT_SOURCE_DIR "/docs/production.md");
    std::size_t at = doc.find("```" + tag + "\n");
    if (at == std::string::npos) return {};
    at += 4 + tag.size();
    return doc.substr(at, doc.find("```", at) - at);
}

}  // namespace kt::test
