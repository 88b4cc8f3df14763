// The archives of another store's file, read for an import: RRDtool's
// files through its library, whisper's by their published format. Each
// archive is a resolution, a number of rows and its known points.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tsdbctl {

// Values as the file holds them; an import refuses those a record cannot.
struct ArchivePoint {
    int64_t start;  // the point covers [start, start + resolution)
    double min;
    double avg;
    double max;
};

struct Archive {
    uint32_t resolution = 0;  // seconds
    uint32_t rows = 0;
    std::vector<ArchivePoint> points;  // oldest first; unknown values left out
};

// The archives of one data source (`ds`, or the file's first when empty),
// finest first; archives of one resolution with other consolidations (MIN,
// MAX) give the points their minimum and maximum. tools::EBadInput when the
// file cannot be read, has no such data source, or has a step, an archive of
// no rows or of no points per row that no RRDtool writes.
std::vector<Archive> read_rrd(const std::string& path, const std::string& ds);

// A whisper file's archives, finest first; a point's minimum and maximum
// are its value. tools::EBadInput for a file that is not one.
std::vector<Archive> read_whisper(const std::string& path);

}  // namespace tsdbctl
