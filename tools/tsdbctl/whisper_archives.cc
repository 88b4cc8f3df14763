#include <algorithm>
#include <bit>
#include <cmath>
#include <map>

#include "tools/options.h"
#include "tools/tsdbctl/archives.h"
#include "util/bytes.h"

namespace tsdbctl {

namespace {

// A whisper file: a 16-byte header (aggregation, maximum retention, x-files
// factor, archive count), 12 bytes per archive (offset, seconds per point,
// points), then each archive's ring of 12-byte points (time, value), all
// big-endian.
constexpr size_t header_size = 16;
constexpr size_t archive_info_size = 12;
constexpr size_t point_size = 12;

// The archive's known points, by time; a ring slot may still hold a point
// of an earlier round, which expired_left_out removes.
Archive archive_at(const std::string& file, const uint8_t* info, uint32_t count,
                   const std::string& path) {
    const uint32_t offset = util::load_be32(info);
    Archive archive{util::load_be32(info + 4), util::load_be32(info + 8), {}};
    if (archive.resolution == 0 || offset + uint64_t{archive.rows} * point_size > file.size()) {
        throw tools::EBadInput(path + " is not a whisper file (an archive lies outside it)");
    }
    if (offset < header_size + uint64_t{count} * archive_info_size) {
        throw tools::EBadInput(path +
                               ": an archive starts inside the header; no whisper tool "
                               "writes such a file");
    }
    if (archive.resolution == UINT32_MAX) {
        throw tools::EBadInput(path +
                               ": an archive of 4294967295 seconds per point; no whisper "
                               "tool writes such a file");
    }
    const auto* ring = util::bytes_of(file) + offset;
    std::map<int64_t, double> points;
    for (uint32_t p = 0; p < archive.rows; ++p) {
        const uint32_t t = util::load_be32(ring + size_t{p} * point_size);
        const double v = std::bit_cast<double>(util::load_be64(ring + size_t{p} * point_size + 4));
        if (t != 0 && t % archive.resolution == 0 && !std::isnan(v)) {
            points[t] = v;
        }
    }
    for (const auto& [t, v] : points) {
        archive.points.push_back({t, v, v, v});
    }
    return archive;
}

// whisper itself reads an archive back only as far as its retention
// reaches before the file's newest point: an archive that stopped taking
// points (too few finer ones to aggregate) still holds older ones.
void expired_left_out(std::vector<Archive>& archives) {
    int64_t newest = 0;
    for (const Archive& archive : archives) {
        if (!archive.points.empty()) {
            newest = std::max(newest, archive.points.back().start);
        }
    }
    for (Archive& archive : archives) {
        const int64_t oldest = newest - int64_t{archive.resolution} * archive.rows;
        std::erase_if(archive.points, [&](const ArchivePoint& p) { return p.start <= oldest; });
    }
}

// How the file aggregates a coarser point from finer ones.
std::string aggregation_name(uint32_t method) {
    static constexpr const char* names[] = {"average", "sum",      "last",   "max",
                                            "min",     "avg_zero", "absmax", "absmin"};
    return method >= 1 && method <= std::size(names) ? names[method - 1]
                                                     : "aggregation " + std::to_string(method);
}

}  // namespace

std::vector<Archive> read_whisper(const std::string& path) {
    const std::string file = tools::read_file(path);
    const auto* bytes = util::bytes_of(file);
    const uint32_t count = file.size() >= header_size ? util::load_be32(bytes + 12) : 0;
    if (count == 0 || header_size + uint64_t{count} * archive_info_size > file.size()) {
        throw tools::EBadInput(path + " is not a whisper file (no archives in its header)");
    }
    const std::string aggregation = aggregation_name(util::load_be32(bytes));
    std::vector<Archive> archives;
    for (uint32_t a = 0; a < count; ++a) {
        archives.push_back(
            archive_at(file, bytes + header_size + a * archive_info_size, count, path));
        archives.back().averages = aggregation == "average";
        archives.back().held = "avg from " + aggregation;
    }
    expired_left_out(archives);
    std::sort(archives.begin(), archives.end(),
              [](const Archive& a, const Archive& b) { return a.resolution < b.resolution; });
    for (size_t a = 1; a < archives.size(); ++a) {
        if (archives[a].resolution == archives[a - 1].resolution) {
            throw tools::EBadInput(path + ": two archives of " +
                                   std::to_string(archives[a].resolution) +
                                   " s per point; no whisper tool writes such a file");
        }
    }
    return archives;
}

}  // namespace tsdbctl
