#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

// One line of a LIST scan listing.
struct ScanListingEntry {
    std::int32_t number = 0;
    std::int32_t size = 0;
};

struct ScanListing {
    std::int32_t count = 0;  // the count at the start of the status text; 0 when there is none
    std::vector<ScanListingEntry> entries;
};

// Reads a LIST reply's rest: the status text after "+OK ", then CR LF and
// one "number size" line per message. Lines that do not hold two numbers
// are skipped; with a count of 0 no line is read.
ScanListing ParseScanListing(std::string_view rest);

// Whether a CAPA reply's rest lists PIPELINING: a capability line whose
// first word is PIPELINING in any case. The status line is not read.
bool OffersPipelining(std::string_view rest);
