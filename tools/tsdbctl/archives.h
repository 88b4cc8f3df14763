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
    bool averages = true;              // whether the values are averages
    std::string held = {};             // what the points hold, from what: "avg from MAX"
};

// The archives of one data source (`ds`, or the file's first when empty),
// finest first; archives of one resolution with other consolidations (MIN,
// MAX) give the points their minimum and maximum; without AVERAGE, LAST or
// else MAX stands for the average. Prediction archives (Holt-Winters) are
// left out, said in `notes`. tools::EBadInput when the file cannot be read,
// has no such data source, or has a step, an archive of no rows or of no
// points per row that no RRDtool writes.
std::vector<Archive> read_rrd(const std::string& path, const std::string& ds,
                              std::vector<std::string>& notes);

// A whisper file's archives, finest first, each with the points whisper
// itself reads back: those within the archive's retention before the
// file's newest point. A point's minimum and maximum are its value, an
// average only when the file aggregates by average.
// tools::EBadInput for a file that is not one, or a header no whisper tool
// writes (two archives of one resolution, one inside the header, a
// resolution of 2^32 - 1 seconds).
std::vector<Archive> read_whisper(const std::string& path);

}  // namespace tsdbctl
