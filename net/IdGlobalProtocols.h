// net/IdGlobalProtocols.h: helpers that several protocols share.
//
// Internet date texts both ways (the three date forms of HTTP, RFC 7231 section 7.1.1.1)
// with zone offsets, host-name and address tests of the cookie code, a backward text search,
// the resolution of relative paths used for redirections, and the text-wrapping engine of
// header folding. Day and month names are the English abbreviations of internet dates,
// never localised. Dates are rtl::TDateTime values. A GMT date becomes local time with the
// zone offset in force at that instant, not today's, so a winter date read in summer is
// right.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "rtl/DateTime.h"

// "Tue, 08 Dec 2026 22:47:48 GMT". The date is written as given: callers pass a GMT time.
std::string DateTimeToGmtText(rtl::TDateTime date);
// The local time of an internet date text; 0 for empty or unreadable text.
rtl::TDateTime GmtTextToDateTime(const std::string& text);
// The date of an internet date text in any of the three forms, as written (no zone applied);
// the unparsed rest (normally the zone) is left in text. 0 when the text is no date.
rtl::TDateTime ParseInternetDate(std::string& text);
// "+HHMM" / "-HHMM" (the first five characters of the trimmed text) as a signed day
// fraction; anything else gives 0.
rtl::TDateTime ZoneOffsetToTime(std::string_view text);
// Local time minus UTC now, as a day fraction (EIdFailedToRetreiveTimeZoneInfo when the
// zone cannot be read).
rtl::TDateTime GetLocalTimeOffset();
// The local time of a UTC date, with the offset in force at that instant.
rtl::TDateTime UtcToLocalDateTime(rtl::TDateTime utc);

// 1..7 for "SUN".."SAT", 1..12 for "JAN".."DEC" (any case), else 0.
int DayNameIndex(std::string_view text);
int MonthNameIndex(std::string_view text);

// Four dot-separated numbers 0..255 at the front of the trimmed text (what follows the
// fourth is not looked at).
bool IsIPv4TextTrimmed(std::string_view text);
// False for a dotted text beginning with "."; else true unless it is an IPv4 text.
bool IsHostName(std::string_view text);
// From the first "." (included) to the end; the whole text when there is none.
std::string DomainPart(std::string_view text);
// 1-based position of the last occurrence of sub beginning at or before start (-1: the
// end), ignoring case; 0 when none.
int RPosText(std::string_view sub, std::string_view text, int start = -1);
// The last count characters; the whole text for a larger or negative count.
std::string RightChars(std::string_view text, int count);
// path resolved against base ("." and ".." segments of the path folded in).
std::string ResolveRelativePath(std::string_view base, std::string_view path, char delimiter = '/');
// Text is UTF-8: no byte is a lead byte of a double-byte character.
inline bool IsLeadByte(uint8_t) { return false; }

// Breaks text into lines of at most width characters at a break character (or keeps a
// break text already present), inserting breakText; a quoted run ("...") is never broken,
// and a text without a break character after the width stays one long line.
std::string WrapAtBreaks(std::string_view text, std::string_view breakText, std::string_view breakChars,
                         int width);
