#include "scan/SignatureMatcher.h"

#include <cstring>
#include <string_view>

namespace hx::scan {

void SignatureMatcher::build(const SignatureTable& t) {
    table_ = &t;
    for (auto& c : candidates_) c.clear();
    for (auto& c : boxed_) c.clear();
    any_.fill(false);
    anyBoxed_ = false;
    for (std::size_t i = 0; i < t.size(); ++i) {
        const SignatureRow& row = t[i];
        if (row.Signature1.empty() || row.SignatureOffset + row.Signature1.size() > kSignatureWindow) continue;
        const auto b = static_cast<unsigned char>(row.Signature1[0]);
        if (row.SignatureOffset == 0) {
            candidates_[b].push_back(static_cast<std::uint32_t>(i));
            any_[b] = true;
        } else {
            boxed_[b].push_back(static_cast<std::uint32_t>(i));
            anyBoxed_ = true;
        }
    }
}

int SignatureMatcher::match(const std::uint8_t* w) const {
    if (!any_[w[0]] && !anyBoxed_) return -1;
    const std::string_view window(reinterpret_cast<const char*>(w), kSignatureWindow);
    auto matches = [&](std::uint32_t idx) {
        const SignatureRow& row = (*table_)[idx];
        const std::string& s1 = row.Signature1;
        if (std::memcmp(w + row.SignatureOffset, s1.data(), s1.size()) != 0) return false;
        if (row.Signature2.empty()) return true;
        const std::size_t from = s1.size() / 2 >= 1 ? s1.size() / 2 - 1 : 0;
        return window.find(row.Signature2, from) != std::string_view::npos;
    };
    // The two lists merged in table order.
    static const std::vector<std::uint32_t> none;
    const auto& first = any_[w[0]] ? candidates_[w[0]] : none;
    const auto& boxed = anyBoxed_ ? boxed_[w[4]] : none;
    std::size_t i = 0, j = 0;
    while (i < first.size() || j < boxed.size()) {
        const bool takeFirst = j >= boxed.size() || (i < first.size() && first[i] < boxed[j]);
        const std::uint32_t idx = takeFirst ? first[i++] : boxed[j++];
        if (matches(idx)) return static_cast<int>(idx);
    }
    return -1;
}

}  // namespace hx::scan
