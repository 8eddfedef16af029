// net/IdGlobalProtocols.cpp: internet dates, host tests, path resolution and wrapping.
#include "net/IdGlobalProtocols.h"

#include <chrono>
#include <cmath>

#include "net/IdGlobal.h"
#include "rtl/Format.h"
#include "rtl/Text.h"

namespace {

constexpr const char* kDayNames[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* kMonthNames[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

int NumberOr(std::string_view s, int def) {
    int32_t v;
    return rtl::TryStrToInt(s, v) ? v : def;
}

// Takes the text up to the first delimiter off the front (all of it when there is none).
std::string Fetch(std::string& text, std::string_view delimiter) { return CutAtDelimiter(text, delimiter, true, true); }

}  // namespace

std::string DateTimeToGmtText(rtl::TDateTime date) {
    int y, m, d, hh, mm, ss, ms;
    rtl::DecodeDate(date, y, m, d);
    rtl::DecodeTime(date, hh, mm, ss, ms);
    return rtl::Format("%s, %.2d %s %.4d %s %s", kDayNames[rtl::DayOfWeek(date) - 1], d, kMonthNames[m - 1], y,
                       rtl::Format("%.2d:%.2d:%.2d", hh, mm, ss), "GMT");
}

int DayNameIndex(std::string_view text) {
    for (int i = 0; i < 7; ++i)
        if (rtl::SameText(text, kDayNames[i])) return i + 1;
    return 0;
}

int MonthNameIndex(std::string_view text) {
    for (int i = 0; i < 12; ++i)
        if (rtl::SameText(text, kMonthNames[i])) return i + 1;
    return 0;
}

rtl::TDateTime ParseInternetDate(std::string& text) {
    std::string t = rtl::Trim(text);
    if (t.empty()) return 0;
    try {
        // A leading day name (and, in the RFC 850 form, the rest of the word) goes.
        if (t.size() >= 3 && DayNameIndex(std::string_view(t).substr(0, 3)) > 0) {
            if (t.size() > 4 && t[3] == ',' && t[4] != ' ') t = t.substr(0, 4) + " " + t.substr(4);
            Fetch(t, " ");
            t = rtl::TrimLeft(t);
        }
        const size_t firstSpace = t.find(' ');
        const size_t dash = t.find('-', 1);
        const std::string sep = (dash != std::string::npos && dash < firstSpace) ? "-" : " ";

        int day, month;
        std::string field = Fetch(t, sep);
        t = rtl::TrimLeft(t);
        if (MonthNameIndex(field) > 0) {
            month = MonthNameIndex(field);
            day = NumberOr(Fetch(t, sep), 1);
        } else {
            day = NumberOr(field, 1);
            month = MonthNameIndex(Fetch(t, sep));
        }
        t = rtl::TrimLeft(t);

        std::string word = Fetch(t, " ");
        int32_t year;
        if (!rtl::TryStrToInt(word, year)) {
            // The C library's form puts the time before the year.
            t = rtl::TrimLeft(t);
            if (!rtl::TryStrToInt(Fetch(t, " "), year)) return 0;
            t = t.empty() ? word : word + " " + t;
        }
        if (year < 80)
            year += 2000;
        else if (year < 100)
            year += 1900;
        rtl::TDateTime date;
        if (!rtl::TryEncodeDate(year, month, day, date)) return 0;

        bool am = false, pm = false;
        if (size_t p = t.find("AM"); p != std::string::npos) {
            t.erase(p);
            am = true;
        } else if (size_t q = t.find("PM"); q != std::string::npos) {
            t.erase(q);
            pm = true;
        }
        t = rtl::TrimLeft(t);
        if (t.find(':') != std::string::npos) {
            std::string timeWord = Fetch(t, " ");
            int hours = NumberOr(Fetch(timeWord, ":"), 0);
            const int minutes = NumberOr(Fetch(timeWord, ":"), 0);
            const int seconds = NumberOr(timeWord, 0);
            if (pm && hours < 12) hours += 12;
            if (am && hours == 12) hours = 0;
            rtl::TDateTime time;
            if (!rtl::TryEncodeTime(hours, minutes, seconds, 0, time)) return 0;
            date = rtl::CombineDateTime(date, time);
            t = rtl::TrimLeft(t);
        }
        text = rtl::TrimLeft(t);
        return date;
    } catch (const rtl::EConvertError&) {
        return 0;
    }
}

rtl::TDateTime ZoneOffsetToTime(std::string_view text) {
    const std::string t = rtl::Trim(text);
    if (t.size() < 5 || (t[0] != '+' && t[0] != '-')) return 0;
    for (size_t i = 1; i < 5; ++i)
        if (t[i] < '0' || t[i] > '9') return 0;
    const int hours = (t[1] - '0') * 10 + (t[2] - '0');
    const int minutes = (t[3] - '0') * 10 + (t[4] - '0');
    if (hours > 23 || minutes > 59) return 0;
    const rtl::TDateTime offset = (hours * 60 + minutes) / 1440.0;
    return t[0] == '-' ? -offset : offset;
}

rtl::TDateTime GetLocalTimeOffset() {
    try {
        const auto now = std::chrono::time_point_cast<std::chrono::seconds>(std::chrono::system_clock::now());
        const rtl::TDateTime diff = rtl::DateTimeFromTimePoint(now, false) - rtl::DateTimeFromTimePoint(now, true);
        // Whole minutes: zones are offset by minutes.
        return double(std::llround(diff * 1440.0)) / 1440.0;
    } catch (const rtl::Exception&) {
        EIdException::RaiseIdException<EIdFailedToRetreiveTimeZoneInfo>(
            "Failed attempting to retrieve time zone information.");
    }
}

rtl::TDateTime UtcToLocalDateTime(rtl::TDateTime utc) {
    try {
        return rtl::DateTimeFromTimePoint(rtl::TimePointFromDateTime(utc, true), false);
    } catch (const rtl::EConvertError&) {
        EIdException::RaiseIdException<EIdFailedToRetreiveTimeZoneInfo>(
            "Failed attempting to retrieve time zone information.");
    }
}

rtl::TDateTime GmtTextToDateTime(const std::string& text) {
    if (text.empty()) return 0;
    std::string rest = text;
    rtl::TDateTime date = ParseInternetDate(rest);
    if (date == 0) return 0;
    // Zone names of four characters or fewer ("GMT", "UTC", "EST") count as offset 0.
    if (rest.size() >= 5) date -= ZoneOffsetToTime(rest);
    return UtcToLocalDateTime(date);
}

bool IsIPv4TextTrimmed(std::string_view text) {
    std::string t = rtl::Trim(text);
    for (int i = 0; i < 4; ++i) {
        int32_t v;
        if (!rtl::TryStrToInt(Fetch(t, "."), v) || v < 0 || v > 255) return false;
    }
    return true;
}

bool IsHostName(std::string_view text) {
    if (text.find('.') != std::string_view::npos && !text.empty() && text.front() == '.') return false;
    return !IsIPv4TextTrimmed(text);
}

std::string DomainPart(std::string_view text) {
    const size_t p = text.find('.');
    return std::string(p == std::string_view::npos ? text : text.substr(p));
}

int RPosText(std::string_view sub, std::string_view text, int start) {
    if (sub.empty() || sub.size() > text.size()) return 0;
    const std::string s = rtl::UpperCase(sub);
    const std::string t = rtl::UpperCase(text);
    const size_t from = start < 0 ? std::string::npos : size_t(start - 1);
    if (start == 0) return 0;
    const size_t p = t.rfind(s, from);
    return p == std::string::npos ? 0 : int(p) + 1;
}

std::string RightChars(std::string_view text, int count) {
    if (count < 0 || size_t(count) >= text.size()) return std::string(text);
    return std::string(text.substr(text.size() - size_t(count)));
}

std::string ResolveRelativePath(std::string_view base, std::string_view path, char delimiter) {
    if (!path.empty() && path.front() == delimiter) return std::string(path);
    const bool pathEndsWithDelimiter = path.empty() || path.back() == delimiter;
    std::string work(base);
    if (!work.empty() && work.back() != delimiter) work += delimiter;
    work += path;

    std::string result;
    for (size_t i = 0; i < work.size(); ++i) {
        const char c = work[i];
        if (c == delimiter) {
            if (i == 0 || result.empty() || result.back() != delimiter) result += c;
        } else if (c == '.' && !result.empty() && result.back() == delimiter && work.compare(i, 2, "..") == 0) {
            // A ".." segment: drop the last segment of the result.
            result.pop_back();
            while (!result.empty() && result.back() != delimiter) result.pop_back();
            ++i;
        } else {
            result += c;
        }
    }
    if (result.size() > 1 && result.back() == delimiter && !pathEndsWithDelimiter) result.pop_back();
    return result;
}

std::string WrapAtBreaks(std::string_view text, std::string_view breakText, std::string_view breakChars,
                         int width) {
    // Positions are 1-based, as the algorithm is stated; at(p) is the character at p.
    const size_t len = text.size();
    auto at = [&](size_t p) { return text[p - 1]; };
    auto isBreakChar = [&](char c) { return breakChars.find(c) != std::string_view::npos; };
    size_t col = 1, lineStart = 1, breakPos = 0, p = 1;
    bool inQuote = false, existingBreak = false;
    std::string result;
    while (p <= len) {
        const char c = at(p);
        if (!breakText.empty() && c == breakText.front() && !inQuote && p + breakText.size() - 1 <= len &&
            rtl::SameText(text.substr(p - 1, breakText.size()), breakText)) {
            existingBreak = true;
            p += breakText.size() - 1;
            breakPos = p;
        } else if (isBreakChar(c)) {
            if (!inQuote) breakPos = p;
        } else if (c == '"') {
            inQuote = !inQuote;
        }
        ++p;
        ++col;
        if (!inQuote && (existingBreak || (col > size_t(width) && lineStart < breakPos))) {
            col = p - breakPos;
            result.append(text.substr(lineStart - 1, breakPos - lineStart + 1));
            if (c != '"')
                while (p <= len && (isBreakChar(at(p)) || at(p) == '\r' || at(p) == '\n')) ++p;
            if (!existingBreak && p < len) result.append(breakText);
            lineStart = breakPos + 1;
            existingBreak = false;
        }
    }
    if (lineStart <= len) result.append(text.substr(lineStart - 1));
    return result;
}
