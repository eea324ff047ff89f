#include "scan/SignatureMatcher.h"

#include <cstring>
#include <string_view>

namespace hx::scan {

void SignatureMatcher::build(const SignatureTable& t) {
    table_ = &t;
    for (auto& c : candidates_) c.clear();
    any_.fill(false);
    for (std::size_t i = 0; i < t.size(); ++i) {
        if (t[i].Signature1.empty() || t[i].Signature1.size() > kSignatureWindow) continue;
        const auto b = static_cast<unsigned char>(t[i].Signature1[0]);
        candidates_[b].push_back(static_cast<std::uint32_t>(i));
        any_[b] = true;
    }
}

int SignatureMatcher::match(const std::uint8_t* w) const {
    if (!any_[w[0]]) return -1;
    const std::string_view window(reinterpret_cast<const char*>(w), kSignatureWindow);
    for (std::uint32_t idx : candidates_[w[0]]) {
        const SignatureRow& row = (*table_)[idx];
        const std::string& s1 = row.Signature1;
        if (std::memcmp(w, s1.data(), s1.size()) != 0) continue;
        if (row.Signature2.empty()) return static_cast<int>(idx);
        const std::size_t from = s1.size() / 2 >= 1 ? s1.size() / 2 - 1 : 0;
        if (window.find(row.Signature2, from) != std::string_view::npos) return static_cast<int>(idx);
    }
    return -1;
}

}  // namespace hx::scan
