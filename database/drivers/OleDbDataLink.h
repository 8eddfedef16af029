// database/drivers/OleDbDataLink.h: the data-link object of the COM-style runtime, and the
// initialisation-string reader and writer it uses (namespace oledb).
//
// The OLE DB driver creates the data-link object (com::CLSID_MSDAINITIALIZE) and asks its
// IDataInitialize for the data source an initialisation string describes. The object reads
// the string ("KEY=value;KEY=value"), loads the provider named by PROVIDER=
// (com::CreateProviderDataSource), and hands every other key to the provider as an
// initialisation property: the keys below by their property, the rest joined, as a string of
// the same form, into the provider string (DBPROP_INIT_PROVIDERSTRING). Properties are set as
// optional: a provider that lacks one is still given the others.
//
// The initialisation string's form: pairs separated by ";"; a key ends at its first single
// "=" ("==" in a key is an "="); keys are trimmed and compared without case, and of repeated
// keys the last counts; a value is trimmed (of blanks and control characters), or quoted with '"' or "'" (the quote doubled
// inside), and a quoted value may be followed only by blanks before the ";". A string is
// refused (with the reason) when a pair has no "=", a key is empty, a quote is not closed,
// something follows a closing quote, or the string is longer than kMaxInitStringLength.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "database/drivers/OleDbApi.h"

namespace oledb {

// Initialisation strings longer than this are refused: no data source needs more, and the
// reader must not be made to copy without end.
inline constexpr size_t kMaxInitStringLength = 64 * 1024;

struct TInitStringPair {
    std::string Key;
    std::string Value;
};

// False with the reason when the text is not an initialisation string.
bool ParseInitString(std::string_view text, std::vector<TInitStringPair>& pairs, std::string& error);
// The value as the string must hold it: as it stands when nothing in it could end it or start
// another pair, else in double quotes with its double quotes doubled.
std::string QuoteInitValue(std::string_view value);
// "KEY=value;KEY=value" with the values quoted where they need it (keys holding "=" doubled).
std::string BuildInitString(const std::vector<TInitStringPair>& pairs);
// The value of a key (last occurrence, case ignored); false when absent.
bool FindInitValue(const std::vector<TInitStringPair>& pairs, std::string_view key, std::string& value);

// The initialisation property a key stands for (DBPROPSET_DBINIT); 0 for a key the provider
// receives in its provider string.
DBPROPID InitPropertyOfKey(std::string_view key);

// A new data-link object asked for as iid (com::CoCreateInstance's road).
HRESULT CreateDataLink(const IID& iid, void** object);

}  // namespace oledb
