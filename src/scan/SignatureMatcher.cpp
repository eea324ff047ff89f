#include "scan/SignatureMatcher.h"

#include <cstring>
#include <string_view>

namespace hx::scan {

void SignatureMatcher::build(const formats::SignatureTable& t) {
    table_ = &t;
    // Counted first, then placed: one array for each kind, in table order.
    std::array<std::uint32_t, 256> firstCount{}, boxedCount{};
    auto usable = [&t](std::size_t i) {
        const formats::SignatureRow& row = t[i];
        return !row.Signature1.empty() && row.SignatureOffset + row.Signature1.size() <= kSignatureWindow;
    };
    for (std::size_t i = 0; i < t.size(); ++i)
        if (usable(i)) {
            const auto b = static_cast<unsigned char>(t[i].Signature1[0]);
            ++(t[i].SignatureOffset == 0 ? firstCount : boxedCount)[b];
        }
    for (auto [by, count] : {std::pair{&first_, &firstCount}, std::pair{&boxed_, &boxedCount}}) {
        by->start[0] = 0;
        for (int b = 0; b < 256; ++b) by->start[b + 1] = by->start[b] + (*count)[b];
        by->rows.assign(by->start[256], 0);
        by->pairs.reset();
        *count = {};
    }
    for (std::size_t i = 0; i < t.size(); ++i)
        if (usable(i)) {
            const auto b = static_cast<unsigned char>(t[i].Signature1[0]);
            const bool atStart = t[i].SignatureOffset == 0;
            ByByte& by = atStart ? first_ : boxed_;
            std::uint32_t& placed = (atStart ? firstCount : boxedCount)[b];
            by.rows[by.start[b] + placed++] = static_cast<std::uint32_t>(i);
            const std::size_t high = static_cast<std::size_t>(b) << 8;
            if (t[i].Signature1.size() >= 2)
                by.pairs.set(high | static_cast<unsigned char>(t[i].Signature1[1]));
            else
                for (std::size_t low = 0; low < 256; ++low) by.pairs.set(high | low);
        }
    static constexpr std::uint8_t kZeros[kSignatureWindow] = {};
    zerosMatch_ = matchRows(kZeros);
}

int SignatureMatcher::match(const std::uint8_t* w, bool* blank) const {
    // A blank window, known at once: its first eight bytes, then all of it.
    static constexpr std::uint8_t kZeros[kSignatureWindow] = {};
    std::uint64_t head;
    std::memcpy(&head, w, sizeof head);
    const bool zeros = head == 0 && std::memcmp(w, kZeros, kSignatureWindow) == 0;
    if (blank) *blank = zeros;
    return zeros ? zerosMatch_ : matchRows(w);
}

int SignatureMatcher::matchRows(const std::uint8_t* w) const {
    const bool anyBoxed = !boxed_.rows.empty() && boxed_.mayStart(w + 4);
    if (!anyBoxed && !first_.mayStart(w)) return -1;
    const std::string_view window(reinterpret_cast<const char*>(w), kSignatureWindow);
    auto matches = [&](std::uint32_t idx) {
        const formats::SignatureRow& row = (*table_)[idx];
        const std::string& s1 = row.Signature1;
        if (std::memcmp(w + row.SignatureOffset, s1.data(), s1.size()) != 0) return false;
        if (row.Signature2.empty()) return true;
        const std::size_t from = s1.size() / 2 >= 1 ? s1.size() / 2 - 1 : 0;
        return window.find(row.Signature2, from) != std::string_view::npos;
    };
    // The two lists merged in table order.
    std::size_t i = first_.start[w[0]], iEnd = first_.start[w[0] + 1];
    std::size_t j = anyBoxed ? boxed_.start[w[4]] : 0, jEnd = anyBoxed ? boxed_.start[w[4] + 1] : 0;
    while (i < iEnd || j < jEnd) {
        const bool takeFirst = j >= jEnd || (i < iEnd && first_.rows[i] < boxed_.rows[j]);
        const std::uint32_t idx = takeFirst ? first_.rows[i++] : boxed_.rows[j++];
        if (matches(idx)) return static_cast<int>(idx);
    }
    return -1;
}

}  // namespace hx::scan
