#include "filesystems/UndeleteEntry.h"

#include <cmath>
#include <cstdio>
#include <ctime>

namespace hx::filesystems {

namespace {
// Days from 1970-01-01 to a proleptic Gregorian date (Howard Hinnant's algorithm).
long long daysFromCivil(long long y, unsigned m, unsigned d) {
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<long long>(doe) - 719468;
}
void civilFromDays(long long z, int& y, unsigned& m, unsigned& d) {
    z += 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const long long yy = static_cast<long long>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y = static_cast<int>(yy + (m <= 2));
}
constexpr long long kEpochOffset = 25569;  // 1970-01-01 as a day count since 1899-12-30
}  // namespace

double DateSerial(int year, int month, int day) {
    long long y = year;
    long long m0 = month - 1;
    y += (m0 >= 0 ? m0 / 12 : (m0 - 11) / 12);
    m0 = ((m0 % 12) + 12) % 12;
    return static_cast<double>(daysFromCivil(y, static_cast<unsigned>(m0 + 1), 1) + kEpochOffset + day - 1);
}

double TimeSerial(int hours, int minutes, int seconds) {
    return (hours * 3600.0 + minutes * 60.0 + seconds) / 86400.0;
}

int YearOf(double date) {
    int y;
    unsigned m, d;
    civilFromDays(static_cast<long long>(std::floor(date)) - kEpochOffset, y, m, d);
    return y;
}

double FatDateTime(std::uint16_t date, std::uint16_t time) {
    const int day = date & 0x1F;
    const int month = (date >> 5) & 0x0F;
    const int year = 1980 + (date >> 9);
    return DateSerial(year, month, day) + TimeSerial(time >> 11, (time >> 5) & 0x3F, (time & 0x1F) * 2);
}

double FileTimeToLocalDate(std::uint64_t fileTime) {
    constexpr std::uint64_t kTicksTo1970 = 116444736000000000ull;
    if (fileTime < kTicksTo1970) return static_cast<double>(fileTime) / 864000000000.0 - 109205.0;
    const std::time_t t = static_cast<std::time_t>((fileTime - kTicksTo1970) / 10000000ull);
    std::tm local{};
    if (!localtime_r(&t, &local)) return 0;
    const double frac = static_cast<double>((fileTime - kTicksTo1970) % 10000000ull) / 1e7 / 86400.0;
    return DateSerial(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday) +
           TimeSerial(local.tm_hour, local.tm_min, local.tm_sec) + frac;
}

std::string FormatDate(double date) {
    const double day = std::floor(date);
    int y;
    unsigned m, d;
    civilFromDays(static_cast<long long>(day) - kEpochOffset, y, m, d);
    long secs = std::lround((date - day) * 86400.0);
    if (secs >= 86400) secs = 86399;
    char buf[40];
    std::snprintf(buf, sizeof buf, "%04d-%02u-%02u %02ld:%02ld:%02ld", y, m, d, secs / 3600, (secs / 60) % 60,
                  secs % 60);
    return buf;
}

std::string GroupThousands(std::uint64_t n) {
    const std::string digits = std::to_string(n);
    std::string out;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i && (digits.size() - i) % 3 == 0) out += ',';
        out += digits[i];
    }
    return out;
}

std::string LowerAscii(std::string s) {
    for (auto& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

}  // namespace hx::filesystems
