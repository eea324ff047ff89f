#include "formats/SignatureTable.h"

#include <algorithm>
#include <unordered_set>
#include <cctype>

#include "shell/AddedStrings.h"
#include "shell/Strings.h"
#include "formats/Formats.h"

namespace hx::formats {

namespace {

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return 0;
}

std::size_t weightPrevious(const SignatureRow& r) { return 4 * r.Signature1.size() + r.Signature2.size(); }
std::size_t weightNew(const SignatureRow& r) { return 8 * r.Signature1.size() + 2 * r.Signature2.size(); }

}  // namespace

std::string HexToBytes(const std::string& hex) {
    std::string out;
    out.reserve(hex.size() / 2 + 1);
    std::size_t i = 0;
    for (; i + 1 < hex.size(); i += 2)
        out.push_back(static_cast<char>(hexDigit(hex[i]) * 16 + hexDigit(hex[i + 1])));
    if (i < hex.size()) out.push_back(static_cast<char>(hexDigit(hex[i])));
    return out;
}

std::string Described(const std::string& name) {
    std::string out;
    for (char c : name) {
        if (c == ' ' && (out.empty() || out.back() == ' ')) continue;
        out += c;
    }
    while (!out.empty() && out.back() == ' ') out.pop_back();
    return out;
}

std::string FixedName(const std::string& name) {
    std::string n = name.substr(0, 10);
    n.resize(10, ' ');
    return n;
}

namespace {

// The type list's row for one of the registry's signatures.
SignatureRow RowOf(const formats::Signature& sig) {
    SignatureRow row;
    row.Extension = sig.extension;
    const std::string literal(sig.name);
    const std::string name = sig.nameId ? shell::LoadStr(sig.nameId, literal) : literal;
    row.DisplayName = FixedName(name);
    row.Description = sig.nameId ? Described(name) : shell::TypeDescription(Described(name));
    row.Signature1 = HexToBytes(sig.first);
    if (sig.second) {
        row.Signature2 = HexToBytes(sig.second);
    } else {
        // A compound document: its sector table's run of free sectors.
        row.Signature2.assign(292, '\xFF');
        row.Signature2.append(2, '\0');
        row.Signature4 = "MSWordDoc";
    }
    row.SignatureOffset = sig.offset;
    row.NeedsStructure = sig.needsStructure;
    if (row.Extension == ".bmp") row.Aux1 = row.Aux2 = 2;
    return row;
}

}  // namespace

SignatureRow BuiltInRow(int number) {
    if (number < 0 || number > kLastBuiltInRow) return {};
    const formats::Signature* sig = formats::SignatureNumbered(number);
    return sig ? RowOf(*sig) : SignatureRow{};
}

SignatureRow ModernRow(int number) {
    if (number < 0 || number >= ModernRowCount()) return {};
    return RowOf(*formats::SignatureNumbered(formats::kFirstAddedSignature + number));
}

int ModernRowCount() {
    static const int count = [] {
        int n = 0;
        while (formats::SignatureNumbered(formats::kFirstAddedSignature + n)) ++n;
        return n;
    }();
    return count;
}

std::vector<SignatureRow> EveryRow() {
    std::vector<SignatureRow> rows;
    for (int n = 0; n <= kLastBuiltInRow; ++n)
        if (SignatureRow row = BuiltInRow(n); !row.Extension.empty()) rows.push_back(std::move(row));
    for (int n = 0; n < ModernRowCount(); ++n) rows.push_back(ModernRow(n));
    return rows;
}

std::string EveryTypeSelection() {
    std::string selection;
    for (const auto& row : EveryRow())
        if (selection.find(row.key()) == std::string::npos) selection += row.key();
    return selection + "|";
}

SignatureTable BuildSignatureTable(const std::string& selection) {
    SignatureTable table(1);  // index 0: the spare slot
    const bool all = selection == "all";
    for (int n = 0; n <= kLastBuiltInRow; ++n) {
        SignatureRow row = BuiltInRow(n);
        if (row.Extension.empty() || row.Signature1.empty()) continue;
        if (!all && selection.find(row.key()) == std::string::npos) continue;
        const std::size_t spare = table.size() - 1;
        if (spare > 0 && weightPrevious(table[spare - 1]) < weightNew(row)) {
            table[spare] = std::move(table[spare - 1]);
            table[spare - 1] = std::move(row);
        } else {
            table[spare] = std::move(row);
        }
        table.emplace_back();
    }
    table.pop_back();
    for (int n = 0; n < ModernRowCount(); ++n) {
        SignatureRow row = ModernRow(n);
        if (selection.find(row.key()) != std::string::npos) table.push_back(std::move(row));
    }
    return table;
}

void OrderForScan(SignatureTable& table) {
    for (std::size_t j = 1; j < table.size(); ++j) {
        for (std::size_t i = 0; i < j; ++i) {
            const SignatureRow& a = table[i];
            const SignatureRow& b = table[j];
            const bool prefix = a.SignatureOffset == b.SignatureOffset &&
                                b.Signature1.compare(0, a.Signature1.size(), a.Signature1) == 0 &&
                                b.Signature1.size() >= a.Signature1.size();
            if (prefix && (b.Signature1.size() > a.Signature1.size() || b.Signature2.size() > a.Signature2.size())) {
                std::rotate(table.begin() + static_cast<std::ptrdiff_t>(i),
                            table.begin() + static_cast<std::ptrdiff_t>(j),
                            table.begin() + static_cast<std::ptrdiff_t>(j) + 1);
                break;
            }
        }
    }
}

std::string TableExtensions(const SignatureTable& table) {
    std::unordered_set<std::string> seen;
    std::string out;
    for (const auto& row : table) {
        std::string ext = row.Extension;
        std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
        if (seen.insert(ext).second) out += ext;
    }
    return out;
}

}  // namespace hx::formats
