/// \file
/// GigE camera feature descriptions: the features of a camera read from its feature
/// XML file through a DOM parse, as a flat list of records in document order.
///
/// A feature element (FeatureTags) opens a record named by its Name attribute. The
/// ToolTip, Description and Extension/PvRename elements that follow it, up to the next
/// feature element and at any depth, fill the last record: a later one overwrites an
/// earlier one, and a PvRename gives its text or its Name attribute as the extension.
/// An element's Name attribute names the last record while it has no name yet.
#ifndef XRQ5_GIGE_DESCR_H
#define XRQ5_GIGE_DESCR_H

#include "xrq5_export.h"

#include <string>
#include <vector>

#include <xercesc/dom/DOMNodeList.hpp>

/// Feature element names and the types they give, FeatureTags[type].
enum feature_tags {
  FEATURE_TYPE_UNDEF = 0,     ///< "Undefined"
  FEATURE_TYPE_INT = 1,       ///< "Integer"
  FEATURE_TYPE_FLOAT = 2,     ///< "Float"
  FEATURE_TYPE_ENUMER = 3,    ///< "Enumeration"
  FEATURE_TYPE_BOOL = 4,      ///< "Boolean"
  FEATURE_TYPE_STRING = 5,    ///< "StringReg"
  FEATURE_TYPE_COMMAND = 6,   ///< "Command"
  FEATURE_TYPE_REGISTER = 7,  ///< "IntReg"
  FEATURE_TYPE_LONG = 8,      ///< "Int64"
  FEATURE_TYPE_MAX = 9        ///< number of feature types
};

/// Elements that fill the last feature, MoreTags[...].
enum more_tags {
  MORE_TAGS_EXTENSION = 0,    ///< "Extension"
  MORE_TAGS_PVRENAME = 1,     ///< "PvRename"
  MORE_TAGS_TOOLTIP = 2,      ///< "ToolTip"
  MORE_TAGS_DESCRIPTION = 3,  ///< "Description"
  MORE_TAGS_MAX = 4           ///< number of such elements
};

/// Attributes read, Attributes[...].
enum attribute_names {
  ATTRIBUTE_NAME = 0,  ///< "Name"
  ATTRIBUTE_MAX = 1    ///< number of attributes read
};

/// Element names of the feature types, by feature_tags.
XRQ5_API extern const char* const FeatureTags[FEATURE_TYPE_MAX];
/// Names of the elements that fill a feature, by more_tags.
XRQ5_API extern const char* const MoreTags[MORE_TAGS_MAX];
/// Names of the attributes read, by attribute_names.
XRQ5_API extern const char* const Attributes[ATTRIBUTE_MAX];

/// One feature; texts are empty when the file gave none.
struct XRQ5GigEFeature {
  int type;  ///< feature_tags
  std::string name;         ///< from a Name attribute (see above)
  std::string extension;    ///< from Extension or PvRename
  std::string tooltip;      ///< from ToolTip
  std::string description;  ///< from Description
};

/// Reads the feature file `file_name` into `out` (new/delete records). `out` is emptied
/// first without freeing what it held: clean an old list before. False on success
/// (also for a file without features); true for a null argument (silently), when the
/// platform cannot start, when the parse throws, and when the file drew parse errors
/// (messages on standard output; `out` untouched then). External DTDs and entities are
/// not fetched, entity expansion is bounded, and a file whose elements nest deeper than
/// 256 levels (the root is the first) is refused as soon as the scan reaches that depth.
XRQ5_API bool xrq5_fill_gige_descr(char* file_name, std::vector<XRQ5GigEFeature*>* out);

/// Walks `nodes` and their descendants depth-first in document order, adding and
/// filling records in `out` (the records keep their "Unknown"/"Waiting" markers;
/// xrq5_fill_gige_descr clears them). False; true when a DOM exception stopped the walk
/// of `nodes` itself (one in a deeper list stops that list only, with its message).
XRQ5_API bool dump_nodes(xercesc::DOMNodeList* nodes, std::vector<XRQ5GigEFeature*>* out);

/// Prints every named record with its position in the list:
/// "[i] Name:'n' type:t ToolTip:'...' Description:'...'", with "Extension:'e'" after
/// the name when there is one. Nothing for null.
XRQ5_API void xrq5_dump_gige_descr(std::vector<XRQ5GigEFeature*>* out);

/// Deletes the records and empties the vector; nothing for null.
XRQ5_API void xrq5_clean_gige_descr(std::vector<XRQ5GigEFeature*>* out);

#endif  // XRQ5_GIGE_DESCR_H
