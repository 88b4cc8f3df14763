#include "tools/tsdbctl/aligned.h"

#include <algorithm>
#include <iomanip>
#include <optional>

#include "tools/json.h"
#include "tools/options.h"
#include "tools/time_arg.h"
#include "tools/tsdbctl/series_reads.h"

namespace tsdbctl {

namespace {

// One series' cells: weighted sums of averages, or masks.
struct Column {
    uint32_t type = 0;
    std::vector<double> sum;
    std::vector<double> weight;
    std::vector<uint32_t> mask;

    std::optional<std::string> text(size_t cell) const {
        if (type == tsdb::type_enum) {
            return mask[cell] == 0 ? std::nullopt : std::optional(std::to_string(mask[cell]));
        }
        if (weight[cell] == 0) {
            return std::nullopt;
        }
        return tools::float_text(static_cast<float>(sum[cell] / weight[cell]));
    }
};

// The cells [first, last) a span overlaps, with the share of it in each.
template <typename Visit>
void for_each_cell(const Grid& grid, int64_t start, int64_t end, Visit&& visit) {
    const int64_t span = std::max<int64_t>(end - start, 1);
    const int64_t grid_end = grid.from + grid.step * static_cast<int64_t>(grid.cells);
    for (int64_t at = std::max(start, grid.from);
         at < std::min(std::max(end, start + 1), grid_end);) {
        const auto cell = static_cast<size_t>((at - grid.from) / grid.step);
        const int64_t cell_end = grid.from + grid.step * static_cast<int64_t>(cell + 1);
        const int64_t until = std::min({cell_end, std::max(end, start + 1)});
        visit(cell, double(until - at) / double(span));
        at = until;
    }
}

Column column_of(Context& c, uint32_t id, const Grid& grid) {
    Column column;
    column.type = type_of_existing(c.backend->client(), id);
    if (column.type == tsdb::type_incident) {
        throw tools::EBadInput("series " + std::to_string(id) +
                               " holds incidents, which have no values to align; get it alone");
    }
    column.sum.assign(grid.cells, 0);
    column.weight.assign(grid.cells, 0);
    column.mask.assign(grid.cells, 0);
    const int64_t to = grid.from + grid.step * static_cast<int64_t>(grid.cells);
    // Records that start before the grid may reach into it.
    const tsdb::interval_list records =
        c.backend->client().get({id, tools::protocol_type(column.type), 0, true, 0, to, 0, 0});
    for (const auto& i : records.items) {
        if (const auto* v = dynamic_cast<const tsdb::data_interval_continuous_t*>(i.get())) {
            for_each_cell(grid, v->start, v->end, [&](size_t cell, double share) {
                column.sum[cell] += double{v->avg} * v->ngood * share;
                column.weight[cell] += v->ngood * share;
            });
        } else if (const auto* e = dynamic_cast<const tsdb::data_interval_enum_t*>(i.get())) {
            for_each_cell(grid, e->start, e->end,
                          [&](size_t cell, double) { column.mask[cell] |= e->mask; });
        }
    }
    return column;
}

void write_json(Context& c, const std::vector<uint32_t>& ids, const std::vector<Column>& columns,
                const Grid& grid) {
    tools::Json json;
    json.begin_object().key("from").value(grid.from).key("step").value(grid.step);
    json.key("series").begin_array();
    for (uint32_t id : ids) {
        json.value(uint64_t{id});
    }
    json.end_array().key("rows").begin_array();
    for (size_t cell = 0; cell < grid.cells; ++cell) {
        json.begin_array().value(grid.from + grid.step * static_cast<int64_t>(cell));
        for (const Column& column : columns) {
            json.number(column.text(cell).value_or(""));
        }
        json.end_array();
    }
    c.out << json.end_array().end_object().text() << "\n";
}

void write_rows(Context& c, const std::vector<uint32_t>& ids, const std::vector<Column>& columns,
                const Grid& grid, tools::Format format, bool utc) {
    const bool table = format == tools::Format::table;
    const char* gap = table ? "  " : ",";
    c.out << std::left << (table ? std::setw(19) : std::setw(0))
          << (table ? "time (" + tools::zone_name(utc) + ")" : "time") << std::right;
    for (uint32_t id : ids) {
        c.out << gap << (table ? std::setw(12) : std::setw(0)) << c.names.called(id);
    }
    c.out << "\n";
    for (size_t cell = 0; cell < grid.cells; ++cell) {
        const int64_t t = grid.from + grid.step * static_cast<int64_t>(cell);
        c.out << (table ? tools::table_time(t, utc) : std::to_string(t));
        for (const Column& column : columns) {
            c.out << gap << (table ? std::setw(12) : std::setw(0))
                  << column.text(cell).value_or(table ? "-" : "");
        }
        c.out << "\n";
    }
}

}  // namespace

int64_t default_step(int64_t from, int64_t to) {
    const int64_t minutes = (std::max<int64_t>(to - from, 1) + 500 * 60 - 1) / (500 * 60);
    return std::max<int64_t>(minutes, 1) * 60;
}

void write_aligned(Context& c, const std::vector<uint32_t>& ids, const Grid& grid,
                   tools::Format format, bool utc) {
    std::vector<Column> columns;
    columns.reserve(ids.size());
    for (uint32_t id : ids) {
        columns.push_back(column_of(c, id, grid));
    }
    if (format == tools::Format::json) {
        return write_json(c, ids, columns, grid);
    }
    write_rows(c, ids, columns, grid, format, utc);
}

}  // namespace tsdbctl
