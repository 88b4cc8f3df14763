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

    std::vector<std::string> run() {
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
        return problems_;
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
            std::set<uint32_t> seen;
            for (uint32_t l = entry.first_lblock; l != 0; l = lblocks.lblock_entry(l).next) {
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

    const Database& db_;
    std::vector<std::string> owners_;
    std::vector<std::string> problems_;
};

}  // namespace

std::vector<std::string> find_problems(const Database& db) { return Checker(db).run(); }

}  // namespace tsdb
