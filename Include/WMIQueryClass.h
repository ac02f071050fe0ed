// The class named by a WQL query, found without parsing WQL: what follows the first "from", up to the first
// "where".
#pragma once

#include "oleauto.h"

#include <string>

// Returns the class part of `query`, lower-cased (CharLowerW), with every space (U+0020) removed; tabs and
// other characters stay. The query is read up to its first NUL or its length, whichever comes first; a null
// BSTR is the empty query.
// - No "from" anywhere: the empty string.
// - The class part starts five characters after the first "from" (the word and exactly one separator,
//   whatever it is) and ends before the first "where" of the whole text, or at the end of the text when that
//   "where" is missing or lies before the start.
// Throws std::out_of_range, reading nothing beyond the text, when the query ends with that "from" (fewer
// than five characters from its start): the request frame reports it as E_UNEXPECTED. Throws std::bad_alloc
// when memory runs out.
std::wstring ParseQueryClass(BSTR query);
