/// \file
/// Appending XML tags to a document held in a string. Nothing is escaped: names and
/// values are copied as they are, so callers pass only text that is valid in XML at
/// that place. Each helper appends to the end of `a` and touches nothing before it; a
/// null tag name is taken as empty.
#ifndef XRQ5_ATTR_TAGS_FUNCTIONS_H
#define XRQ5_ATTR_TAGS_FUNCTIONS_H

#include "xrq5_export.h"

#include <string>
#include <vector>

XRQ5_API void START_TAG(std::string& a, const char* b);   ///< "<b>"
XRQ5_API void START_TAGN(std::string& a, const char* b);  ///< "<b>\n"
XRQ5_API void END_TAG(std::string& a, const char* b);     ///< "</b>"
XRQ5_API void END_TAGN(std::string& a, const char* b);    ///< "</b>\n"

/// A tag with attributes: "<b", a blank, then for each name in `at` its pair
/// name="value" (pairs separated by one blank; the value is v[i]), then the ending:
///   START_TAG_ATTR     "/>"     (closed at once)
///   START_TAG_ATTRN    "/>\n"
///   START_TAG_ATTRNS   ">"      (left open for content)
///   START_TAG_ATTRNNS  ">\n"
/// The blank after the name is written also without attributes. Values are fetched
/// with a range-checked index: a `v` shorter than `at` throws std::out_of_range after
/// the preceding pairs were appended. A null `at` means no attributes.
///@{
XRQ5_API void START_TAG_ATTR(std::string& a, const char* b, std::vector<char*>* at, std::vector<char*>* v);
XRQ5_API void START_TAG_ATTRN(std::string& a, const char* b, std::vector<char*>* at, std::vector<char*>* v);
XRQ5_API void START_TAG_ATTRNS(std::string& a, const char* b, std::vector<char*>* at, std::vector<char*>* v);
XRQ5_API void START_TAG_ATTRNNS(std::string& a, const char* b, std::vector<char*>* at,
                       std::vector<char*>* v);
///@}

#endif  // XRQ5_ATTR_TAGS_FUNCTIONS_H
