#include "tsdb/file/consistency_check.h"

#include <set>
#include <unordered_map>

#include "tsdb/file/database.h"
#include "util/format.h"

namespace tsdb {

namespace {

class Checker {
public:
    explicit Checker(const Database& db) : db_(db), owners_(db.store_block_count()) {}

    ConsistencyFindings run() {
        claim(0, 1, "the header");
        for (ChainKind kind : all_chain_kinds) {
            for (const PointerChain& copy : db_.copies(kind)) {
                for (const ChainRun& run : copy.runs()) {
                    claim(run.first_dblock, run.blocks,
                          std::string(chain_kind_info(kind).name) + " copy " +
                              util::format_u64(copy.copy()));
                }
            }
        }
        check_levels();
        check_series();
        report_orphan_levels();
        return {problems_, completed_at_open_};
    }

private:
    void claim(uint32_t first, uint32_t n, const std::string& owner) {
        if (uint64_t{first} + n > owners_.size()) {
            problems_.push_back(owner + " lies beyond the end of the database (blocks " +
                                util::format_u64(first) + " to " +
                                util::format_u64(uint64_t{first} + n - 1) + ")");
            return;
        }
        for (uint32_t b = first; b < first + n; ++b) {
            if (!owners_[b].empty()) {
                problems_.push_back("block " + util::format_u64(b) + " belongs to both " +
                                    owners_[b] + " and " + owner);
                return;
            }
            owners_[b] = owner;
        }
    }

    void check_levels() {
        const PointerChain& lblocks = db_.chain(ChainKind::lblock);
        const PointerChain& heads = db_.chain(ChainKind::head);
        const PointerChain& tails = db_.chain(ChainKind::tail);
        if (heads.capacity() < lblocks.capacity() || tails.capacity() < lblocks.capacity()) {
            problems_.push_back("head or tail chain holds fewer entries than the lblock chain");
            return;
        }
        for (uint32_t l = 0; l < lblocks.capacity(); ++l) {
            const lblock_entry_t e = lblocks.lblock_entry(l);
            if (e.first_dblock == 0) {
                continue;
            }
            claim(e.first_dblock, e.dblocks, "lblock " + util::format_u64(l));
            unlisted_.insert(l);
            const uint64_t size = uint64_t{e.dblocks} * db_.block_size();
            if (heads.position(l) >= size || tails.position(l) >= size) {
                problems_.push_back("lblock " + util::format_u64(l) +
                                    " has its head or tail outside the level");
            }
        }
    }

    void check_series() {
        const PointerChain& checks = db_.chain(ChainKind::check);
        const PointerChain& lblocks = db_.chain(ChainKind::lblock);
        std::unordered_map<uint32_t, uint32_t> series_of_level;
        for (uint32_t c = 0; c < checks.capacity(); ++c) {
            const check_entry_t entry = checks.check_entry(c);
            if (entry.data_type == 0) {
                continue;
            }
            const std::string name = "check id " + util::format_u64(c);
            if (entry.data_type > 4) {
                problems_.push_back(name + " has data type " + util::format_u64(entry.data_type));
            }
            if (released_first_level(entry)) {
                completed_at_open_.push_back(
                    name +
                    " lies on released levels (a deletion a crash interrupted): the next "
                    "open removes the series");
                continue;
            }
            std::set<uint32_t> seen;
            for (uint32_t l = entry.first_lblock; l != 0; l = lblocks.lblock_entry(l).next) {
                unlisted_.erase(l);
                if (l >= lblocks.capacity() || lblocks.lblock_entry(l).first_dblock == 0) {
                    problems_.push_back(name + " refers to unallocated lblock " +
                                        util::format_u64(l));
                    break;
                }
                if (!seen.insert(l).second) {
                    problems_.push_back(name + " has a level list that loops at lblock " +
                                        util::format_u64(l));
                    break;
                }
                const auto [other, fresh] = series_of_level.emplace(l, c);
                if (!fresh) {
                    problems_.push_back("lblock " + util::format_u64(l) +
                                        " is a level of both check id " +
                                        util::format_u64(other->second) + " and " + name);
                }
            }
            if (entry.first_lblock == 0) {
                problems_.push_back(name + " has no levels");
            }
        }
    }

    bool released_first_level(const check_entry_t& entry) const {
        const PointerChain& lblocks = db_.chain(ChainKind::lblock);
        return entry.first_lblock != 0 && entry.first_lblock < lblocks.capacity() &&
               lblocks.lblock_entry(entry.first_lblock).first_dblock == 0;
    }

    void report_orphan_levels() {
        unlisted_.erase(0);  // reserved: "none"
        for (uint32_t l : unlisted_) {
            completed_at_open_.push_back(
                "lblock " + util::format_u64(l) +
                " belongs to no series (a creation, merge or rebuild a crash interrupted): the "
                "next open releases its " +
                util::format_u64(db_.chain(ChainKind::lblock).lblock_entry(l).dblocks) + " blocks");
        }
    }

    const Database& db_;
    std::vector<std::string> owners_;
    std::vector<std::string> problems_;
    std::vector<std::string> completed_at_open_;
    std::set<uint32_t> unlisted_;  // allocated levels no series has listed yet
};

}  // namespace

ConsistencyFindings check_consistency(const Database& db) { return Checker(db).run(); }

std::vector<std::string> find_problems(const Database& db) {
    return check_consistency(db).problems;
}

}  // namespace tsdb
