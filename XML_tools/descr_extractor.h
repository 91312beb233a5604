/// \file
/// Loading channel descriptions for a DAQ client from XCD files or in-memory XCD texts.
#ifndef XRQ5_DESCR_EXTRACTOR_H
#define XRQ5_DESCR_EXTRACTOR_H

#include <vector>

#include "parse_chan_descr.h"

/// Reads channel descriptions from a list of XCD files or XCD texts, as its mode says.
class XRQ5_API descr_extractor {
 public:
  descr_extractor();  ///< mode EXTR_FROM_FILE
  ~descr_extractor();

  /// Reads every name of `source` in order, as a file path (mode EXTR_FROM_FILE) or as an
  /// NUL-terminated XCD text (EXTR_FROM_XML), appending the descriptions to `out` (with
  /// `shift`, duplicates kept; any other mode reads nothing). True when the last read
  /// failed, and then *total is left alone; else false with the number of good reads
  /// in *total (total may be null). An empty source stores 0 and gives false.
  bool get_descriptions(std::vector<char*>& source, int* total, std::vector<chan_descr_2010*>& out,
                        bool shift);

  /// Stores m; false for EXTR_FROM_FILE and EXTR_FROM_XML, true (still stored) otherwise.
  bool set_mode(int m);
  int get_mode();  ///< the stored mode

 private:
  bool in_vector(std::vector<int>& in, int ent);
  int mode;
};

#endif  // XRQ5_DESCR_EXTRACTOR_H
